// SHA-256's entry: libcrypto's SHA256_CTX functions, which take the SHA
// extensions or AVX2 code themselves, and where AVX-512 pays, 16 lanes
// (sha256_lanes.h). The lanes hand a stream over by its chaining value,
// which only the SHA256_CTX functions let a caller set; they are what the
// EVP digest runs underneath. Digests of pieces do not join.
#include <cerrno>

#include "hash/algorithm.h"
#include "hash/cpu.h"
#include "hash/crypto_library.h"
#include "hash/sha256_lanes.h"

namespace zorvik {

namespace {

constexpr uint32_t initialHash[8] = {
    0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19,
};

struct sha256_state {
  SHA256_CTX context;
  const crypto_library* crypto;
};

sha256_state& stateOf(void* state) { return *static_cast<sha256_state*>(state); }

bool init(void* state) {
  const crypto_library* crypto = cryptoLibrary();
  if (crypto == nullptr) {
    errno = ELIBACC;
    return false;
  }
  stateOf(state).crypto = crypto;
  crypto->sha256Init(&stateOf(state).context);
  return true;
}

bool restart(void* state) {
  sha256_state& s = stateOf(state);
  s.crypto->sha256Init(&s.context);
  return true;
}

void update(void* state, const unsigned char* data, size_t length) {
  sha256_state& s = stateOf(state);
  s.crypto->sha256Update(&s.context, data, length);
}

void final(void* state, unsigned char* digest) {
  sha256_state& s = stateOf(state);
  s.crypto->sha256Final(digest, &s.context);
}

#if ZORVIK_HAVE_SHA256_AVX512
sha256_lanes* lanes(void* states) { return static_cast<sha256_lanes*>(states); }

void start(void* states, int lane) { sha256LanesInit(lanes(states), lane); }

void advance(void* states, const unsigned char* const* data, const size_t* blocks, int count) {
  sha256LanesAvx512(lanes(states), data, blocks, count);
}

// The state was begun by init, and nothing is buffered in it: the lane's
// chaining value and count go in.
void handOver(const void* states, int lane, unsigned long long bytes, void* state) {
  const sha256_lanes& from = *static_cast<const sha256_lanes*>(states);
  SHA256_CTX& to = stateOf(state).context;
  for (int k = 0; k < 8; ++k) to.h[k] = from.h[k][lane];
  to.Nl = static_cast<SHA_LONG>(bytes << 3);
  to.Nh = static_cast<SHA_LONG>(bytes >> 29);
}
#endif

const lane_kernel* laneKernel() {
#if ZORVIK_HAVE_SHA256_AVX512
  static const lane_kernel kernel = {sha256Lanes, 64, sizeof(sha256_lanes), start, advance, handOver};
  return sha256LanesPay() ? &kernel : nullptr;
#else
  return nullptr;
#endif
}

}  // namespace

void sha256LanesInit(sha256_lanes* s, int lane) {
  for (int k = 0; k < 8; ++k) s->h[k][lane] = initialHash[k];
}

bool sha256LanesPay() {
#if ZORVIK_HAVE_SHA256_AVX512
  return canUseAvx512() && isIntel();
#else
  return false;
#endif
}

const algorithm& sha256Algorithm() {
  static const algorithm entry = {
      "sha256", 32, sizeof(sha256_state), alignof(sha256_state), init, update, final, nullptr, nullptr,
      laneKernel(), restart, true,
  };
  return entry;
}

}  // namespace zorvik
