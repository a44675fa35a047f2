// CRC-32 by PCLMULQDQ folding, eight 128-bit lanes at a time. Built with
// -msse4.1 -mpclmul for this file only; reached only when canUseClmul().
#include "hash/crc_fold.h"
#include "hash/crc_impl.h"

namespace zorvik {

using namespace fold;

uint32_t crcUpdateClmul(uint32_t reg, const unsigned char* data, size_t length) {
  if (length < 256) return update16(reg, data, length);

  // Eight accumulators hide the multiply latency; each moves 1024 bits a round.
  __m128i a0 = _mm_xor_si128(load128(data), _mm_cvtsi32_si128(int(reg)));
  __m128i a1 = load128(data + 16), a2 = load128(data + 32), a3 = load128(data + 48);
  __m128i a4 = load128(data + 64), a5 = load128(data + 80), a6 = load128(data + 96);
  __m128i a7 = load128(data + 112);
  size_t pos = 128;
  const __m128i k = pair128(fold1024);
  for (; length - pos >= 128; pos += 128) {
    const unsigned char* p = data + pos;
    a0 = _mm_xor_si128(foldBlock(a0, k), load128(p));
    a1 = _mm_xor_si128(foldBlock(a1, k), load128(p + 16));
    a2 = _mm_xor_si128(foldBlock(a2, k), load128(p + 32));
    a3 = _mm_xor_si128(foldBlock(a3, k), load128(p + 48));
    a4 = _mm_xor_si128(foldBlock(a4, k), load128(p + 64));
    a5 = _mm_xor_si128(foldBlock(a5, k), load128(p + 80));
    a6 = _mm_xor_si128(foldBlock(a6, k), load128(p + 96));
    a7 = _mm_xor_si128(foldBlock(a7, k), load128(p + 112));
  }

  // Each lane moves on by its distance to the last one, all at once.
  __m128i acc = _mm_xor_si128(a7, foldBlock(a0, pair128(fold896)));
  acc = _mm_xor_si128(acc, foldBlock(a1, pair128(fold768)));
  acc = _mm_xor_si128(acc, foldBlock(a2, pair128(fold640)));
  acc = _mm_xor_si128(acc, foldBlock(a3, pair128(fold512)));
  acc = _mm_xor_si128(acc, foldBlock(a4, pair128(fold384)));
  acc = _mm_xor_si128(acc, foldBlock(a5, pair128(fold256)));
  acc = _mm_xor_si128(acc, foldBlock(a6, pair128(fold128)));
  return finish(acc, data, pos, length);
}

}  // namespace zorvik
