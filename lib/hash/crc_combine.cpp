// Joining CRC-32s: the CRC of A followed by B from the CRCs of A and B and
// B's length, so that pieces of one file can be hashed apart. Works in
// GF(2)[x] modulo the CRC polynomial, with the reflected bit order of the
// register (bit 31 is x^0).
#include "hash/crc_impl.h"

namespace zorvik {

namespace {

constexpr uint32_t polynomial = 0xEDB88320;
constexpr uint32_t one = 0x80000000;  // x^0

// a(x) * b(x) modulo the polynomial.
constexpr uint32_t multiply(uint32_t a, uint32_t b) {
  uint32_t product = 0;
  for (uint32_t bit = one; bit != 0; bit >>= 1) {
    if ((a & bit) != 0) product ^= b;
    b = (b & 1) != 0 ? (b >> 1) ^ polynomial : b >> 1;  // b *= x
  }
  return product;
}

// x^(2^k) modulo the polynomial, for k = 0..63.
struct powers {
  uint32_t of[64];
  constexpr powers() : of{} {
    of[0] = one >> 1;  // x^1
    for (int k = 1; k < 64; ++k) of[k] = multiply(of[k - 1], of[k - 1]);
  }
};
constexpr powers squares;

// x^(8n): appending n zero bytes.
uint32_t shiftFor(unsigned long long bytes) {
  uint32_t result = one;
  for (int k = 3; bytes != 0; bytes >>= 1, ++k)
    if ((bytes & 1) != 0) result = multiply(squares.of[k & 63], result);
  return result;
}

}  // namespace

uint32_t crcCombine(uint32_t first, uint32_t second, unsigned long long secondLength) {
  return multiply(shiftFor(secondLength), first) ^ second;
}

}  // namespace zorvik
