#include <sys/stat.h>

#include <cstdint>

#include <gtest/gtest.h>

#include "containers/fingerprint.h"

namespace {

// Computed apart from the library, with Python:
//   def fnv(values):
//     h = 0xcbf29ce484222325
//     for v in values:
//       for b in (v % 2**64).to_bytes(8, 'little'):
//         h = ((h ^ b) * 0x100000001b3) % 2**64
//     return h & 0xffffffff
//   fnv([dev, ino, size, mtime_s * 10**9 + mtime_ns, ctime_s * 10**9 + ctime_ns])
TEST(fingerprint, pinnedValues) {
  struct {
    unsigned long long device, inode;
    long long size;
    long long modifiedSeconds, modifiedNanoseconds, changedSeconds, changedNanoseconds;
    uint32_t expected;
  } cases[] = {
      {0, 0, 0, 0, 0, 0, 0, 0xf0f65c45},
      {2049, 131074, 6, 1275309005, 0, 1275309005, 123456789, 0x7613ed7c},
      {64768, 12345678901ULL, 1LL << 40, 1700000000, 999999999, 1700000001, 1, 0x6840bcd4},
      {1, 2, 3, -1, 500000000, 0, 0, 0x1f80aee4},  // half a second before 1970
  };
  for (const auto& c : cases) {
    struct stat status {};
    status.st_dev = c.device;
    status.st_ino = c.inode;
    status.st_size = c.size;
    status.st_mtim = {static_cast<time_t>(c.modifiedSeconds), c.modifiedNanoseconds};
    status.st_ctim = {static_cast<time_t>(c.changedSeconds), c.changedNanoseconds};
    status.st_atim = {123, 456};  // reading a file changes nothing
    status.st_mode = 0100644;
    status.st_nlink = 3;
    EXPECT_EQ(fingerprintOf(status), c.expected) << c.inode;
  }
}

}  // namespace
