// Adding entries to an existing checksum file. The file is read as a verify
// run reads it, to know the names it lists, and kept as it was; close()
// writes it anew with the new lines where they belong (update_layout.h).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include <zorvik/container.h>
#include <zorvik/error.h>
#include <zorvik/text.h>

#include "in_place.h"
#include "replace.h"
#include "update_layout.h"

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

// The names the list open in `list` holds, as bytes, in file order
// (invalid lines and names without bytes passed over): 0 with `*names`
// (`*count` of them), or a code with none.
int readNames(container& list, char*** names, size_t* count) {
  int code = error::ok;
  size_t room = 0;
  *names = nullptr;
  *count = 0;
  auto* entry = static_cast<wchar_t*>(malloc(nameRoom * sizeof(wchar_t)));
  auto* bytes = static_cast<char*>(malloc(nameRoom));
  if (entry == nullptr || bytes == nullptr) code = error::unknown_error;
  while (code == error::ok) {
    unsigned long long size;
    unsigned char hash[64];
    int read = list.getNextFile(entry, nameRoom, &size, hash);
    if (read == 0) break;
    if (read == error::invalid_line) continue;
    if (read < 0) {
      code = read;
      break;
    }
    if (*count == room) {
      room = room == 0 ? 1024 : room * 2;
      auto** bigger = static_cast<char**>(realloc(*names, room * sizeof(char*)));
      if (bigger == nullptr) {
        code = error::unknown_error;
        break;
      }
      *names = bigger;
    }
    (*names)[*count] = wideToBytes(bytes, entry, nameRoom) >= 0 ? strdup(bytes) : nullptr;
    if ((*names)[*count] != nullptr) ++*count;
  }
  free(entry);
  free(bytes);
  if (code != error::ok) {
    freeNames(*names, *count);
    *names = nullptr;
    *count = 0;
  }
  return code;
}

// The whole file at `name`, in `*bytes` (never null after 0) and
// `*length`: 0 or a code.
int readWhole(const char* name, char** bytes, size_t* length) {
  int descriptor = open(name, O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) return error::translate_errno();
  int code = readTail(descriptor, 0, bytes, length);
  close(descriptor);
  return code;
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
  size_t count = 0;
  if (code == error::ok) code = readNames(*this, &names, &count);
  restart();  // the reading ends here; the record in the file stays
  char* old = nullptr;
  size_t oldLength = 0;
  if (code == error::ok) code = readWhole(name, &old, &oldLength);
  if (code != error::ok) {
    freeNames(names, count);
    return code;
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
  if (code == error::ok &&
      !layOutUpdate(_old, _oldLength, passes == 2 ? added[0] : nullptr, passes == 2 ? addedLength[0] : 0,
                    added[passes - 1], addedLength[passes - 1], &text, &length))
    code = error::unknown_error;
  free(added[0]);
  free(added[1]);
  if (code == error::ok && length > 0)
    code = error::from_write([this, text, length] { return fwrite(text, 1, length, _file) == length; });
  free(text);
  forgetUpdate();
  return endCreate(code);
}
