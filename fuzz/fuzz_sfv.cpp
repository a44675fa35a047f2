// An SFV file read, verified and closed (which may rewrite its verification
// record) must read back with the same entries in the same order, and the
// record must answer for each entry what the first pass recorded.
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include <zorvik/container.h>
#include <zorvik/text.h>

#include "fuzz_support.h"
#include "support/file_clock.h"

namespace {

struct entry {
  std::wstring name;
  unsigned char hash[4];
  unsigned long long size;  // from the size-and-time comments
  int answer;  // isPreviouslyVerified
  bool operator==(const entry& other) const {
    return name == other.name && memcmp(hash, other.hash, 4) == 0 && size == other.size;
  }
};

// Files that entries may name, last changed before any run: the record's
// answer for them is the recorded bit.
const std::set<std::wstring> fixtures = {L"a", L"b", L"c", L"x", L"y", L"z", L"empty",
                                         L"my file.txt", L"quoted name"};

void makeFixtures() {
  if (chdir(scratchDirectory().root().c_str()) != 0) abort();
  for (const std::wstring& name : fixtures) {
    std::string path(name.begin(), name.end());
    std::ofstream(path) << path;
    struct timeval times[2] = {{1000000000, 0}, {1000000000, 0}};
    FUZZ_CHECK(utimes(path.c_str(), times) == 0);
  }
  // A record vouches only for files changed before its run began, in the
  // clock file times come from: let that clock pass the fixtures' changes.
  passFileClock();
}

bool verdict(const entry& e) { return (e.hash[0] & 1) != 0; }

// All entries to the end, each answered and recorded as a verify run does.
// `ending` receives the last getNextFile result.
std::vector<entry> readAll(const wchar_t* path, int* ending) {
  sfv file;
  FUZZ_CHECK(file.open(path) == 0);
  std::vector<entry> entries;
  wchar_t name[512];
  unsigned char hash[64];
  unsigned long long size;
  int result;
  while ((result = file.getNextFile(name, 512, &size, hash)) > 0) {
    FUZZ_CHECK(wcsnlen(name, 512) < 512);
    entry e;
    e.name = name;
    memcpy(e.hash, hash, 4);
    e.size = size;
    e.answer = file.isPreviouslyVerified(name);
    FUZZ_CHECK(e.answer == 0 || e.answer == 1);
    FUZZ_CHECK(file.setPreviouslyVerified(verdict(e)) == 0);
    entries.push_back(e);
  }
  *ending = result;
  FUZZ_CHECK(file.close() == 0);
  return entries;
}

std::string contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = scratchDirectory().file("list.sfv");
  static wchar_t widePath[512];
  static const bool ready = (makeFixtures(), bytesToWide(widePath, path.c_str(), 512) > 0);
  FUZZ_CHECK(ready);

  writeFile(path, data, size);
  int firstEnding, secondEnding;
  std::vector<entry> first = readAll(widePath, &firstEnding);
  bool rewritten = contents(path) != std::string(reinterpret_cast<const char*>(data), size);
  std::vector<entry> second = readAll(widePath, &secondEnding);
  if (first != second) {
    dumpEntries("first", first);
    dumpEntries("second", second);
    FUZZ_CHECK(first == second);
  }
  FUZZ_CHECK(firstEnding == secondEnding);

  // A rewritten record holds this run's verdicts; one left alone held them
  // already, unless it is too old for the files to be trusted at all.
  for (size_t k = 0; k < second.size() && k < 262144; ++k) {
    if (fixtures.count(second[k].name) == 0) continue;
    if (rewritten) FUZZ_CHECK(second[k].answer == verdict(first[k]));
    else if (second[k].answer == 1) FUZZ_CHECK(verdict(first[k]));
  }
  return 0;
}
