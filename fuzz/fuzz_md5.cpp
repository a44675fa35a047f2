// An MD5 list read to the end; every entry read is written to a new list
// and must read back the same.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <zorvik/container.h>
#include <zorvik/text.h>

#include "fuzz_support.h"

namespace {

struct entry {
  std::wstring name;
  unsigned char hash[16];
  bool operator==(const entry& other) const {
    return name == other.name && memcmp(hash, other.hash, 16) == 0;
  }
};

std::vector<entry> readAll(const wchar_t* path, int* ending) {
  md5 list;
  FUZZ_CHECK(list.open(path) == 0);
  std::vector<entry> entries;
  wchar_t name[512];
  unsigned char hash[64];
  unsigned long long size;
  int result;
  while ((result = list.getNextFile(name, 512, &size, hash)) > 0) {
    FUZZ_CHECK(size == ~0ULL);
    FUZZ_CHECK(wcsnlen(name, 512) < 512);
    FUZZ_CHECK(result >= 34);
    entry e;
    e.name = name;
    memcpy(e.hash, hash, 16);
    entries.push_back(e);
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
  static const std::string inPath = scratchDirectory().file("list.md5");
  static const std::string outPath = scratchDirectory().file("again.md5");

  writeFile(inPath, data, size);
  int ending;
  std::vector<entry> entries = readAll(widen(inPath), &ending);
  FUZZ_CHECK(ending <= 0);

  md5 writer;
  FUZZ_CHECK(writer.create(widen(outPath)) == 0);
  for (const entry& e : entries) FUZZ_CHECK(writer.addFile(e.name.c_str(), e.hash) == 0);
  FUZZ_CHECK(writer.close() == 0);

  int againEnding;
  std::vector<entry> again = readAll(widen(outPath), &againEnding);
  FUZZ_CHECK(againEnding == 0);
  if (again != entries) {
    dumpEntries("read", entries);
    dumpEntries("read again", again);
    FUZZ_CHECK(again == entries);
  }
  return 0;
}
