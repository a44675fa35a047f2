#include "hex.h"

namespace {

const char lower[] = "0123456789abcdef";
const char upper[] = "0123456789ABCDEF";

}  // namespace

void writeHexBytes(char* text, const unsigned char* bytes, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    *text++ = lower[bytes[i] >> 4];
    *text++ = lower[bytes[i] & 0xF];
  }
  *text = '\0';
}

bool readHexBytes(const char* digits, unsigned char* bytes, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    int high = hexValue(digits[2 * i]);
    int low = high < 0 ? -1 : hexValue(digits[2 * i + 1]);
    if (low < 0) return false;
    bytes[i] = static_cast<unsigned char>(high * 16 + low);
  }
  return true;
}

void writeHexWord(char* text, uint32_t value) {
  for (int i = 7; i >= 0; --i, value >>= 4) text[i] = upper[value & 0xF];
  text[8] = '\0';
}

bool readHexWord(const char* digits, uint32_t* value) {
  uint32_t read = 0;
  for (int i = 0; i < 8; ++i) {
    int digit = hexValue(digits[i]);
    if (digit < 0) return false;
    read = read << 4 | static_cast<uint32_t>(digit);
  }
  *value = read;
  return true;
}
