#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/scratch_dir.h"

// The scratch directory of this fuzzer process, made on first use (tmpfs
// where there is one: every run writes files, some of them synced; run.sh
// names a directory of its own, which it removes even after a crash) and
// removed at exit.
inline scratchDir*& fuzzScratch() {
  static scratchDir* directory = nullptr;
  return directory;
}

inline const scratchDir& scratchDirectory() {
  scratchDir*& directory = fuzzScratch();
  if (directory == nullptr) {
    const char* base = getenv("ZORVIK_FUZZ_TMP");
    directory = new scratchDir(base != nullptr ? base : access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
    atexit([] { delete fuzzScratch(); });
  }
  return *directory;
}

inline void writeFile(const std::string& path, const unsigned char* data, size_t size) {
  FILE* file = fopen(path.c_str(), "wb");
  if (file == nullptr || fwrite(data, 1, size, file) != size || fclose(file) != 0) {
    perror(path.c_str());
    abort();
  }
}

// Aborts with a message when `condition` is false; the fuzzer reports it.
#define FUZZ_CHECK(condition)                                                 \
  do {                                                                        \
    if (!(condition)) {                                                       \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      abort();                                                                \
    }                                                                         \
  } while (0)

// Prints entries (a name and its hash bytes) to standard error, names as
// escaped bytes, so that a failed comparison can be read.
template <class Entry>
void dumpEntries(const char* title, const std::vector<Entry>& entries) {
  fprintf(stderr, "%s: %zu entries\n", title, entries.size());
  for (const Entry& e : entries) {
    fprintf(stderr, "  \"");
    for (wchar_t c : e.name) {
      if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') fputc(static_cast<int>(c), stderr);
      else fprintf(stderr, "\\x%02X", static_cast<unsigned>(c));
    }
    fprintf(stderr, "\" ");
    for (unsigned char b : e.hash) fprintf(stderr, "%02x", b);
    fputc('\n', stderr);
  }
}
