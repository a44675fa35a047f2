#pragma once

#include <sys/stat.h>

#include <cstdint>

// The identity of the very file a record vouches for: FNV-1a (64-bit) over
// st_dev, st_ino, st_size, the modification time and the status-change
// time, as five 8-byte little-endian integers (times in nanoseconds since
// 1970), of which the low 32 bits are kept. A file reached through another
// directory or link, or replaced by an older one, has another.
uint32_t fingerprintOf(const struct stat& status);
