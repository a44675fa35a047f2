// SIMDe's software AVX-512 intrinsics under Intel's names, for building a
// lane kernel for the baseline CPU, with what SIMDe 0.7 lacks, as Intel
// defines it; a SIMDe that has the intrinsics keeps its own.
#pragma once

#include <cstdint>
#include <cstring>

#define SIMDE_ENABLE_NATIVE_ALIASES
#include <simde/x86/avx512.h>

typedef simde__mmask16 __mmask16;

// A masked store of 16 words; the aligned one is the unaligned one here.
static inline void zorvikMaskStoreEpi32(void* p, simde__mmask16 k, simde__m512i v) {
  uint32_t words[16];
  simde_mm512_storeu_si512(words, v);
  for (int i = 0; i < 16; ++i)
    if (k >> i & 1) std::memcpy(static_cast<unsigned char*>(p) + 4 * i, &words[i], 4);
}
#ifndef _mm512_mask_storeu_epi32
#define _mm512_mask_storeu_epi32(p, k, v) zorvikMaskStoreEpi32((p), (k), (v))
#endif
#ifndef _mm512_mask_store_epi32
#define _mm512_mask_store_epi32(p, k, v) zorvikMaskStoreEpi32((p), (k), (v))
#endif
#ifndef _mm512_zextsi128_si512
#define _mm512_zextsi128_si512(a) simde_mm512_inserti32x4(simde_mm512_setzero_si512(), (a), 0)
#endif
