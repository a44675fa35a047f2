#include <cerrno>
#include <cstdlib>
#include <climits>
#include <cstring>
#include <cwchar>

#include <zorvik/container.h>
#include <zorvik/error.h>
#include <zorvik/text.h>

#include "lines.h"
#include "list_format.h"
#include "list_lock.h"
#include "list_text.h"
#include "output.h"
#include "pending.h"
#include "replace.h"
#include "ticks.h"
#include "util/new_file.h"

container::container()
    : _file(nullptr), _head(nullptr), _tail(&_head), _mode(0), _line(nullptr), _lineRoom(0),
      _failure(error::ok), _seen(false), _seenSize(0), _seenTime(0), _replacement(nullptr),
      _old(nullptr), _oldLength(0), _names(nullptr),
      _nameCount(0), _guard(nullptr), _lineNumber(0), _wrapping(listStart) {}

container::~container() {
  restart();
  free(_line);
  deleteGuard(_guard);
}

// The lock on the list stays: an update reads the list, restarts, and then
// writes it, all under one lock.
void container::restart() {
  if (_file != nullptr) {
    fclose(_file);
    _file = nullptr;
  }
  // A new file never closed is not the list: the old one stays.
  discardReplacement(&_replacement);
  forgetUpdate();
  releasePending(_head);
  _head = nullptr;
  _tail = &_head;
  _failure = error::ok;
  _lineNumber = 0;
  _wrapping = listStart;
}

void container::discardTemporaries() { dropAllNewFiles(); }

bool container::writingStatus(struct stat* status) const {
  return _file != nullptr && _mode == 1 && fileno(_file) >= 0 && fstat(fileno(_file), status) == 0;
}

list_guard* container::guard() {
  if (_guard == nullptr) _guard = newGuard();
  return _guard;
}

int container::lockForWriting(const char* name) {
  list_guard* held = guard();
  if (held == nullptr) return error::from_errno(ENOMEM);
  return lockList(held, name);
}

void container::watchOpened(const char* name, const struct stat& status) {
  if (list_guard* held = guard()) watchList(held, name, status);
}

bool container::holdsEntries(const wchar_t* path) {
  char name[PATH_MAX];
  struct stat status;
  // A pipe or a terminal would wait for input, a device never end.
  if (path == nullptr || wideToBytes(name, path, sizeof name) < 0 || stat(name, &status) != 0 ||
      !S_ISREG(status.st_mode))
    return false;
  FILE* file = fopen(name, "r");
  if (file == nullptr) return false;
  // Text holds no NUL: a disk image or an archive is told at its start,
  // without reading it all.
  char head[65536];
  size_t got = fread(head, 1, sizeof head, file);
  bool found = false;
  if (memchr(head, '\0', got) == nullptr && fseek(file, 0, SEEK_SET) == 0) {
    FILE* reading = _file;
    unsigned char wrapping = _wrapping;
    _file = file;
    _wrapping = listStart;
    wchar_t entry[4096];
    unsigned long long size;
    unsigned char hash[64];
    int read;
    while ((read = getNextFile(entry, 4096, &size, hash)) == error::invalid_line) {
    }
    found = read > 0;
    _file = reading;
    _wrapping = wrapping;
  }
  fclose(file);
  return found;
}

int container::lockFailure() const { return _guard != nullptr ? _guard->refused : 0; }

const char* container::keptCopy() const {
  return _guard != nullptr && _guard->kept[0] != '\0' ? _guard->kept : nullptr;
}

int container::beginCreate(const wchar_t* path, bool compatibility) {
  int code = beginList(path);
  return code != error::ok ? code : writeHeader(_file, compatibility, &_failure);
}

int container::beginList(const wchar_t* path) {
  restart();
  _mode = 1;
  if (path == nullptr) return error::invalid_arguments;
  char name[PATH_MAX];
  if (wideToBytes(name, path, sizeof name) < 0) {
    errno = wcslen(path) >= sizeof name ? ENAMETOOLONG : EILSEQ;
    return error::translate_errno();
  }
  int code = lockForWriting(name);
  if (code != error::ok) return code;
  _file = openReplacement(name, _guard, &_replacement);
  if (_file == nullptr) {
    code = error::translate_errno();
    unlockList(_guard);
    return code;
  }
  return error::ok;
}

int container::addSeenFile(const wchar_t* path, const void* hash, unsigned long long size,
                           const struct timespec& modified) {
  _seen = true;
  _seenSize = size;
  _seenTime = ticksOf(modified);
  int code = addFile(path, hash);
  _seen = false;
  return code;
}

