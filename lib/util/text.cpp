#include <zorvik/text.h>

long bytesToWide(wchar_t* out, const char* in, size_t room) {
  size_t i = 0;
  for (;; ++i) {
    if (i >= room) return -1;
    unsigned char c = static_cast<unsigned char>(in[i]);
    out[i] = static_cast<wchar_t>(c);
    if (c == 0) return static_cast<long>(i);
  }
}

long wideToBytes(char* out, const wchar_t* in, size_t room) {
  size_t i = 0;
  for (;; ++i) {
    if (i >= room) return -1;
    wchar_t c = in[i];
    if (c < 0 || c > 0xFF) return -1;
    out[i] = static_cast<char>(c);
    if (c == 0) return static_cast<long>(i);
  }
}
