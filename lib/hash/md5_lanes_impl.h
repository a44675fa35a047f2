#pragma once

#include <cstddef>
#include <cstdint>

#include "hash/md5_lanes.h"

// What the multi-buffer MD5 kernels share: the step constants, the round
// functions, and how a call is cut into stretches of equally busy lanes.
// Everything here is evaluated at compile time or instantiated with a type
// local to one kernel's file, so no code built for one instruction set can
// stand in for another's at link time.
namespace zorvik {

// RFC 1321, section 3.4: for each of the 64 steps, the sine-derived constant,
// the left rotation and the message word.
constexpr uint32_t md5K[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

constexpr int md5Shift(int step) {
  constexpr int shifts[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};
  return shifts[step / 16][step % 4];
}

constexpr int md5Word(int step) {
  switch (step / 16) {
    case 0: return step;
    case 1: return (1 + 5 * step) % 16;
    case 2: return (5 + 3 * step) % 16;
    default: return 7 * step % 16;
  }
}
static_assert(md5Word(19) == 0 && md5Word(35) == 14 && md5Word(63) == 9);

// The four state words take turns: step `step` updates word md5Role(step, 0)
// as its A, with words md5Role(step, 1..3) as B, C, D.
constexpr int md5Role(int step, int role) { return (role - step % 4 + 4) % 4; }

// The round functions as RFC 1321 defines them.
constexpr auto md5F = [](auto x, auto y, auto z) { return (x & y) | (~x & z); };
constexpr auto md5G = [](auto x, auto y, auto z) { return (x & z) | (y & ~z); };
constexpr auto md5H = [](auto x, auto y, auto z) { return x ^ y ^ z; };
constexpr auto md5I = [](auto x, auto y, auto z) { return y ^ (x | ~z); };

// vpternlogd's immediate for a bitwise function f of three operands: bit
// 4a + 2b + c of it is f of the bits a, b, c.
template <class Fn>
constexpr uint8_t ternlogImmediate(Fn f) {
  return uint8_t(f(0xF0u, 0xCCu, 0xAAu));
}

// vpternlogd in software, so that the immediates can be checked on any CPU.
constexpr uint32_t ternlog(uint32_t a, uint32_t b, uint32_t c, uint8_t imm) {
  uint32_t out = 0;
  for (int bit = 0; bit < 32; ++bit) {
    unsigned index = (a >> bit & 1) << 2 | (b >> bit & 1) << 1 | (c >> bit & 1);
    out |= uint32_t(imm >> index & 1) << bit;
  }
  return out;
}

constexpr uint8_t md5ImmF = ternlogImmediate(md5F);
constexpr uint8_t md5ImmG = ternlogImmediate(md5G);
constexpr uint8_t md5ImmH = ternlogImmediate(md5H);
constexpr uint8_t md5ImmI = ternlogImmediate(md5I);
// The published ones: F is a bitwise select, H the three-way exclusive or.
static_assert(md5ImmF == 0xCA && md5ImmH == 0x96);
static_assert(md5ImmG == 0xE4 && md5ImmI == 0x39);

// Asks for each lane's data a few blocks ahead of `at`: the hardware's
// prefetcher, which stops at every page, falls behind a dozen streams read
// from memory at once. A prefetch never faults, past an end or not.
inline void md5PrefetchAhead(const unsigned char* const* at, int lanes) {
  constexpr size_t ahead = 512;
  for (int i = 0; i < lanes; ++i) __builtin_prefetch(at[i] + ahead);
}

// Lanes with nothing to do in a stretch read this block instead of theirs.
alignas(64) constexpr unsigned char md5IdleBlock[64] = {};

// Cuts a call into groups of `groupLanes` lanes (the last one padded with idle
// lanes), and each group into stretches over which the same lanes stay busy.
// For each stretch, run(first, p, busy, n) must advance by n blocks each lane
// first + i whose bit i is set in `busy`, reading from p[i] on, and leave the
// others as they are; p[i] of an idle lane is md5IdleBlock.
template <int groupLanes, class Run>
inline void md5LanesSchedule(const unsigned char* const* data, const size_t* blocks, int lanes,
                             Run run) {
  static_assert(groupLanes <= 32);
  if (lanes > md5MaxLanes) lanes = md5MaxLanes;
  for (int first = 0; first < lanes; first += groupLanes) {
    const unsigned char* p[groupLanes];
    size_t left[groupLanes];
    for (int i = 0; i < groupLanes; ++i) {
      left[i] = first + i < lanes ? blocks[first + i] : 0;
      p[i] = left[i] != 0 ? data[first + i] : md5IdleBlock;
    }
    for (;;) {
      size_t n = SIZE_MAX;
      uint32_t busy = 0;
      for (int i = 0; i < groupLanes; ++i) {
        if (left[i] == 0) continue;
        busy |= uint32_t(1) << i;
        if (left[i] < n) n = left[i];
      }
      if (busy == 0) break;
      run(first, p, busy, n);
      for (int i = 0; i < groupLanes; ++i) {
        if (left[i] == 0) continue;
        left[i] -= n;
        p[i] = left[i] != 0 ? p[i] + 64 * n : md5IdleBlock;
      }
    }
  }
}

}  // namespace zorvik
