// The AVX-512 SHA-256 lane kernel built for the baseline CPU over SIMDe's
// software intrinsics, as sha256LanesAvx512Emulated, so that its tests run
// on any CPU.
#include "simde_avx512.h"

#define ZORVIK_HAVE_SHA256_AVX512 1
#define ZORVIK_SHA256_AVX512_EMULATED 1
#define sha256LanesAvx512 sha256LanesAvx512Emulated
#include "hash/sha256_lanes_avx512.cpp"
