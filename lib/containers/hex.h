#pragma once

#include <cstddef>
#include <cstdint>

// Hexadecimal text as the lists hold it: hash bytes in digest order as
// lower-case digit pairs (MD5 lists, the record's binding), a CRC-32 as the
// eight upper-case digits of its value (SFV). Digits of either case are read.

// The value of each byte as a hexadecimal digit, or -1: a lookup, since
// every entry line of a list is read through it, twice.
struct hex_digit_table {
  signed char values[256];
};
extern const hex_digit_table hexDigits;

// The value of one hexadecimal digit, or -1.
inline int hexValue(char c) { return hexDigits.values[static_cast<unsigned char>(c)]; }

// `count` bytes as 2 * `count` lower-case digits and a NUL, into `text`.
void writeHexBytes(char* text, const unsigned char* bytes, size_t count);
// `count` bytes from the 2 * `count` digits at `digits`; false at the first
// character that is no digit.
bool readHexBytes(const char* digits, unsigned char* bytes, size_t count);

// `value` as eight upper-case digits and a NUL, into `text`.
void writeHexWord(char* text, uint32_t value);
// The value of the eight digits at `digits`; false at the first character
// that is no digit.
bool readHexWord(const char* digits, uint32_t* value);
