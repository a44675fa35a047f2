// The AVX-512 SHA-256 lane kernel built for the baseline CPU over SIMDe's
// software intrinsics, as sha256LanesAvx512Emulated, so that its tests run
// on any CPU.
#include <cstring>

#define SIMDE_ENABLE_NATIVE_ALIASES
#include <simde/x86/avx512.h>

// What SIMDe 0.7 lacks, as Intel defines it; a SIMDe that has it keeps its
// own.
typedef simde__mmask16 __mmask16;
#ifndef _mm512_mask_store_epi32
static inline void maskStoreEpi32(void* p, simde__mmask16 k, simde__m512i v) {
  uint32_t words[16];
  simde_mm512_storeu_si512(words, v);
  for (int i = 0; i < 16; ++i)
    if (k >> i & 1) std::memcpy(static_cast<unsigned char*>(p) + 4 * i, &words[i], 4);
}
#define _mm512_mask_store_epi32(p, k, v) maskStoreEpi32((p), (k), (v))
#endif

#define ZORVIK_HAVE_SHA256_AVX512 1
#define ZORVIK_SHA256_AVX512_EMULATED 1
#define sha256LanesAvx512 sha256LanesAvx512Emulated
#include "hash/sha256_lanes_avx512.cpp"
