// The multi-buffer MD5 reference: plain C++ over groups of lanes, every step
// written lane by lane, so that the compiler may vectorise it for the
// baseline CPU.
#include <bit>
#include <cstring>
#include <utility>

#include "hash/md5_lanes_impl.h"

static_assert(std::endian::native == std::endian::little);

namespace zorvik {

namespace {

// Lanes worked on side by side; 8 measured fastest of 4, 8 and 16 (two SSE2
// registers per state word keep two dependency chains in flight).
constexpr int groupLanes = 8;
static_assert(md5MaxLanes % groupLanes == 0);

using words = uint32_t[groupLanes];

template <int round>
inline uint32_t roundFn(uint32_t b, uint32_t c, uint32_t d) {
  if constexpr (round == 0) return md5F(b, c, d);
  else if constexpr (round == 1) return md5G(b, c, d);
  else if constexpr (round == 2) return md5H(b, c, d);
  else return md5I(b, c, d);
}

template <int step>
inline void md5Step(words (&v)[4], const words (&x)[16]) {
  constexpr int a = md5Role(step, 0), b = md5Role(step, 1);
  constexpr int c = md5Role(step, 2), d = md5Role(step, 3);
  constexpr int w = md5Word(step), s = md5Shift(step);
  constexpr uint32_t k = md5K[step];
  // Unrolled, the lanes are vectorised as a whole, in registers.
#pragma GCC unroll 16
  for (int i = 0; i < groupLanes; ++i) {
    uint32_t t = v[a][i] + x[w][i] + k + roundFn<step / 16>(v[b][i], v[c][i], v[d][i]);
    v[a][i] = v[b][i] + std::rotl(t, s);
  }
}

template <size_t... step>
inline void md5Steps(words (&v)[4], const words (&x)[16], std::index_sequence<step...>) {
  (md5Step<step>(v, x), ...);
}

// Advances the busy lanes of lanes first.. by n blocks each (see md5LanesSchedule).
void advance(md5_lanes* s, int first, const unsigned char* const* p, uint32_t busy, size_t n) {
  uint32_t* state[4] = {s->a + first, s->b + first, s->c + first, s->d + first};
  words v[4];
  const unsigned char* at[groupLanes];
  size_t stride[groupLanes];
  for (int i = 0; i < groupLanes; ++i) {
    for (int q = 0; q < 4; ++q) v[q][i] = state[q][i];
    at[i] = p[i];
    stride[i] = busy >> i & 1 ? 64 : 0;
  }
  for (; n != 0; --n) {
    uint32_t block[groupLanes][16];
    for (int i = 0; i < groupLanes; ++i) std::memcpy(block[i], at[i], 64);
    words x[16];
    for (int w = 0; w < 16; ++w)
      for (int i = 0; i < groupLanes; ++i) x[w][i] = block[i][w];
    words saved[4];
    std::memcpy(saved, v, sizeof v);
    md5Steps(v, x, std::make_index_sequence<64>());
    for (int q = 0; q < 4; ++q)
      for (int i = 0; i < groupLanes; ++i) v[q][i] += saved[q][i];
    for (int i = 0; i < groupLanes; ++i) at[i] += stride[i];
  }
  // Idle lanes ran on the idle block: only busy ones are stored.
  for (int i = 0; i < groupLanes; ++i)
    if (busy >> i & 1)
      for (int q = 0; q < 4; ++q) state[q][i] = v[q][i];
}

}  // namespace

void md5LanesPortable(md5_lanes* s, const unsigned char* const* data, const size_t* blocks,
                      int lanes) {
  md5LanesSchedule<groupLanes>(data, blocks, lanes,
                               [s](auto... stretch) { advance(s, stretch...); });
}

}  // namespace zorvik
