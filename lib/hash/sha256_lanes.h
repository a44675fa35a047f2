#pragma once

#include <cstddef>
#include <cstdint>

// Multi-buffer SHA-256: 16 independent streams advanced together, one
// AVX-512 lane each. On the Intel CPUs measured, 16 streams of small files
// hash about twice as fast this way as one after the other with the SHA
// extensions libcrypto uses.
namespace zorvik {

inline constexpr int sha256Lanes = 16;

// The chaining values of 16 streams, word-sliced: h[k][i] is lane i's H_k.
struct sha256_lanes {
  alignas(64) uint32_t h[8][sha256Lanes];
};

// Sets lane `lane` (0 to 15) to FIPS 180-4's initial hash value.
void sha256LanesInit(sha256_lanes* s, int lane);

#if ZORVIK_HAVE_SHA256_AVX512
// Advances lane i by blocks[i] whole 64-byte blocks at data[i], for every
// i < lanes (1 to 16). A lane with no blocks keeps its state and its data[i]
// is not read; data need not be aligned. Needs canUseAvx512().
void sha256LanesAvx512(sha256_lanes* s, const unsigned char* const* data, const size_t* blocks,
                       int lanes);
#endif

// Whether this CPU runs the lanes faster than the SHA extensions: where
// AVX-512 runs at full width (Intel's cores; AMD's split it in two halves,
// and the lanes lose there).
bool sha256LanesPay();

}  // namespace zorvik
