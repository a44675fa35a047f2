#include "text.h"

const char* shownBytes(char* out, size_t room, const wchar_t* in) {
  size_t i = 0;
  for (; i + 1 < room && in[i] != L'\0'; ++i) {
    wchar_t c = in[i];
    out[i] = c > 0 && c <= 0xFF ? static_cast<char>(c) : '?';
  }
  out[i] = '\0';
  return out;
}

namespace {

bool isControl(unsigned char c) { return (c >= 0x01 && c <= 0x1F && c != '\t') || c == 0x7F; }

}  // namespace

bool needsEscape(const char* name, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    if (isControl(static_cast<unsigned char>(name[i]))) return true;
  }
  return false;
}

size_t escapedByte(char* out, char c) {
  unsigned char byte = static_cast<unsigned char>(c);
  size_t length = 2;
  out[0] = '\\';
  switch (c) {
    case '\\': out[1] = '\\'; break;
    case '\n': out[1] = 'n'; break;
    case '\r': out[1] = 'r'; break;
    default:
      if (!isControl(byte)) {
        out[0] = c;
        length = 1;
      } else {
        const char digits[] = "0123456789abcdef";
        out[1] = 'x';
        out[2] = digits[byte >> 4];
        out[3] = digits[byte & 0xF];
        length = 4;
      }
  }
  out[length] = '\0';
  return length;
}
