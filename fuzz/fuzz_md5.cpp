// An MD5 list read to the end; every entry read is written to a new list
// and must read back the same.
#include <cstdint>
#include <string>

#include "round_trip.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string inPath = scratchDirectory().file("list.md5");
  static const std::string outPath = scratchDirectory().file("again.md5");
  writeFile(inPath, data, size);
  roundTrip([] { return new md5(); }, 16, inPath, outPath);
  return 0;
}
