#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <zorvik/hasher.h>
#include <zorvik/text.h>

#include "support/scratch_dir.h"

// A byte that depends on its offset at every scale the ring works in
// (byte, 8192-byte piece, 4 MiB window), so a chunk out of place shows.
inline unsigned char patternByte(unsigned long long offset) {
  return static_cast<unsigned char>(offset * 31 ^ offset >> 13 ^ offset >> 22);
}

// Writes `size` pattern bytes, or a hole of that size with the pattern only
// in its first MiB (big files stay cheap, and can be cut or grown in place).
inline void makeFile(const std::string& path, unsigned long long size, bool sparse = false) {
  int fd = open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
  ASSERT_GE(fd, 0);
  const unsigned long long edge = 1 << 20;
  std::vector<unsigned char> block(1 << 20);
  auto writeRange = [&](unsigned long long from, unsigned long long to) {
    for (unsigned long long at = from; at < to;) {
      size_t n = static_cast<size_t>(std::min<unsigned long long>(block.size(), to - at));
      for (size_t i = 0; i < n; ++i) block[i] = patternByte(at + i);
      ASSERT_EQ(pwrite(fd, block.data(), n, static_cast<off_t>(at)), static_cast<ssize_t>(n));
      at += n;
    }
  };
  writeRange(0, sparse ? std::min(size, edge) : size);
  ASSERT_EQ(ftruncate(fd, static_cast<off_t>(size)), 0);
  close(fd);
}

// What a file made by makeFile holds at `offset`.
inline unsigned char expectedByte(unsigned long long offset, bool sparse) {
  const unsigned long long edge = 1 << 20;
  return sparse && offset >= edge ? 0 : patternByte(offset);
}

inline std::wstring widen(const std::string& narrow) {
  std::vector<wchar_t> wide(narrow.size() + 1);
  EXPECT_GE(bytesToWide(wide.data(), narrow.c_str(), wide.size()), 0);
  return wide.data();
}

// A hasher that records what it is fed and checks it against the files
// that makeFile writes. Its "hash" is the byte count, so a test can tell a
// complete run from a short one. Optionally sleeps after each chunk.
class recordingHasher : public hasher {
public:
  unsigned long long fileSize = 0;
  bool sparse = false;
  useconds_t sleepPerChunk = 0;    // after reading the chunk
  useconds_t sleepBeforeChunk = 0;  // before reading it
  std::function<void(size_t)> afterChunk;

  std::atomic<int> inits{0};
  std::atomic<int> finals{0};
  std::atomic<size_t> chunkCount{0};
  std::atomic<size_t> entered{0};
  std::vector<unsigned int> lengths;
  unsigned long long position = 0;
  unsigned long long misplaced = 0;

  virtual ~recordingHasher() {}
  void init() override {
    ++inits;
    lengths.clear();
    chunkCount = 0;
    entered = 0;
    position = 0;
    misplaced = 0;
  }
  void update(unsigned char* data, unsigned int length) override {
    ++entered;
    if (sleepBeforeChunk != 0) usleep(sleepBeforeChunk);
    lengths.push_back(length);
    const unsigned long long edge = 1 << 20;
    if (sparse && position >= edge) {
      if (length > 0 && !looksZero(data, length)) ++misplaced;
    } else {
      for (unsigned int i = 0; i < length; ++i)
        if (data[i] != expectedByte(position + i, sparse)) ++misplaced;
    }
    position += length;
    ++chunkCount;
    if (sleepPerChunk != 0) usleep(sleepPerChunk);
    if (afterChunk) afterChunk(chunkCount);
  }
  void finalize() override {
    ++finals;
    memcpy(_digest, &position, sizeof position);
  }
  const unsigned char* hash() const override { return _digest; }
  int hash_size() const override { return sizeof _digest; }

private:
  static bool looksZero(const unsigned char* data, unsigned int length) {
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
    // Checked ranges cost these builds dearly per byte: sample the chunk.
    return data[0] == 0 && data[length / 2] == 0 && data[length - 1] == 0;
#else
    // All zero: the first byte is, and every byte equals the next.
    return data[0] == 0 && memcmp(data, data + 1, length - 1) == 0;
#endif
  }

  unsigned char _digest[8] = {};
};
