// Adding entries to an existing checksum file. The file is read as a verify
// run reads it, to know the names it lists, and kept as it was; close()
// writes it anew with the new lines where they belong: comments after the
// comments before the first entry (SFV), entries after the entries and
// before the verification record, which stays the last lines. A record
// bound to the entry lines is bound to the new ones, so it keeps vouching.
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include <zorvik/container.h>
#include <zorvik/error.h>
#include <zorvik/text.h>

#include "output.h"
#include "record_format.h"
#include "replace.h"

namespace {

// Room for one listed name, in characters: far beyond any path.
constexpr int nameRoom = 8192;

int compareNames(const void* a, const void* b) {
  return strcmp(*static_cast<char* const*>(a), *static_cast<char* const*>(b));
}

void freeNames(char** names, size_t count) {
  for (size_t i = 0; i < count; ++i) free(names[i]);
  free(names);
}

// The whole file at `name`, or null.
char* readWhole(const char* name, size_t* length) {
  FILE* file = fopen(name, "rb");
  if (file == nullptr) return nullptr;
  char* bytes = nullptr;
  size_t room = 0;
  *length = 0;
  for (;;) {
    if (*length == room) {
      room = room == 0 ? 65536 : room * 2;
      char* bigger = static_cast<char*>(realloc(bytes, room));
      if (bigger == nullptr) break;
      bytes = bigger;
    }
    size_t got = fread(bytes + *length, 1, room - *length, file);
    *length += got;
    if (got == 0) break;
  }
  bool failed = ferror(file) != 0 || *length == room;
  fclose(file);
  if (failed) {
    free(bytes);
    return nullptr;
  }
  return bytes;
}

// Where lines of the old file stand.
struct layout {
  size_t firstEntry;     // the first entry line, or the end
  size_t record;         // the first record line, or the end
  size_t binding = 0;    // the first binding line (";R3-"), when there is one
  bool bound = false;
  bool entriesAfterRecord = false;
};

bool isEntry(const char* line, size_t length) { return length > 0 && line[0] != ';'; }

layout layoutOf(const char* text, size_t length) {
  layout where{length, length};
  for (size_t at = 0; at < length;) {
    const char* end = static_cast<const char*>(memchr(text + at, '\n', length - at));
    size_t lineLength = end != nullptr ? static_cast<size_t>(end - (text + at)) : length - at;
    const char* line = text + at;
    if (isRecordLine(line, lineLength)) {
      if (where.record == length) where.record = at;
      if (line[2] == '3' && !where.bound) {
        where.bound = true;
        where.binding = at;
      }
    } else if (isEntry(line, lineLength)) {
      if (where.firstEntry == length) where.firstEntry = at;
      if (where.record != length) where.entriesAfterRecord = true;
    }
    at += lineLength + 1;
  }
  return where;
}

// Appends `length` bytes to the growing `out`; false without memory.
bool append(FILE* out, const char* bytes, size_t length) {
  return length == 0 || fwrite(bytes, 1, length, out) == length;
}

// Appends `bytes`, on a line of their own.
bool insert(FILE* out, const char* before, size_t beforeLength, const char* bytes, size_t length) {
  if (length == 0) return true;
  if (beforeLength > 0 && before[beforeLength - 1] != '\n' && fputc('\n', out) == EOF) return false;
  return append(out, bytes, length);
}

// The binding line of `text` bound to its entry lines as they now are.
void rebind(char* text, size_t length, size_t binding) {
  MD5_CTX entries;
  MD5Init(&entries);
  for (size_t at = 0; at < length;) {
    const char* end = static_cast<const char*>(memchr(text + at, '\n', length - at));
    size_t lineLength = end != nullptr ? static_cast<size_t>(end - (text + at)) : length - at;
    if (isEntry(text + at, lineLength)) digestEntry(&entries, text + at, lineLength);
    at += lineLength + 1;
  }
  unsigned char digest[16];
  MD5Final(digest, &entries);
  char line[80] = {};
  const char* payload = text + binding + 4;
  const char* end = static_cast<const char*>(memchr(payload, '\n', length - binding - 4));
  size_t lineLength = end != nullptr ? static_cast<size_t>(end - payload) : length - binding - 4;
  if (lineLength >= sizeof line) return;
  memcpy(line, payload, lineLength);
  unsigned char old[16];
  unsigned long long device, inode;
  if (!readBinding(line, old, &device, &inode)) return;
  writeBinding(line, digest, device, inode);
  memcpy(text + binding + 4, line, 32);  // the digest alone changes
}

}  // namespace

