#pragma once

// The round trip of the fuzzers of GNU-style lists: a list read to the end,
// every entry written to a new list of the same kind, which must read back
// with the same entries.

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <zorvik/container.h>
#include <zorvik/error.h>
#include <zorvik/text.h>

#include "fuzz_support.h"

struct listed_entry {
  std::wstring name;
  std::vector<unsigned char> hash;
  bool operator==(const listed_entry& other) const { return name == other.name && hash == other.hash; }
};

// `path` as the containers take it; valid until the call after the next.
inline wchar_t* widen(const std::string& path) {
  static wchar_t buffers[2][512];
  static int next;
  wchar_t* out = buffers[next++ & 1];
  FUZZ_CHECK(bytesToWide(out, path.c_str(), 512) > 0);
  return out;
}

// Every entry of the list at `path`, read by a container from `make` as a
// verify run reads it, invalid lines passed over, with the `digestSize`
// bytes of its hash.
template <class Make>
std::vector<listed_entry> readEntries(Make make, size_t digestSize, const std::string& path) {
  std::unique_ptr<container> list(make());
  FUZZ_CHECK(list->open(widen(path)) == 0);
  std::vector<listed_entry> entries;
  wchar_t name[512];
  unsigned char hash[64];
  unsigned long long size;
  int result;
  while ((result = list->getNextFile(name, 512, &size, hash)) > 0 || result == error::invalid_line) {
    if (result < 0) continue;
    FUZZ_CHECK(size == ~0ULL);
    FUZZ_CHECK(wcsnlen(name, 512) < 512);
    FUZZ_CHECK(static_cast<size_t>(result) >= 2 * digestSize + 2);
    entries.push_back({name, std::vector<unsigned char>(hash, hash + digestSize)});
    FUZZ_CHECK(list->isPreviouslyVerified(name) == 0);
    FUZZ_CHECK(list->setPreviouslyVerified(true) == 0);
  }
  FUZZ_CHECK(result == 0);
  FUZZ_CHECK(list->close() == 0);
  return entries;
}

// Reads the list at `in`, writes its entries to `out` and reads them back.
template <class Make>
void roundTrip(Make make, size_t digestSize, const std::string& in, const std::string& out) {
  std::vector<listed_entry> entries = readEntries(make, digestSize, in);
  std::unique_ptr<container> writer(make());
  FUZZ_CHECK(writer->create(widen(out)) == 0);
  for (const listed_entry& e : entries) FUZZ_CHECK(writer->addFile(e.name.c_str(), e.hash.data()) == 0);
  FUZZ_CHECK(writer->close() == 0);
  std::vector<listed_entry> again = readEntries(make, digestSize, out);
  if (again != entries) {
    dumpEntries("read", entries);
    dumpEntries("read again", again);
    FUZZ_CHECK(again == entries);
  }
}
