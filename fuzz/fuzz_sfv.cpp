// An SFV file read, verified and closed (which may rewrite its verification
// record) must read back with the same entries in the same order.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <zorvik/container.h>
#include <zorvik/text.h>

#include "scratch.h"

namespace {

struct entry {
  std::wstring name;
  unsigned char hash[4];
  bool operator==(const entry& other) const {
    return name == other.name && memcmp(hash, other.hash, 4) == 0;
  }
};

// All entries to the end; every entry is answered and recorded the way a
// verify run does it. `ending` receives the last getNextFile result.
std::vector<entry> readAll(const wchar_t* path, int* ending) {
  sfv file;
  FUZZ_CHECK(file.open(path) == 0);
  std::vector<entry> entries;
  wchar_t name[512];
  unsigned char hash[64];
  unsigned long long size;
  int result;
  while ((result = file.getNextFile(name, 512, &size, hash)) > 0) {
    FUZZ_CHECK(size == ~0ULL);
    FUZZ_CHECK(wcsnlen(name, 512) < 512);
    entry e;
    e.name = name;
    memcpy(e.hash, hash, 4);
    entries.push_back(e);
    int answer = file.isPreviouslyVerified(name);
    FUZZ_CHECK(answer == 0 || answer == 1);
    FUZZ_CHECK(file.setPreviouslyVerified((hash[0] & 1) != 0) == 0);
  }
  *ending = result;
  FUZZ_CHECK(file.close() == 0);
  return entries;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = scratchDirectory() + "/list.sfv";
  static wchar_t widePath[512];
  static const bool converted = bytesToWide(widePath, path.c_str(), 512) > 0;
  FUZZ_CHECK(converted);

  writeFile(path, data, size);
  int firstEnding, secondEnding;
  std::vector<entry> first = readAll(widePath, &firstEnding);
  std::vector<entry> second = readAll(widePath, &secondEnding);
  if (first != second) {
    dumpEntries("first", first);
    dumpEntries("second", second);
    FUZZ_CHECK(first == second);
  }
  FUZZ_CHECK(firstEnding == secondEnding);
  return 0;
}
