#include "fingerprint.h"

namespace {

constexpr uint64_t fnvOffset = 0xcbf29ce484222325ULL;
constexpr uint64_t fnvPrime = 0x100000001b3ULL;

uint64_t fold(uint64_t hash, uint64_t value) {
  for (int i = 0; i < 8; ++i) {
    hash ^= (value >> (8 * i)) & 0xFF;
    hash *= fnvPrime;
  }
  return hash;
}

// Unsigned arithmetic: times before 1970 wrap as two's complement would.
uint64_t nanoseconds(const struct timespec& time) {
  return static_cast<uint64_t>(time.tv_sec) * 1000000000ULL + static_cast<uint64_t>(time.tv_nsec);
}

}  // namespace

uint32_t fingerprintOf(const struct stat& status) {
  uint64_t hash = fnvOffset;
  hash = fold(hash, static_cast<uint64_t>(status.st_dev));
  hash = fold(hash, static_cast<uint64_t>(status.st_ino));
  hash = fold(hash, static_cast<uint64_t>(status.st_size));
  hash = fold(hash, nanoseconds(status.st_mtim));
  hash = fold(hash, nanoseconds(status.st_ctim));
  return static_cast<uint32_t>(hash);
}
