#include <bit>
#include <cstring>

#include "hash/md5_transform.h"

static_assert(std::endian::native == std::endian::little);

namespace zorvik {

namespace {

inline uint32_t word(const unsigned char* block, int n) {
  uint32_t w;
  std::memcpy(&w, block + 4 * n, 4);
  return w;
}

// The round functions are written so that b, the value the previous step
// just produced, enters as late as possible: everything that depends only on
// a, c, d, the message word and the constant is summed first.

// F = (b & c) | (~b & d), as d ^ (b & (c ^ d)).
inline void stepF(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t xk, int s) {
  a += xk;
  a += d ^ (b & (c ^ d));
  a = b + std::rotl(a, s);
}

// G = (b & d) | (c & ~d); the two terms share no bit, so they add, and
// c & ~d does not wait for b.
inline void stepG(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t xk, int s) {
  a += xk;
  a += c & ~d;
  a += b & d;
  a = b + std::rotl(a, s);
}

inline void stepH(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t xk, int s) {
  a += xk;
  a += (c ^ d) ^ b;
  a = b + std::rotl(a, s);
}

// I = c ^ (b | ~d); ~d does not wait for b.
inline void stepI(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t xk, int s) {
  a += xk;
  a += c ^ (b | ~d);
  a = b + std::rotl(a, s);
}

}  // namespace

void md5Transform(uint32_t state[4], const unsigned char* data, size_t blocks) {
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  for (; blocks != 0; --blocks, data += 64) {
    const unsigned char* x = data;  // words are read straight from the input
    const uint32_t aa = a, bb = b, cc = c, dd = d;

    // Round 1
    stepF(a, b, c, d, word(x, 0) + 0xd76aa478, 7);
    stepF(d, a, b, c, word(x, 1) + 0xe8c7b756, 12);
    stepF(c, d, a, b, word(x, 2) + 0x242070db, 17);
    stepF(b, c, d, a, word(x, 3) + 0xc1bdceee, 22);
    stepF(a, b, c, d, word(x, 4) + 0xf57c0faf, 7);
    stepF(d, a, b, c, word(x, 5) + 0x4787c62a, 12);
    stepF(c, d, a, b, word(x, 6) + 0xa8304613, 17);
    stepF(b, c, d, a, word(x, 7) + 0xfd469501, 22);
    stepF(a, b, c, d, word(x, 8) + 0x698098d8, 7);
    stepF(d, a, b, c, word(x, 9) + 0x8b44f7af, 12);
    stepF(c, d, a, b, word(x, 10) + 0xffff5bb1, 17);
    stepF(b, c, d, a, word(x, 11) + 0x895cd7be, 22);
    stepF(a, b, c, d, word(x, 12) + 0x6b901122, 7);
    stepF(d, a, b, c, word(x, 13) + 0xfd987193, 12);
    stepF(c, d, a, b, word(x, 14) + 0xa679438e, 17);
    stepF(b, c, d, a, word(x, 15) + 0x49b40821, 22);

    // Round 2
    stepG(a, b, c, d, word(x, 1) + 0xf61e2562, 5);
    stepG(d, a, b, c, word(x, 6) + 0xc040b340, 9);
    stepG(c, d, a, b, word(x, 11) + 0x265e5a51, 14);
    stepG(b, c, d, a, word(x, 0) + 0xe9b6c7aa, 20);
    stepG(a, b, c, d, word(x, 5) + 0xd62f105d, 5);
    stepG(d, a, b, c, word(x, 10) + 0x02441453, 9);
    stepG(c, d, a, b, word(x, 15) + 0xd8a1e681, 14);
    stepG(b, c, d, a, word(x, 4) + 0xe7d3fbc8, 20);
    stepG(a, b, c, d, word(x, 9) + 0x21e1cde6, 5);
    stepG(d, a, b, c, word(x, 14) + 0xc33707d6, 9);
    stepG(c, d, a, b, word(x, 3) + 0xf4d50d87, 14);
    stepG(b, c, d, a, word(x, 8) + 0x455a14ed, 20);
    stepG(a, b, c, d, word(x, 13) + 0xa9e3e905, 5);
    stepG(d, a, b, c, word(x, 2) + 0xfcefa3f8, 9);
    stepG(c, d, a, b, word(x, 7) + 0x676f02d9, 14);
    stepG(b, c, d, a, word(x, 12) + 0x8d2a4c8a, 20);

    // Round 3
    stepH(a, b, c, d, word(x, 5) + 0xfffa3942, 4);
    stepH(d, a, b, c, word(x, 8) + 0x8771f681, 11);
    stepH(c, d, a, b, word(x, 11) + 0x6d9d6122, 16);
    stepH(b, c, d, a, word(x, 14) + 0xfde5380c, 23);
    stepH(a, b, c, d, word(x, 1) + 0xa4beea44, 4);
    stepH(d, a, b, c, word(x, 4) + 0x4bdecfa9, 11);
    stepH(c, d, a, b, word(x, 7) + 0xf6bb4b60, 16);
    stepH(b, c, d, a, word(x, 10) + 0xbebfbc70, 23);
    stepH(a, b, c, d, word(x, 13) + 0x289b7ec6, 4);
    stepH(d, a, b, c, word(x, 0) + 0xeaa127fa, 11);
    stepH(c, d, a, b, word(x, 3) + 0xd4ef3085, 16);
    stepH(b, c, d, a, word(x, 6) + 0x04881d05, 23);
    stepH(a, b, c, d, word(x, 9) + 0xd9d4d039, 4);
    stepH(d, a, b, c, word(x, 12) + 0xe6db99e5, 11);
    stepH(c, d, a, b, word(x, 15) + 0x1fa27cf8, 16);
    stepH(b, c, d, a, word(x, 2) + 0xc4ac5665, 23);

    // Round 4
    stepI(a, b, c, d, word(x, 0) + 0xf4292244, 6);
    stepI(d, a, b, c, word(x, 7) + 0x432aff97, 10);
    stepI(c, d, a, b, word(x, 14) + 0xab9423a7, 15);
    stepI(b, c, d, a, word(x, 5) + 0xfc93a039, 21);
    stepI(a, b, c, d, word(x, 12) + 0x655b59c3, 6);
    stepI(d, a, b, c, word(x, 3) + 0x8f0ccc92, 10);
    stepI(c, d, a, b, word(x, 10) + 0xffeff47d, 15);
    stepI(b, c, d, a, word(x, 1) + 0x85845dd1, 21);
    stepI(a, b, c, d, word(x, 8) + 0x6fa87e4f, 6);
    stepI(d, a, b, c, word(x, 15) + 0xfe2ce6e0, 10);
    stepI(c, d, a, b, word(x, 6) + 0xa3014314, 15);
    stepI(b, c, d, a, word(x, 13) + 0x4e0811a1, 21);
    stepI(a, b, c, d, word(x, 4) + 0xf7537e82, 6);
    stepI(d, a, b, c, word(x, 11) + 0xbd3af235, 10);
    stepI(c, d, a, b, word(x, 2) + 0x2ad7d2bb, 15);
    stepI(b, c, d, a, word(x, 9) + 0xeb86d391, 21);

    a += aa;
    b += bb;
    c += cc;
    d += dd;
  }
  state[0] = a;
  state[1] = b;
  state[2] = c;
  state[3] = d;
}

}  // namespace zorvik
