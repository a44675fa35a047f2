// Multi-buffer MD5 over AVX2: eight lanes in each 256-bit register. Past
// eight lanes each state word takes two registers, worked on side by side:
// one alone keeps the core waiting on each step's latency. Built with -mavx2
// for this file only; reached only when canUseAvx2(). md5_lanes_avx512.cpp
// follows this file line by line.
#if !defined(__AVX2__)
#error "md5_lanes_avx2.cpp needs -mavx2"
#endif

#include <immintrin.h>

#include <utility>

#include "hash/md5_lanes_impl.h"

namespace zorvik {

namespace {

using vec = __m256i;
using lanemask = vec;  // all ones in a busy lane
constexpr int vecLanes = 8;

#define ALWAYS_INLINE [[gnu::always_inline]] inline
// Loops over registers and state words are unrolled, so that their arrays
// live in registers rather than memory.
#define UNROLLED _Pragma("GCC unroll 16")

ALWAYS_INLINE vec add(vec x, vec y) { return _mm256_add_epi32(x, y); }

template <int s>
ALWAYS_INLINE vec rotl(vec x) {
  return _mm256_or_si256(_mm256_slli_epi32(x, s), _mm256_srli_epi32(x, 32 - s));
}

// F, G, H, I in three instructions or fewer, b entering last.
template <int round>
ALWAYS_INLINE vec roundFn(vec b, vec c, vec d) {
  if constexpr (round == 0)
    return _mm256_xor_si256(d, _mm256_and_si256(b, _mm256_xor_si256(c, d)));
  else if constexpr (round == 1)
    return _mm256_or_si256(_mm256_andnot_si256(d, c), _mm256_and_si256(b, d));
  else if constexpr (round == 2)
    return _mm256_xor_si256(_mm256_xor_si256(c, d), b);
  else
    return _mm256_xor_si256(c, _mm256_or_si256(_mm256_xor_si256(d, _mm256_set1_epi32(-1)), b));
}

// md5K, hidden from the optimiser: a broadcast from memory is a plain load,
// where GCC would spend two more instructions building each from an immediate.
ALWAYS_INLINE const uint32_t* stepConstants() {
  const uint32_t* k = md5K;
  __asm__("" : "+r"(k));
  return k;
}

template <int regs, int step>
ALWAYS_INLINE void md5Step(vec (&v)[4][regs], const vec (&x)[16][regs], const uint32_t* k) {
  constexpr int a = md5Role(step, 0), b = md5Role(step, 1);
  constexpr int c = md5Role(step, 2), d = md5Role(step, 3);
  constexpr int w = md5Word(step), s = md5Shift(step);
  const vec ks = _mm256_set1_epi32(int(k[step]));
  UNROLLED for (int r = 0; r < regs; ++r) {
    vec t = add(add(v[a][r], ks), x[w][r]);
    t = add(t, roundFn<step / 16>(v[b][r], v[c][r], v[d][r]));
    v[a][r] = add(v[b][r], rotl<s>(t));
  }
}

template <int regs, size_t... step>
ALWAYS_INLINE void md5Steps(vec (&v)[4][regs], const vec (&x)[16][regs], const uint32_t* k,
                            std::index_sequence<step...>) {
  (md5Step<regs, step>(v, x, k), ...);
}

ALWAYS_INLINE __m128i load128(const unsigned char* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// Words 4q to 4q + 3 of lanes j and j + 4, in that order.
ALWAYS_INLINE vec row(const unsigned char* const* p, int j, int q) {
  return _mm256_set_m128i(load128(p[j + 4] + 16 * q), load128(p[j] + 16 * q));
}

// The block at p[i] for each lane i, transposed: x[w][r] holds word w of
// lanes vecLanes * r + 0, 1, ... in its elements 0, 1, .... Loads of rows and
// in-lane unpacking beat gathers.
template <int regs>
ALWAYS_INLINE void loadBlock(vec (&x)[16][regs], const unsigned char* const* p) {
  UNROLLED for (int r = 0; r < regs; ++r) {
    const unsigned char* const* lanes = p + vecLanes * r;
    UNROLLED for (int q = 0; q < 4; ++q) {
      const vec m0 = row(lanes, 0, q), m1 = row(lanes, 1, q);
      const vec m2 = row(lanes, 2, q), m3 = row(lanes, 3, q);
      const vec t0 = _mm256_unpacklo_epi32(m0, m1), t1 = _mm256_unpackhi_epi32(m0, m1);
      const vec t2 = _mm256_unpacklo_epi32(m2, m3), t3 = _mm256_unpackhi_epi32(m2, m3);
      x[4 * q + 0][r] = _mm256_unpacklo_epi64(t0, t2);
      x[4 * q + 1][r] = _mm256_unpackhi_epi64(t0, t2);
      x[4 * q + 2][r] = _mm256_unpacklo_epi64(t1, t3);
      x[4 * q + 3][r] = _mm256_unpackhi_epi64(t1, t3);
    }
  }
}

ALWAYS_INLINE vec loadState(const uint32_t* p) {
  return _mm256_loadu_si256(reinterpret_cast<const vec*>(p));
}

// Idle lanes ran on the idle block: only busy ones are stored.
ALWAYS_INLINE void storeState(uint32_t* p, lanemask busy, vec v) {
  _mm256_maskstore_epi32(reinterpret_cast<int*>(p), busy, v);
}

ALWAYS_INLINE lanemask busyLanes(uint32_t busy) {
  const vec bit = _mm256_setr_epi32(1, 2, 4, 8, 16, 32, 64, 128);
  return _mm256_cmpeq_epi32(_mm256_and_si256(_mm256_set1_epi32(int(busy)), bit), bit);
}

// Advances the busy lanes of lanes first.. by n blocks each (see md5LanesSchedule).
template <int regs>
void advance(md5_lanes* s, int first, const unsigned char* const* p, uint32_t busy, size_t n) {
  constexpr int groupLanes = vecLanes * regs;
  uint32_t* state[4] = {s->a + first, s->b + first, s->c + first, s->d + first};
  vec v[4][regs];
  lanemask mask[regs];
  UNROLLED for (int r = 0; r < regs; ++r) {
    UNROLLED for (int q = 0; q < 4; ++q) v[q][r] = loadState(state[q] + vecLanes * r);
    mask[r] = busyLanes(busy >> (vecLanes * r));
  }
  const unsigned char* at[groupLanes];
  size_t stride[groupLanes];
  for (int i = 0; i < groupLanes; ++i) {
    at[i] = p[i];
    stride[i] = busy >> i & 1 ? 64 : 0;
  }
  for (; n != 0; --n) {
    vec x[16][regs];
    loadBlock(x, at);
    md5PrefetchAhead(at, groupLanes);
    vec saved[4][regs];
    UNROLLED for (int q = 0; q < 4; ++q)
      UNROLLED for (int r = 0; r < regs; ++r) saved[q][r] = v[q][r];
    md5Steps(v, x, stepConstants(), std::make_index_sequence<64>());
    UNROLLED for (int q = 0; q < 4; ++q)
      UNROLLED for (int r = 0; r < regs; ++r) v[q][r] = add(saved[q][r], v[q][r]);
    for (int i = 0; i < groupLanes; ++i) at[i] += stride[i];
  }
  UNROLLED for (int r = 0; r < regs; ++r)
    UNROLLED for (int q = 0; q < 4; ++q) storeState(state[q] + vecLanes * r, mask[r], v[q][r]);
}

}  // namespace

void md5LanesAvx2(md5_lanes* s, const unsigned char* const* data, const size_t* blocks,
                  int lanes) {
  if (lanes > vecLanes) {
    md5LanesSchedule<2 * vecLanes>(data, blocks, lanes,
                                   [s](auto... stretch) { advance<2>(s, stretch...); });
  } else {
    md5LanesSchedule<vecLanes>(data, blocks, lanes,
                               [s](auto... stretch) { advance<1>(s, stretch...); });
  }
}

}  // namespace zorvik
