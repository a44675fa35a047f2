// XXH64 (seed 0) and XXH3's 128-bit hash through libxxhash. Their states
// live in place (XXH3's aligned to 64 bytes, as the library asks); digests
// are in the canonical big-endian order that xxhsum prints. Neither joins.
#include <cstring>

// XXH3_state_t's layout, so that a state can live in the engine's slot.
#define XXH_STATIC_LINKING_ONLY
#include <xxhash.h>
#if ZORVIK_XXH_DISPATCH
// The library's run-time choice of SSE2, AVX2 or AVX-512 code for XXH3.
#define XXH_DISPATCH_DISABLE_REPLACE
#include <xxh_x86dispatch.h>
#endif

#include "hash/algorithm.h"

namespace zorvik {

namespace {

XXH64_state_t* state64(void* state) { return static_cast<XXH64_state_t*>(state); }

bool init64(void* state) { return XXH64_reset(state64(state), 0) == XXH_OK; }

void update64(void* state, const unsigned char* data, size_t length) {
  XXH64_update(state64(state), data, length);
}

void final64(void* state, unsigned char* digest) {
  XXH64_canonical_t canonical;
  XXH64_canonicalFromHash(&canonical, XXH64_digest(state64(state)));
  std::memcpy(digest, canonical.digest, sizeof canonical.digest);
}

XXH3_state_t* state128(void* state) { return static_cast<XXH3_state_t*>(state); }

bool init128(void* state) {
  XXH3_INITSTATE(state128(state));
  return XXH3_128bits_reset(state128(state)) == XXH_OK;
}

void update128(void* state, const unsigned char* data, size_t length) {
#if ZORVIK_XXH_DISPATCH
  XXH3_128bits_update_dispatch(state128(state), data, length);
#else
  XXH3_128bits_update(state128(state), data, length);
#endif
}

void final128(void* state, unsigned char* digest) {
  XXH128_canonical_t canonical;
  XXH128_canonicalFromHash(&canonical, XXH3_128bits_digest(state128(state)));
  std::memcpy(digest, canonical.digest, sizeof canonical.digest);
}

constexpr algorithm xxh64Entry = {
    "xxh64", 8, sizeof(XXH64_state_t), alignof(XXH64_state_t), init64, update64, final64, nullptr, nullptr,
    nullptr,
};

constexpr algorithm xxh128Entry = {
    "xxh128", 16, sizeof(XXH3_state_t), alignof(XXH3_state_t), init128, update128, final128, nullptr, nullptr,
    nullptr,
};

static_assert(alignof(XXH3_state_t) <= maxStateAlign);

}  // namespace

const algorithm& xxh64Algorithm() { return xxh64Entry; }
const algorithm& xxh128Algorithm() { return xxh128Entry; }

}  // namespace zorvik
