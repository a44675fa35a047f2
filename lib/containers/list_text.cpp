#include "list_text.h"

#include <cstring>

namespace {

// Whether `line` is `text`, a carriage return after it allowed.
bool isLine(const char* line, size_t length, const char* text) {
  size_t textLength = strlen(text);
  if (length == textLength + 1 && line[textLength] == '\r') --length;
  return length == textLength && memcmp(line, text, length) == 0;
}

// Moves `*wrapping` on over a line of the wrapping: true for such a line,
// false for one that belongs to the list (`*line` and `*length` then
// without the dash escape of the signed text).
bool wrappingLine(unsigned char* wrapping, char** line, size_t* length) {
  switch (*wrapping) {
    case listStart:
      *wrapping = isLine(*line, *length, "-----BEGIN PGP SIGNED MESSAGE-----") ? listHeaders : listPlain;
      return *wrapping == listHeaders;
    case listHeaders:
      if (strncmp(*line, "Hash:", 5) == 0) return true;
      *wrapping = listSigned;
      // The empty line that ends the headers, when it ends in CR LF.
      if (isLine(*line, *length, "")) return true;
      [[fallthrough]];
    case listSigned:
      if (isLine(*line, *length, "-----BEGIN PGP SIGNATURE-----")) {
        *wrapping = listSignature;
        return true;
      }
      if (*length >= 2 && (*line)[0] == '-' && (*line)[1] == ' ') {
        *line += 2;
        *length -= 2;
      }
      return false;
    case listSignature:
      if (isLine(*line, *length, "-----END PGP SIGNATURE-----")) *wrapping = listPlain;
      return true;
    default:
      return false;
  }
}

}  // namespace

char* listEntryText(unsigned char* wrapping, char* line, size_t* length, bool semicolons) {
  if (wrappingLine(wrapping, &line, length)) return nullptr;
  if (*length > 0 && line[*length - 1] == '\r') line[--*length] = '\0';
  if (*length == 0 || line[0] == '#' || (semicolons && line[0] == ';')) return nullptr;
  return line;
}
