// The type of a list whose name tells nothing, from its first entry line.
#include <sys/stat.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <zorvik/container.h>
#include <zorvik/error.h>
#include <zorvik/text.h>

#include "digest_line.h"
#include "lines.h"
#include "list_text.h"

namespace {

constexpr int sfvType = -1;

// The algorithm a GNU line of `digits` hexadecimal digits is taken for:
// the lengths of two algorithms (MD5 and XXH128, SHA-512 and BLAKE2b) go
// to the one whose lists are met more often.
int byDigits(size_t digits) {
  switch (digits) {
    case 32: return engine::md5;
    case 40: return engine::sha1;
    case 64: return engine::sha256;
    case 128: return engine::sha512;
    case 16: return engine::xxh64;
    default: return sfvType;
  }
}

// The type an entry line tells.
int typeOf(const char* line, size_t length, bool* byLength) {
  size_t count;
  const digest_form* forms = digestForms(&count);
  for (size_t i = 0; i < count; ++i)
    if (isTaggedLine(line, length, forms[i])) return forms[i].algorithm;
  int algorithm = byDigits(gnuDigits(line, length));
  *byLength = algorithm != sfvType;
  return algorithm;
}

}  // namespace

int container::guessType(const wchar_t* path, int* algorithm, bool* byLength) {
  if (path == nullptr || algorithm == nullptr || byLength == nullptr) return error::invalid_arguments;
  *algorithm = sfvType;
  *byLength = false;
  char name[PATH_MAX];
  if (wideToBytes(name, path, sizeof name) < 0) return error::file_not_found;
  // What is read from a pipe would be gone for the run that reads the list
  // after this; a pipe, a device or a directory is taken for SFV.
  struct stat status;
  if (stat(name, &status) != 0) return error::translate_errno();
  if (!S_ISREG(status.st_mode)) return error::ok;
  FILE* file = fopen(name, "r");
  if (file == nullptr) return error::translate_errno();
  char* line = nullptr;
  size_t room = 0;
  unsigned long lines = 0;
  unsigned char wrapping = listStart;
  long read;
  // SFV comments are passed over too: the first entry line decides.
  while ((read = readWholeLine(file, &line, &room, &lines)) > 0) {
    size_t length = static_cast<size_t>(read);
    char* text = listEntryText(&wrapping, line, &length, true);
    if (text != nullptr) {
      *algorithm = typeOf(text, length, byLength);
      break;
    }
  }
  free(line);
  fclose(file);
  return read < 0 ? static_cast<int>(read) : error::ok;
}
