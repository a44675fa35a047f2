#include "hex.h"

namespace {

const char lower[] = "0123456789abcdef";
const char upper[] = "0123456789ABCDEF";

constexpr hex_digit_table digitTable() {
  hex_digit_table table{};
  for (int c = 0; c < 256; ++c)
    table.values[c] = static_cast<signed char>(c >= '0' && c <= '9'   ? c - '0'
                                               : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                               : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                                      : -1);
  return table;
}

}  // namespace

constexpr hex_digit_table hexDigits = digitTable();

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