int container::addSeenFile(const char* path, const void* hash, unsigned long long size,
                           const struct timespec& modified) {
  if (path == nullptr || hash == nullptr) return error::invalid_arguments;
  const list_format* format = formatOf(*this);
  if (format == nullptr) {
    // A class derived from a format adds its entries through its addFile().
    size_t length = strlen(path);
    auto* wide = static_cast<wchar_t*>(malloc((length + 1) * sizeof(wchar_t)));
    if (wide == nullptr) return error::unknown_error;
    bytesToWide(wide, path, length + 1);
    int code = addSeenFile(wide, hash, size, modified);
    free(wide);
    return code;
  }
  char text[sizeof(processed_file::hashText)];
  format->hashText(text, hash);
  processed_file* entry = newPendingEntry(path, text);
  if (entry != nullptr) {
    entry->size = size;
    entry->modifiedTime = ticksOf(modified);
  }
  return queue(entry);
}

int container::queue(processed_file* entry) {
  if (entry == nullptr) {
    if (_failure == error::ok) _failure = error::unknown_error;
    return error::unknown_error;
  }
  *_tail = entry;
  _tail = &entry->next;
  return error::ok;
}

int container::finishCreate(int passes,
                            int (*line)(FILE* file, const processed_file& entry, int pass)) {
  if (_mode != 1) {
    fclose(_file);
    _file = nullptr;
    return error::ok;
  }
  if (_old != nullptr) return finishUpdate(passes, line);
  int code = _failure;
  for (int pass = 0; pass < passes && code == error::ok; ++pass) {
    for (processed_file* entry = _head; entry != nullptr && code == error::ok; entry = entry->next) {
      // A name with a character no byte stands for cannot be written.
      code = entry->path == nullptr ? error::from_errno(EILSEQ) : line(_file, *entry, pass);
    }
  }
  return endCreate(code);
}

int container::endCreate(int code) {
  char unkept[1];
  char* kept = _guard != nullptr ? _guard->kept : unkept;
  size_t keptRoom = _guard != nullptr ? sizeof _guard->kept : sizeof unkept;
  if (code == error::ok) {
    code = commitReplacement(&_file, &_replacement, kept, keptRoom);
  } else {
    fclose(_file);
    _file = nullptr;
    discardReplacement(&_replacement);
  }
  // The new list is in place (or the old one stays): the next run may go.
  if (_guard != nullptr) unlockList(_guard);
  return code;
}

int container::readFileString(wchar_t* buffer, int length) {
  if (_file == nullptr) return error::file_not_found;
  // A room of one character could never take a byte and would loop forever.
  if (buffer == nullptr || length < 2) return error::invalid_arguments;
  for (;;) {
    // Bytes are widened a chunk at a time; a NUL ends the text as it would in
    // a C string, but the line is still consumed up to its line feed.
    char chunk[256];
    size_t chunkLength = 0, read = 0, written = 0;
    bool ended = false, lineFeed = false;
    int c = 0;
    auto flush = [&] {
      chunk[chunkLength] = '\0';
      if (!ended) {
        long n = bytesToWide(buffer + written, chunk, chunkLength + 1);
        written += static_cast<size_t>(n);
        ended = static_cast<size_t>(n) < chunkLength;
      }
      chunkLength = 0;
    };
    errno = 0;
    while (read < static_cast<size_t>(length) - 1 && (c = getc(_file)) != EOF) {
      ++read;
      chunk[chunkLength++] = static_cast<char>(c);
      if (c == '\n') {
        lineFeed = true;
        break;
      }
      if (chunkLength == sizeof chunk - 1) flush();
    }
    flush();
    buffer[written] = L'\0';
    if (read == 0) {
      if (ferror(_file)) return errno != 0 ? error::translate_errno() : error::file_read_error;
      return 0;
    }
    if (lineFeed && written > 0 && buffer[written - 1] == L'\n') buffer[--written] = L'\0';
    if (written > 0) return static_cast<int>(written);
  }
}

unsigned long container::lineNumber() const { return _lineNumber; }

long container::readLine() {
  if (_file == nullptr) return error::file_not_found;
  return readWholeLine(_file, &_line, &_lineRoom, &_lineNumber);
}

long container::readEntryLine() {
  long read;
  do {
    read = readLine();
    if (read <= 0) return read;
  } while (_line[0] == ';');
  // No name holds a NUL: a line with one names no file that could be checked.
  if (strlen(_line) != static_cast<size_t>(read)) return error::invalid_line;
  return read;
}

long container::readListLine(bool semicolons, char** text, size_t* length) {
  for (;;) {
    long read = readLine();
    if (read <= 0) return read;
    *length = static_cast<size_t>(read);
    *text = listEntryText(&_wrapping, _line, length, semicolons);
    if (*text == nullptr) continue;
    if (strlen(*text) != *length) return error::invalid_line;
    return read;
  }
}
