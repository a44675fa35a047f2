// CRC-32's entry. The state is the raw register: the 0xFFFFFFFF start and
// the final inversion are applied here and nowhere else.
#include <cstdint>
#include <cstring>

#include "hash/algorithm.h"
#include "hash/crc_impl.h"

namespace zorvik {

namespace {

constexpr uint32_t conditioning = 0xFFFFFFFFu;

uint32_t& reg(void* state) { return *static_cast<uint32_t*>(state); }

bool init(void* state) {
  reg(state) = conditioning;
  return true;
}

void update(void* state, const unsigned char* data, size_t length) {
  reg(state) = crcUpdate(reg(state), data, length);
}

// The register's own bytes, least significant first on this target.
void final(void* state, unsigned char* digest) {
  uint32_t value = reg(state) ^ conditioning;
  std::memcpy(digest, &value, sizeof value);
}

// CRC-32s join as finished values; the registers are their inversions.
void join(void* whole, const void* piece, unsigned long long pieceLength) {
  uint32_t first = reg(whole) ^ conditioning;
  uint32_t second = *static_cast<const uint32_t*>(piece) ^ conditioning;
  reg(whole) = crcCombine(first, second, pieceLength) ^ conditioning;
}

constexpr algorithm entry = {
    "crc32", 4, sizeof(uint32_t), alignof(uint32_t), init, update, final, nullptr, join, nullptr,
};

}  // namespace

const algorithm& crc32Algorithm() { return entry; }

}  // namespace zorvik
