#pragma once

// What the three parts of the verification record share: reading it
// (sfv_record_read.cpp), trusting entries by it (sfv_record_trust.cpp) and
// writing it (sfv_record_write.cpp).

#include <sys/stat.h>

#include <zorvik/config.h>

// The bitmap: one bit an entry, for this many entries at most.
inline constexpr int bitmapBytes = 32768;
inline constexpr unsigned long bitmapEntries = bitmapBytes * 8UL;
// What a bitmap or fingerprint line carries, before Base64.
inline constexpr int bytesPerLine = 48;
inline constexpr int fingerprintsPerLine = bytesPerLine / 4;

// The configured value of `key`; null when there is none.
inline const char* recordSetting(const char* key) {
  config* store = config::instance();
  return store != nullptr ? static_cast<const char*>((*store)[key]) : nullptr;
}

// The identity of `directory`, or zeros when it cannot be looked at.
inline void lookupIdentity(const char* directory, unsigned long long* device, unsigned long long* inode) {
  struct stat status;
  bool found = stat(directory, &status) == 0;
  *device = found ? static_cast<unsigned long long>(status.st_dev) : 0;
  *inode = found ? static_cast<unsigned long long>(status.st_ino) : 0;
}
