#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include <zorvik/hasher.h>

// Multi-buffer MD5: up to 16 independent streams advanced together, one SIMD
// lane each. One stream is a chain of dependent additions that leaves most of
// a core idle; independent streams fill it.
namespace zorvik {

inline constexpr int md5MaxLanes = 16;

// The chaining states of up to 16 MD5 streams, word-sliced: a[i] is lane i's A.
struct md5_lanes {
  alignas(64) uint32_t a[md5MaxLanes], b[md5MaxLanes], c[md5MaxLanes], d[md5MaxLanes];
};

// Sets lane `lane` (0 to 15) to RFC 1321's initial state.
void md5LanesInit(md5_lanes* s, int lane);

// Advances lane i by blocks[i] whole 64-byte blocks starting at data[i], for
// every i < lanes (1 to 16). A lane with blocks[i] == 0 keeps its state and
// its data[i] is not read; so do lanes from `lanes` on, whose entries in data
// and blocks are not read either. data need not be aligned.
using md5LanesFn = void (*)(md5_lanes* s, const unsigned char* const* data,
                            const size_t* blocks, int lanes);

void md5LanesPortable(md5_lanes* s, const unsigned char* const* data, const size_t* blocks,
                      int lanes);
#if ZORVIK_HAVE_MD5_AVX2
// Needs canUseAvx2().
void md5LanesAvx2(md5_lanes* s, const unsigned char* const* data, const size_t* blocks,
                  int lanes);
#endif
#if ZORVIK_HAVE_MD5_AVX512
// Needs canUseAvx512().
void md5LanesAvx512(md5_lanes* s, const unsigned char* const* data, const size_t* blocks,
                    int lanes);
#endif

struct md5LaneVariant {
  const char* name;
  int width;  // lanes one call advances at full speed: pass at least this many
  md5LanesFn update;
  bool (*available)();
};

// Every variant built into this library, slowest first; all give the same
// states for every input.
std::span<const md5LaneVariant> md5LaneVariants();

// The fastest variant this CPU runs, chosen on the first call.
const md5LaneVariant& md5LanesBest();

// Hands a stream over to the single-stream functions: lane `lane`'s state and
// `bytes`, the count hashed so far (a multiple of 64), go into *ctx, so that
// MD5Update of the rest and MD5Final give the digest of the whole input.
void md5LaneToContext(const md5_lanes& s, int lane, unsigned long long bytes, MD5_CTX* ctx);

}  // namespace zorvik
