// The AVX-512 lane kernel built for the baseline CPU over SIMDe's software
// intrinsics, as md5LanesAvx512Emulated, so that its tests run on any CPU.
#include <cstring>

#define SIMDE_ENABLE_NATIVE_ALIASES
#include <simde/x86/avx512.h>

// What SIMDe 0.7 lacks, as Intel defines it; a SIMDe that has the
// intrinsics keeps its own.
typedef simde__mmask16 __mmask16;
#ifndef _mm512_zextsi128_si512
#define _mm512_zextsi128_si512(a) simde_mm512_inserti32x4(simde_mm512_setzero_si512(), (a), 0)
#endif
#ifndef _mm512_mask_storeu_epi32
static inline void maskStoreuEpi32(void* p, simde__mmask16 k, simde__m512i v) {
  uint32_t words[16];
  simde_mm512_storeu_si512(words, v);
  for (int i = 0; i < 16; ++i)
    if (k >> i & 1) std::memcpy(static_cast<unsigned char*>(p) + 4 * i, &words[i], 4);
}
#define _mm512_mask_storeu_epi32(p, k, v) maskStoreuEpi32((p), (k), (v))
#endif

#define ZORVIK_MD5_AVX512_EMULATED 1
#define md5LanesAvx512 md5LanesAvx512Emulated
#include "hash/md5_lanes_avx512.cpp"
