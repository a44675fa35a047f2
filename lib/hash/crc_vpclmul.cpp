// CRC-32 by VPCLMULQDQ folding over 512-bit registers, four at a time.
// Built with AVX-512 flags for this file only; reached only when
// canUseVpclmul().
#if !defined(__VPCLMULQDQ__) || !defined(__AVX512F__)
#error "crc_vpclmul.cpp needs -mavx512f -mvpclmulqdq"
#endif

#include "hash/crc_fold.h"
#include "hash/crc_impl.h"

namespace zorvik {

using namespace fold;

namespace {

// These forms stay clear of GCC 12's maybe-uninitialized false alarms in
// _mm512_broadcast_i32x4, _mm512_extracti32x4_epi32 and _mm512_castsi512_si128.
inline __m512i pair512(crcPair k) {
  return _mm512_set_epi64(int64_t(k.high), int64_t(k.low), int64_t(k.high), int64_t(k.low),
                          int64_t(k.high), int64_t(k.low), int64_t(k.high), int64_t(k.low));
}

template <int n>
inline __m128i lane(__m512i v) {
  return _mm512_maskz_extracti32x4_epi32(0xF, v, n);
}

inline __m512i load512(const unsigned char* p) { return _mm512_loadu_si512(p); }

// acc moved forward by the distance of `k`.
inline __m512i moved(__m512i acc, __m512i k) {
  return _mm512_xor_si512(_mm512_clmulepi64_epi128(acc, k, 0x00), _mm512_clmulepi64_epi128(acc, k, 0x11));
}

// acc moved forward by the distance of `k`, plus `next`.
inline __m512i foldInto(__m512i acc, __m512i k, __m512i next) {
  return _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(acc, k, 0x00),
                                   _mm512_clmulepi64_epi128(acc, k, 0x11), next, 0x96);
}

}  // namespace

uint32_t crcUpdateVpclmul(uint32_t reg, const unsigned char* data, size_t length) {
  if (length < 64) return update16(reg, data, length);

  __m512i acc;
  size_t pos;
  size_t head = -reinterpret_cast<uintptr_t>(data) & 63;
  if (head != 0 && length >= 1024) {
    // Loads that straddle cache lines cost more when the data comes from
    // memory: the first `head` bytes go through 128-bit folding, so that
    // every 512-bit load after them is aligned.
    if (head < 16) head += 64;
    __m512i first = _mm512_maskz_broadcast_i32x4(0xF000, start(reg, data, head));  // as lane 3
    acc = foldInto(first, pair512(fold512), load512(data + head));
    pos = head + 64;
  } else {
    acc = _mm512_xor_si512(load512(data), _mm512_zextsi128_si512(_mm_cvtsi32_si128(int(reg))));
    pos = 64;
  }
  if (length - pos >= 192) {
    // Four accumulators of four lanes each, moving 2048 bits a round.
    __m512i a1 = load512(data + pos), a2 = load512(data + pos + 64), a3 = load512(data + pos + 128);
    pos += 192;
    const __m512i k = pair512(fold2048);
    for (; length - pos >= 256; pos += 256) {
      const unsigned char* p = data + pos;
      acc = foldInto(acc, k, load512(p));
      a1 = foldInto(a1, k, load512(p + 64));
      a2 = foldInto(a2, k, load512(p + 128));
      a3 = foldInto(a3, k, load512(p + 192));
    }
    // All three move on to a3 at once, each by its own distance.
    acc = _mm512_ternarylogic_epi64(foldInto(acc, pair512(fold1536), a3),
                                    moved(a1, pair512(fold1024)), moved(a2, pair512(fold512)), 0x96);
  }
  const __m512i k = pair512(fold512);
  for (; length - pos >= 64; pos += 64) acc = foldInto(acc, k, load512(data + pos));

  // Lanes 0-2 move on to lane 3 (its own constants per lane), then add up.
  const __m512i lanes = _mm512_set_epi64(0, 0, int64_t(fold128.high), int64_t(fold128.low),
                                         int64_t(fold256.high), int64_t(fold256.low),
                                         int64_t(fold384.high), int64_t(fold384.low));
  __m512i m = moved(acc, lanes);
  __m128i x = _mm_ternarylogic_epi64(lane<0>(m), lane<1>(m), lane<2>(m), 0x96);
  x = _mm_xor_si128(x, lane<3>(acc));
  return finish(x, data, pos, length);
}

}  // namespace zorvik
