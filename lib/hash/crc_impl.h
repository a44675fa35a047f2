#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// The CRC-32 variants. Each takes and returns the raw register: the
// 0xFFFFFFFF conditioning belongs to CRC-32's registry entry
// (crc_algorithm.cpp) only. All variants give the same register for every
// input.
namespace zorvik {

using crcUpdateFn = uint32_t (*)(uint32_t reg, const unsigned char* data, size_t length);

// The table-driven reference: byte steps, or 32-bit word steps when both
// `data` and `length` are multiples of 4. Always built.
uint32_t crcUpdatePortable(uint32_t reg, const unsigned char* data, size_t length);

#if ZORVIK_HAVE_CLMUL
// PCLMULQDQ folding; needs canUseClmul().
uint32_t crcUpdateClmul(uint32_t reg, const unsigned char* data, size_t length);
#endif
#if ZORVIK_HAVE_VPCLMUL
// VPCLMULQDQ folding over 512-bit registers; needs canUseVpclmul().
uint32_t crcUpdateVpclmul(uint32_t reg, const unsigned char* data, size_t length);
#endif

struct crcVariant {
  const char* name;
  crcUpdateFn update;
  bool (*available)();
};

// Every variant built into this library, slowest first. The dispatcher takes
// the last available one; tests and benchmarks walk them all.
std::span<const crcVariant> crcVariants();

// The fastest variant this CPU runs, chosen on the first call.
uint32_t crcUpdate(uint32_t reg, const unsigned char* data, size_t length);

// The finished CRC-32 of A followed by B, from the finished CRC-32s of A and
// of B and B's length in bytes.
uint32_t crcCombine(uint32_t first, uint32_t second, unsigned long long secondLength);

}  // namespace zorvik
