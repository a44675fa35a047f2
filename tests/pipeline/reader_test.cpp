#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

#include <gtest/gtest.h>
#include <zorvik/pipeline.h>

#include "pipeline_support.h"

namespace {

struct delivery {
  std::vector<unsigned int> lengths;
  unsigned long long misplaced = 0;
  int error = 0;
};

// Takes every chunk of `path` (made by makeFile) from `r` and checks it.
delivery readAll(reader& r, const std::string& path, unsigned long long size, bool sparse) {
  delivery d;
  recordingHasher check;
  check.fileSize = size;
  check.sparse = sparse;
  check.init();
  FILE* f = fopen(path.c_str(), "rb");
  EXPECT_NE(f, nullptr);
  if (f == nullptr) return d;
  r.processFile(f, size);
  unsigned char* data = nullptr;
  unsigned int length = 0;
  while (r.wait(&data, &length)) check.update(data, length);
  d.lengths = check.lengths;
  d.misplaced = check.misplaced;
  d.error = r.getError();
  fclose(f);
  return d;
}

std::vector<unsigned int> expectedChunks(unsigned long long size, unsigned int piece, size_t count) {
  std::vector<unsigned int> chunks(count, piece);
  chunks.back() = static_cast<unsigned int>(size - piece * (count - 1ULL));
  return chunks;
}

// Windows come from buffers once the consumer asked for them, else from
// mappings; either way in the same chunks.
TEST(Reader, WindowChunkSequences) {
  scratchDir dir;
  struct {
    unsigned long long size;
    size_t chunks;
  } cases[] = {{4194304, 1}, {10000000, 3}, {1, 1}, {4194305, 2}, {9 * 4194304 + 1, 10}};
  for (bool buffered : {false, true}) {
    reader r;
    r.start();
    if (buffered) {
      ASSERT_NE(r.windowBuffer(0), nullptr);
    }
    for (auto& c : cases) {
      std::string path = dir.file("m" + std::to_string(c.size));
      makeFile(path, c.size);
      delivery d = readAll(r, path, c.size, false);
      EXPECT_EQ(d.lengths, expectedChunks(c.size, 4194304, c.chunks)) << c.size << buffered;
      EXPECT_EQ(d.misplaced, 0u) << c.size << buffered;
      EXPECT_EQ(d.error, 0) << c.size << buffered;
    }
  }
}

// The same sparse file at 1,000,000,000 bytes (streamed) and one byte
// shorter (mapped); every byte arrives once and in order.
TEST(Reader, ModeFollowsSizeAtTheBillionBoundary) {
  scratchDir dir;
  std::string path = dir.file("big");
  reader r;
  r.start();
  makeFile(path, 1000000000ULL, true);
  delivery streamed = readAll(r, path, 1000000000ULL, true);
  EXPECT_EQ(streamed.lengths, expectedChunks(1000000000ULL, 8192, 122071));
  EXPECT_EQ(streamed.misplaced, 0u);
  ASSERT_EQ(truncate(path.c_str(), 999999999LL), 0);
  delivery mapped = readAll(r, path, 999999999ULL, true);
  EXPECT_EQ(mapped.lengths, expectedChunks(999999999ULL, 4194304, 239));
  EXPECT_EQ(mapped.misplaced, 0u);
}

// A slow consumer: the reader (whose stream offset shows how far it read)
// runs up to eight pieces ahead, counting the one held, and never further.
TEST(Reader, SlowConsumerKeepsReaderWithinEightSlots) {
  scratchDir dir;
  std::string path = dir.file("slow");
  makeFile(path, 1000000000ULL, true);
  reader r;
  r.start();
  FILE* f = fopen(path.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  r.processFile(f, 1000000000ULL);
  unsigned char* data = nullptr;
  unsigned int length = 0;
  long long start = 0;
  long long furthest = 0;
  for (int chunk = 0; chunk < 40; ++chunk) {
    ASSERT_TRUE(r.wait(&data, &length));
    ASSERT_EQ(length, 8192u);
    EXPECT_EQ(data[0], patternByte(static_cast<unsigned long long>(start)));
    usleep(2000);
    long long ahead = lseek(fileno(f), 0, SEEK_CUR) - start;
    EXPECT_LE(ahead, 8 * 8192);
    furthest = std::max(furthest, ahead);
    start += length;
  }
  EXPECT_EQ(furthest, 8 * 8192);
  r.abandon(EIO);
  EXPECT_EQ(r.getError(), EIO);
  fclose(f);
  // The next job starts clean.
  std::string small = dir.file("small");
  makeFile(small, 100);
  delivery d = readAll(r, small, 100, false);
  EXPECT_EQ(d.lengths, std::vector<unsigned int>{100});
  EXPECT_EQ(d.error, 0);
}

// Reads past a shrunken end fail the job instead of waiting for bytes that
// never come; a window of a descriptor that cannot be mapped or read at an
// offset fails too.
TEST(Reader, FailuresEndTheJobWithTheirErrno) {
  scratchDir dir;
  std::string path = dir.file("short");
  makeFile(path, 100000);
  for (bool buffered : {false, true}) {
    reader r;
    r.start();
    if (buffered) {
      ASSERT_NE(r.windowBuffer(0), nullptr);
    }
    delivery shrunk = readAll(r, path, 1000000000ULL, false);  // claims more than there is
    EXPECT_EQ(shrunk.error, EIO);
    EXPECT_LE(shrunk.lengths.size(), 13u);
    if (buffered) {  // (a mapping would fault only when read)
      delivery shrunkWindow = readAll(r, path, 3 * 4194304, false);
      EXPECT_EQ(shrunkWindow.error, EIO);
      EXPECT_EQ(shrunkWindow.lengths.size(), 0u);
    }

    FILE* pipeEnd = popen("true", "r");
    ASSERT_NE(pipeEnd, nullptr);
    r.processFile(pipeEnd, 4096);
    unsigned char* data = nullptr;
    unsigned int length = 0;
    EXPECT_FALSE(r.wait(&data, &length));
    EXPECT_EQ(r.getError(), buffered ? ESPIPE : ENODEV);
    pclose(pipeEnd);

    delivery fine = readAll(r, path, 100000, false);
    EXPECT_EQ(fine.error, 0);
    EXPECT_EQ(fine.misplaced, 0u);
  }
}

// Jobs handed over the moment the previous one ended (or was abandoned):
// each starts from its own first byte, in its own mode, with its own error.
TEST(Reader, BackToBackJobsHandOverCleanly) {
  scratchDir dir;
  std::string big = dir.file("big");
  std::string mapped = dir.file("mapped");
  makeFile(big, 1000000000ULL, true);
  makeFile(mapped, 5 * 4194304 + 17, true);
  reader r;
  r.start();
  for (int round = 0; round < 24; ++round) {
    if (round == 12) {
      ASSERT_NE(r.windowBuffer(0), nullptr);  // windows from buffers from now on
    }
    FILE* f = fopen(big.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    r.processFile(f, 1000000000ULL);
    unsigned char* data = nullptr;
    unsigned int length = 0;
    for (int chunk = 0; chunk <= round % 12; ++chunk) {
      ASSERT_TRUE(r.wait(&data, &length));
      ASSERT_EQ(length, 8192u);
      ASSERT_EQ(data[5], patternByte(chunk * 8192ULL + 5));
    }
    r.abandon(EIO);
    EXPECT_EQ(r.getError(), EIO);
    fclose(f);
    delivery d = readAll(r, mapped, 5 * 4194304 + 17, true);
    ASSERT_EQ(d.lengths, expectedChunks(5 * 4194304 + 17, 4194304, 6)) << round;
    ASSERT_EQ(d.misplaced, 0u) << round;
    ASSERT_EQ(d.error, 0) << round;
  }
}

}  // namespace