int container::update(const wchar_t* path) {
  char name[PATH_MAX];
  struct stat status;
  if (path == nullptr) return error::invalid_arguments;
  if (wideToBytes(name, path, sizeof name) < 0) return error::file_not_found;
  // Locked before it is read: a run updating it meanwhile is waited for,
  // and what it wrote is read. The lock stays for the create() that
  // follows when there is no list yet.
  int code = lockForWriting(name);
  if (code != error::ok) return code;
  if (stat(name, &status) != 0 || !S_ISREG(status.st_mode)) return error::file_not_found;
  code = open(path);
  char** names = nullptr;
  size_t count = 0, room = 0;
  auto* entry = static_cast<wchar_t*>(malloc(nameRoom * sizeof(wchar_t)));
  auto* bytes = static_cast<char*>(malloc(nameRoom));
  if (entry == nullptr || bytes == nullptr) code = error::unknown_error;
  while (code == error::ok) {
    unsigned long long size;
    unsigned char hash[64];
    int read = getNextFile(entry, nameRoom, &size, hash);
    if (read == 0) break;
    if (read == error::invalid_line) continue;
    if (read < 0) {
      code = read;
      break;
    }
    if (count == room) {
      room = room == 0 ? 1024 : room * 2;
      auto** bigger = static_cast<char**>(realloc(names, room * sizeof(char*)));
      if (bigger == nullptr) {
        code = error::unknown_error;
        break;
      }
      names = bigger;
    }
    names[count] = wideToBytes(bytes, entry, nameRoom) >= 0 ? strdup(bytes) : nullptr;
    if (names[count] != nullptr) ++count;
  }
  free(entry);
  free(bytes);
  restart();  // the reading ends here; the record in the file stays
  size_t oldLength = 0;
  char* old = code == error::ok ? readWhole(name, &oldLength) : nullptr;
  if (old == nullptr) {
    freeNames(names, count);
    return code != error::ok ? code : error::translate_errno();
  }
  qsort(names, count, sizeof(char*), compareNames);
  _old = old;
  _oldLength = oldLength;
  _names = names;
  _nameCount = count;
  _mode = 1;
  _file = openReplacement(name, _guard, &_replacement);
  if (_file == nullptr) {
    code = error::translate_errno();
    forgetUpdate();
    return code;
  }
  return error::ok;
}

bool container::listed(const char* name) const {
  return _names != nullptr && bsearch(&name, _names, _nameCount, sizeof(char*), compareNames) != nullptr;
}

void container::forgetUpdate() {
  free(_old);
  _old = nullptr;
  _oldLength = 0;
  freeNames(_names, _nameCount);
  _names = nullptr;
  _nameCount = 0;
}

int container::finishUpdate(int passes,
                            int (*line)(FILE* file, const processed_file& entry, int pass)) {
  char* added[2] = {nullptr, nullptr};
  size_t addedLength[2] = {0, 0};
  char* text = nullptr;
  size_t length = 0;
  int code = _failure;
  for (int pass = 0; pass < passes && code == error::ok; ++pass) {
    FILE* lines = open_memstream(&added[pass], &addedLength[pass]);
    if (lines == nullptr) code = error::unknown_error;
    for (processed_file* e = _head; e != nullptr && code == error::ok; e = e->next)
      code = e->path == nullptr ? error::from_errno(EILSEQ) : line(lines, *e, pass);
    if (lines != nullptr && fclose(lines) != 0 && code == error::ok) code = error::unknown_error;
  }
  if (code == error::ok) {
    // Comments (SFV's first pass) before the first entry; entries before
    // the record, or at the end.
    layout where = layoutOf(_old, _oldLength);
    size_t comments = passes == 2 ? (where.firstEntry < where.record ? where.firstEntry : where.record) : 0;
    size_t entries = where.record;
    FILE* out = open_memstream(&text, &length);
    bool ok = out != nullptr && append(out, _old, comments) &&
              (passes < 2 || insert(out, _old, comments, added[0], addedLength[0])) &&
              append(out, _old + comments, entries - comments) &&
              insert(out, _old, entries, added[passes - 1], addedLength[passes - 1]) &&
              append(out, _old + entries, _oldLength - entries);
    if (out != nullptr && fclose(out) != 0) ok = false;
    if (!ok) code = error::unknown_error;
    // A record with entries after it would have its bits shifted: left
    // bound to the old lines, it vouches for none of them.
    if (ok && where.bound && !where.entriesAfterRecord) {
      size_t shift = length - _oldLength;
      rebind(text, length, where.binding + shift);
    }
  }
  free(added[0]);
  free(added[1]);
  errno = 0;
  if (code == error::ok && !append(_file, text, length)) code = writeFailure();
  free(text);
  forgetUpdate();
  return endCreate(code);
}
