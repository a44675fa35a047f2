// A digest list read to the end as the list of the algorithm its first
// byte picks; every entry read is written to a new list and must read back
// the same. Guessing the list's type must give a known type.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <zorvik/container.h>
#include <zorvik/text.h>

#include "scratch.h"

namespace {

// The engine ids of the algorithms with such lists, and their digest sizes.
const int algorithms[][2] = {{1, 16}, {2, 20}, {3, 32}, {4, 64}, {5, 64}, {6, 8}, {7, 16}};

struct entry {
  std::wstring name;
  std::vector<unsigned char> hash;
  bool operator==(const entry& other) const { return name == other.name && hash == other.hash; }
};

std::vector<entry> readAll(int algorithm, size_t size, const wchar_t* path, int* ending) {
  digestlist list(algorithm);
  FUZZ_CHECK(list.open(path) == 0);
  std::vector<entry> entries;
  wchar_t name[512];
  unsigned char hash[64];
  unsigned long long fileSize;
  int result;
  while ((result = list.getNextFile(name, 512, &fileSize, hash)) > 0 || result == -6) {
    if (result < 0) continue;
    FUZZ_CHECK(fileSize == ~0ULL);
    FUZZ_CHECK(wcsnlen(name, 512) < 512);
    FUZZ_CHECK(static_cast<size_t>(result) >= 2 * size + 2);
    entries.push_back({name, std::vector<unsigned char>(hash, hash + size)});
    FUZZ_CHECK(list.isPreviouslyVerified(name) == 0);
    FUZZ_CHECK(list.setPreviouslyVerified(true) == 0);
  }
  *ending = result;
  FUZZ_CHECK(list.close() == 0);
  return entries;
}

wchar_t* widen(const std::string& path) {
  static wchar_t buffers[2][512];
  static int next;
  wchar_t* out = buffers[next++ & 1];
  FUZZ_CHECK(bytesToWide(out, path.c_str(), 512) > 0);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string inPath = scratchDirectory() + "/list";
  static const std::string outPath = scratchDirectory() + "/again";
  if (size == 0) return 0;
  const int* picked = algorithms[data[0] % (sizeof algorithms / sizeof algorithms[0])];
  const int algorithm = picked[0];
  const size_t digestSize = static_cast<size_t>(picked[1]);

  writeFile(inPath, data + 1, size - 1);
  int guessed = 99;
  bool byLength = false;
  FUZZ_CHECK(container::guessType(widen(inPath), &guessed, &byLength) == 0);
  FUZZ_CHECK(guessed == -1 || (guessed >= 1 && guessed <= 7));
  FUZZ_CHECK(!byLength || guessed != -1);

  int ending;
  std::vector<entry> entries = readAll(algorithm, digestSize, widen(inPath), &ending);
  FUZZ_CHECK(ending == 0);

  digestlist writer(algorithm);
  FUZZ_CHECK(writer.create(widen(outPath)) == 0);
  for (const entry& e : entries) FUZZ_CHECK(writer.addFile(e.name.c_str(), e.hash.data()) == 0);
  FUZZ_CHECK(writer.close() == 0);

  int againEnding;
  std::vector<entry> again = readAll(algorithm, digestSize, widen(outPath), &againEnding);
  FUZZ_CHECK(againEnding == 0);
  if (again != entries) {
    dumpEntries("read", entries);
    dumpEntries("read again", again);
    FUZZ_CHECK(again == entries);
  }
  return 0;
}
