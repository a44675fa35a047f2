// The AVX-512 lane kernel built for the baseline CPU over SIMDe's software
// intrinsics, as md5LanesAvx512Emulated, so that its tests run on any CPU.
#include "simde_avx512.h"

#define ZORVIK_MD5_AVX512_EMULATED 1
#define md5LanesAvx512 md5LanesAvx512Emulated
#include "hash/md5_lanes_avx512.cpp"
