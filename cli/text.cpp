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
