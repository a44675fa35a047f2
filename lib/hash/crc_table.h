#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

// The word step reads four bytes as one little-endian number.
static_assert(std::endian::native == std::endian::little);

namespace zorvik {

// Entry n is the CRC of the single byte n, reflected, without pre- or
// post-inversion.
constexpr std::array<uint32_t, 256> makeCrcTable(uint32_t polynomial) {
  std::array<uint32_t, 256> table{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t reg = n;
    for (int bit = 0; bit < 8; ++bit)
      reg = (reg >> 1) ^ ((reg & 1) ? polynomial : 0);
    table[n] = reg;
  }
  return table;
}

// Constant-initialised, so it lands in read-only data, one copy for all.
inline constexpr std::array<uint32_t, 256> crcTable = makeCrcTable(0xEDB88320u);
static_assert(crcTable[1] == 0x77073096u && crcTable[255] == 0x2D02EF8Du);

inline uint32_t crcByteStep(uint32_t reg, unsigned char byte) {
  return (reg >> 8) ^ crcTable[(reg ^ byte) & 0xFF];
}

// Feeds bytes one at a time; the accelerated variants use it for short tails.
inline uint32_t crcBytes(uint32_t reg, const unsigned char* data, size_t length) {
  for (size_t i = 0; i < length; ++i) reg = crcByteStep(reg, data[i]);
  return reg;
}

}  // namespace zorvik
