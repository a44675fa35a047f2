#include "list_format.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <typeinfo>

#include <zorvik/error.h>

const list_format* formatOf(const container& list) {
  if (typeid(list) == typeid(sfv)) return &sfvFormat;
  if (typeid(list) == typeid(md5)) return &md5Format;
  return nullptr;
}

namespace {

// Whether the wide `name` is `length` bytes of `path`, widened.
bool sameName(const wchar_t* name, const char* path, size_t length) {
  for (size_t i = 0; i < length; ++i)
    if (name[i] != static_cast<wchar_t>(static_cast<unsigned char>(path[i]))) return false;
  return name[length] == L'\0';
}

// Whether every format reads `path` back from its entry line as written:
// printable ASCII without a backslash, no blank at either end, and no
// first byte a reader could take for a comment, a quote or a mode. Other
// names are tried.
bool plainName(const char* path, size_t length) {
  if (strchr(";#*\" ", path[0]) != nullptr || path[length - 1] == ' ') return false;
  for (size_t i = 0; i < length; ++i) {
    unsigned char c = static_cast<unsigned char>(path[i]);
    if (c < 0x20 || c > 0x7e || c == '\\') return false;
  }
  return true;
}

}  // namespace

// The entry line close() would write for `path`, read back as a verify run
// reads it: the same name, or the format cannot carry it.
bool container::canList(const char* path) {
  const list_format* format = formatOf(*this);
  if (format == nullptr) return true;
  size_t length = path != nullptr ? strlen(path) : 0;
  if (length == 0 || length >= INT_MAX) return false;
  if (plainName(path, length)) return true;
  processed_file entry{};
  entry.path = const_cast<char*>(path);
  const unsigned char hash[64] = {};
  format->hashText(entry.hashText, hash);
  char* line = nullptr;
  size_t lineLength = 0;
  FILE* written = open_memstream(&line, &lineLength);
  if (written == nullptr) return false;
  bool ok = format->line(written, entry, format->passes - 1) == error::ok;
  ok = fclose(written) == 0 && ok;
  FILE* reading = ok ? fmemopen(line, lineLength, "r") : nullptr;
  auto* name = static_cast<wchar_t*>(malloc((length + 1) * sizeof(wchar_t)));
  bool same = false;
  if (reading != nullptr && name != nullptr) {
    FILE* listed = _file;
    unsigned long lines = _lineNumber;
    _file = reading;
    unsigned char read[64];
    same = getNextFile(name, static_cast<int>(length + 1), nullptr, read) > 0 && sameName(name, path, length);
    _file = listed;
    _lineNumber = lines;
  }
  if (reading != nullptr) fclose(reading);
  free(name);
  free(line);
  return same;
}
