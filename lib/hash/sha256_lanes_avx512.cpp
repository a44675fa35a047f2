// Each round is a handful of vpternlogd, vprord and vpaddd over 16 lanes;
// a call is cut into stretches in which the same lanes are busy, and a
// k-mask keeps the idle lanes' states as they were.

// A test builds this file a second time for any CPU, over software
// intrinsics it includes first (ZORVIK_SHA256_AVX512_EMULATED).
#if !defined(ZORVIK_SHA256_AVX512_EMULATED)
// GCC 12 takes the undefined vector its unpack intrinsics start from for an
// uninitialised variable.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#endif

#include "hash/sha256_lanes.h"

namespace zorvik {

namespace {

using vec = __m512i;

// FIPS 180-4, section 4.2.2.
constexpr uint32_t roundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

inline vec xor3(vec a, vec b, vec c) { return _mm512_ternarylogic_epi32(a, b, c, 0x96); }
inline vec add(vec a, vec b) { return _mm512_add_epi32(a, b); }

// Big-endian words, without AVX-512 BW's byte shuffle: bytes 0 and 2 of a
// word rotated left by 8, bytes 1 and 3 of it rotated right by 8.
inline vec byteSwap(vec x) {
  return _mm512_ternarylogic_epi32(_mm512_set1_epi32(0x00FF00FF), _mm512_rol_epi32(x, 8),
                                   _mm512_ror_epi32(x, 8), 0xCA);
}

// w[i] holds lane i's 16 words; afterwards w[t] holds word t of every lane.
inline void transpose(vec w[16]) {
  vec t[16];
  for (int i = 0; i < 16; i += 2) {
    t[i] = _mm512_unpacklo_epi32(w[i], w[i + 1]);
    t[i + 1] = _mm512_unpackhi_epi32(w[i], w[i + 1]);
  }
  for (int i = 0; i < 16; i += 4) {
    w[i] = _mm512_unpacklo_epi64(t[i], t[i + 2]);
    w[i + 1] = _mm512_unpackhi_epi64(t[i], t[i + 2]);
    w[i + 2] = _mm512_unpacklo_epi64(t[i + 1], t[i + 3]);
    w[i + 3] = _mm512_unpackhi_epi64(t[i + 1], t[i + 3]);
  }
  for (int i = 0; i < 4; ++i) {
    t[i] = _mm512_shuffle_i32x4(w[i], w[i + 4], 0x88);
    t[i + 4] = _mm512_shuffle_i32x4(w[i], w[i + 4], 0xdd);
    t[i + 8] = _mm512_shuffle_i32x4(w[i + 8], w[i + 12], 0x88);
    t[i + 12] = _mm512_shuffle_i32x4(w[i + 8], w[i + 12], 0xdd);
  }
  for (int i = 0; i < 4; ++i) {
    w[i] = _mm512_shuffle_i32x4(t[i], t[i + 8], 0x88);
    w[i + 8] = _mm512_shuffle_i32x4(t[i], t[i + 8], 0xdd);
    w[i + 4] = _mm512_shuffle_i32x4(t[i + 4], t[i + 12], 0x88);
    w[i + 12] = _mm512_shuffle_i32x4(t[i + 4], t[i + 12], 0xdd);
  }
}

// One block of every lane, lane i's at at[i].
void compress(vec s[8], const unsigned char* const at[16]) {
  vec w[16];
  for (int i = 0; i < 16; ++i) w[i] = _mm512_loadu_si512(at[i]);
  transpose(w);
  for (int i = 0; i < 16; ++i) w[i] = byteSwap(w[i]);
  vec a = s[0], b = s[1], c = s[2], d = s[3], e = s[4], f = s[5], g = s[6], h = s[7];
  for (int t = 0; t < 64; ++t) {
    if (t >= 16) {
      vec w15 = w[(t - 15) & 15], w2 = w[(t - 2) & 15];
      vec s0 = xor3(_mm512_ror_epi32(w15, 7), _mm512_ror_epi32(w15, 18), _mm512_srli_epi32(w15, 3));
      vec s1 = xor3(_mm512_ror_epi32(w2, 17), _mm512_ror_epi32(w2, 19), _mm512_srli_epi32(w2, 10));
      w[t & 15] = add(add(w[t & 15], s0), add(w[(t - 7) & 15], s1));
    }
    vec sum1 = xor3(_mm512_ror_epi32(e, 6), _mm512_ror_epi32(e, 11), _mm512_ror_epi32(e, 25));
    vec choice = _mm512_ternarylogic_epi32(e, f, g, 0xCA);
    vec t1 = add(add(h, sum1), add(choice, add(w[t & 15], _mm512_set1_epi32(int(roundConstants[t])))));
    vec sum0 = xor3(_mm512_ror_epi32(a, 2), _mm512_ror_epi32(a, 13), _mm512_ror_epi32(a, 22));
    vec majority = _mm512_ternarylogic_epi32(a, b, c, 0xE8);
    h = g;
    g = f;
    f = e;
    e = add(d, t1);
    d = c;
    c = b;
    b = a;
    a = add(t1, add(sum0, majority));
  }
  s[0] = add(s[0], a);
  s[1] = add(s[1], b);
  s[2] = add(s[2], c);
  s[3] = add(s[3], d);
  s[4] = add(s[4], e);
  s[5] = add(s[5], f);
  s[6] = add(s[6], g);
  s[7] = add(s[7], h);
}

}  // namespace

void sha256LanesAvx512(sha256_lanes* s, const unsigned char* const* data, const size_t* blocks,
                       int lanes) {
  // Idle lanes read this block, never a caller's pointer.
  alignas(64) static const unsigned char idle[64] = {};
  const unsigned char* at[16];
  size_t left[16];
  for (int i = 0; i < 16; ++i) {
    bool busy = i < lanes && blocks[i] > 0;
    at[i] = busy ? data[i] : idle;
    left[i] = busy ? blocks[i] : 0;
  }
  for (;;) {
    size_t run = 0;
    unsigned busy = 0;
    for (int i = 0; i < 16; ++i) {
      if (left[i] == 0) continue;
      busy |= 1u << i;
      if (run == 0 || left[i] < run) run = left[i];
    }
    if (busy == 0) return;
    vec state[8];
    for (int k = 0; k < 8; ++k) state[k] = _mm512_load_si512(s->h[k]);
    for (size_t n = 0; n < run; ++n) {
      compress(state, at);
      for (int i = 0; i < 16; ++i) at[i] += busy >> i & 1 ? 64 : 0;
    }
    for (int k = 0; k < 8; ++k) _mm512_mask_store_epi32(s->h[k], __mmask16(busy), state[k]);
    for (int i = 0; i < 16; ++i) {
      if (left[i] == 0) continue;
      left[i] -= run;
      // A lane at its end reads the idle block from now on, never past
      // the caller's data.
      if (left[i] == 0) at[i] = idle;
    }
  }
}

}  // namespace zorvik
