#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>

#include <gtest/gtest.h>
#include <zorvik/error.h>
#include <zorvik/pipeline.h>

#include "pipeline/exported/window_memory.h"
#include "pipeline_support.h"

namespace {

unsigned long long hashedBytes(const recordingHasher& h) {
  unsigned long long n;
  memcpy(&n, h.hash(), sizeof n);
  return n;
}

struct job {
  std::string name;
  unsigned long long size;  // of the file to make
  bool sparse;
  int result;
  int progress;
  bool touchesHasher;
};

// One processor, many jobs of every kind in a row: each has its own result
// and progress, whatever the job before it did.
TEST(Processor, JobsInARowEachDescribeThemselves) {
  scratchDir dir;
  const bool root = geteuid() == 0;
  makeFile(dir.file("locked"), 1000);
  chmod(dir.file("locked").c_str(), 0);
  makeFile(dir.file("plain"), 5);
  const std::string unreadable = root ? "plain/below" : "locked";
  const int unreadableResult = root ? error::unknown_error : error::access_denied;
  std::vector<job> jobs = {
      {"mapped", 10000000, false, error::ok, 100, true},
      {"missing", 0, false, error::file_not_found, 0, false},
      {"streamed", 1000000000ULL, true, error::ok, 100, true},
      {"empty", 0, false, error::ok, 100, true},
      {unreadable, 0, false, unreadableResult, 0, false},
      {"oneWindow", 4194304, false, error::ok, 100, true},
      {"tiny", 100, false, error::ok, 100, true},
      {"empty2", 0, false, error::ok, 100, true},
  };
  processor p;
  p.start();
  recordingHasher h;
  for (const job& j : jobs) {
    if (j.name != "missing" && j.name != unreadable) makeFile(dir.file(j.name), j.size, j.sparse);
    h.fileSize = j.size;
    h.sparse = j.sparse;
    int initsBefore = h.inits;
    std::wstring path = widen(dir.file(j.name));
    ASSERT_EQ(p.processFile(path.c_str(), &h), error::ok);
    EXPECT_TRUE(p.wait());
    EXPECT_EQ(p.getResult(), j.result) << j.name;
    EXPECT_EQ(p.getProgress(), j.progress) << j.name;
    EXPECT_EQ(h.inits - initsBefore, j.touchesHasher ? 1 : 0) << j.name;
    if (j.touchesHasher) {
      EXPECT_EQ(h.inits.load(), h.finals.load()) << j.name;
      EXPECT_EQ(hashedBytes(h), j.size) << j.name;
      EXPECT_EQ(h.misplaced, 0u) << j.name;
    }
    EXPECT_FALSE(p.wait(0)) << "one completion per job";
    if (j.name == "streamed") unlink(dir.file(j.name).c_str());
  }
}

TEST(Processor, WaitsTakeEachCompletionOnce) {
  scratchDir dir;
  makeFile(dir.file("f"), 3 * 4194304);
  processor p;
  p.start();
  recordingHasher h;
  h.fileSize = 3 * 4194304;
  h.sleepPerChunk = 50000;
  std::wstring path = widen(dir.file("f"));
  ASSERT_EQ(p.processFile(path.c_str(), &h), error::ok);
  EXPECT_FALSE(p.wait(0));
  EXPECT_FALSE(p.wait(10));
  EXPECT_TRUE(p.wait(20000));
  EXPECT_FALSE(p.wait(0));
  EXPECT_EQ(p.getResult(), error::ok);
  ASSERT_EQ(p.processFile(path.c_str(), &h), error::ok);
  while (!p.wait(0)) usleep(1000);
  EXPECT_FALSE(p.wait(0));
  EXPECT_EQ(hashedBytes(h), 3u * 4194304);
}

TEST(Processor, ProgressOfAMappedFileFollowsItsWindows) {
  scratchDir dir;
  makeFile(dir.file("f"), 10000000);
  processor p;
  p.start();
  recordingHasher h;
  h.fileSize = 10000000;
  std::vector<int> seen;
  h.afterChunk = [&](size_t) { seen.push_back(p.getProgress()); };
  std::wstring path = widen(dir.file("f"));
  ASSERT_EQ(p.processFile(path.c_str(), &h), error::ok);
  p.wait();
  // Read before each chunk's own update of the progress.
  EXPECT_EQ(seen, (std::vector<int>{0, 41, 83}));
  EXPECT_EQ(p.getProgress(), 100);
}

TEST(Processor, ShutdownIdleAndUnstarted) {
  { processor idle; idle.start(); }
  { processor neverStarted; }
  processor p;
  p.start();
  scratchDir dir;
  makeFile(dir.file("f"), 10);
  recordingHasher h;
  h.fileSize = 10;
  std::wstring path = widen(dir.file("f"));
  ASSERT_EQ(p.processFile(path.c_str(), &h), error::ok);
  p.wait();
  EXPECT_EQ(p.getResult(), error::ok);
}

// Destroying a busy processor hashes the current file to its end first.
TEST(Processor, ShutdownWhileBusyFinishesTheJob) {
  scratchDir dir;
  makeFile(dir.file("f"), 6 * 4194304);
  recordingHasher h;
  h.fileSize = 6 * 4194304;
  h.sleepPerChunk = 20000;
  std::wstring path = widen(dir.file("f"));
  {
    processor p;
    p.start();
    ASSERT_EQ(p.processFile(path.c_str(), &h), error::ok);
    while (h.chunkCount == 0) usleep(1000);
  }
  EXPECT_EQ(h.finals.load(), 1);
  EXPECT_EQ(hashedBytes(h), 6u * 4194304);
  EXPECT_EQ(h.misplaced, 0u);
}

// A file cut short under the hasher ends its job with File read error, and
// the process lives on: reads meet the end of file early, and mapped pages
// that vanish raise SIGBUS (in a window from the reader, or in a file mapped
// whole). A file read whole before the cut keeps the bytes it had.
void truncateWhileHashed(bool mappedWindows) {
  window_memory::refuse = mappedWindows;
  scratchDir dir;
  processor p;
  p.start();
  struct {
    const char* name;
    unsigned long long size;
    bool sparse;
    size_t cutAfter;  // chunks entered
    bool readBeforeCut;
  } cases[] = {{"mapped", 8 * 4194304, false, 2, false},
               {"whole", 3 << 20, false, 1, !mappedWindows},
               {"streamed", 1000000000ULL, true, 2, false}};
  for (auto& c : cases) {
    std::string file = dir.file(c.name);
    makeFile(file, c.size, c.sparse);
    recordingHasher h;
    h.fileSize = c.size;
    h.sparse = c.sparse;
    h.sleepBeforeChunk = c.sparse ? 2000 : 30000;
    std::wstring path = widen(file);
    ASSERT_EQ(p.processFile(path.c_str(), &h), error::ok);
    while (h.entered < c.cutAfter) usleep(500);
    ASSERT_EQ(truncate(file.c_str(), 4096), 0);
    p.wait();
    EXPECT_EQ(h.finals.load(), 1) << c.name;
    if (c.readBeforeCut) {
      EXPECT_EQ(p.getResult(), error::ok) << c.name;
      EXPECT_EQ(hashedBytes(h), c.size) << c.name;
      EXPECT_EQ(h.misplaced, 0u) << c.name;
      continue;
    }
    EXPECT_EQ(p.getResult(), error::file_read_error) << c.name;
    EXPECT_LT(p.getProgress(), 100) << c.name;
    EXPECT_LT(hashedBytes(h), c.size) << c.name;
  }
  // The next job is unaffected.
  makeFile(dir.file("after"), 5000000);
  recordingHasher h;
  h.fileSize = 5000000;
  std::wstring path = widen(dir.file("after"));
  ASSERT_EQ(p.processFile(path.c_str(), &h), error::ok);
  p.wait();
  EXPECT_EQ(p.getResult(), error::ok);
  EXPECT_EQ(hashedBytes(h), 5000000u);
  EXPECT_EQ(h.misplaced, 0u);
  window_memory::refuse = false;
}

TEST(Processor, FileTruncatedWhileHashedIsAReadError) { truncateWhileHashed(false); }

TEST(Processor, FileTruncatedWhileMappedIsAReadError) { truncateWhileHashed(true); }

// A file that grows while it is hashed is hashed to its end, as is one
// whose size says nothing (those of /proc).
TEST(Processor, FileIsHashedToItsEnd) {
  scratchDir dir;
  std::string file = dir.file("growing");
  for (unsigned long long size : {2000000ULL, 10000000ULL, 1000000000ULL}) {
    makeFile(file, size, true);
    processor p;
    p.start();
    recordingHasher h;
    h.fileSize = size + 1000000;
    h.sparse = true;
    h.afterChunk = [&](size_t n) {
      if (n == 1) {
        ASSERT_EQ(truncate(file.c_str(), static_cast<off_t>(size + 1000000)), 0);
      }
    };
    std::wstring path = widen(file);
    ASSERT_EQ(p.processFile(path.c_str(), &h), error::ok);
    p.wait();
    EXPECT_EQ(p.getResult(), error::ok) << size;
    EXPECT_EQ(hashedBytes(h), size + 1000000) << size;
    EXPECT_EQ(h.misplaced, 0u) << size;
  }
  processor p;
  p.start();
  recordingHasher h;
  ASSERT_EQ(p.processFile(L"/proc/self/status", &h), error::ok);
  p.wait();
  EXPECT_EQ(p.getResult(), error::ok);
  EXPECT_GT(hashedBytes(h), 0u);
}

// Names are bytes: 0x80-0xFF pass through whatever the locale variables say.
TEST(Processor, HighByteNamesOpenWithoutLocale) {
  unsetenv("LANG");
  unsetenv("LC_ALL");
  scratchDir dir;
  std::string file = dir.file("caf\xe9-\x80\xff");
  makeFile(file, 777);
  processor p;
  p.start();
  recordingHasher h;
  h.fileSize = 777;
  std::wstring path = widen(file);
  ASSERT_EQ(path.back(), static_cast<wchar_t>(0xFF));
  ASSERT_EQ(p.processFile(path.c_str(), &h), error::ok);
  p.wait();
  EXPECT_EQ(p.getResult(), error::ok);
  EXPECT_EQ(hashedBytes(h), 777u);
  EXPECT_EQ(h.misplaced, 0u);
}

// Without its worker threads a processor refuses jobs instead of accepting
// one that never completes.
TEST(Processor, MissingWorkerThreadRefusesJobs) {
  pthread_attr_t huge, saved;
  pthread_getattr_default_np(&saved);
  pthread_attr_init(&huge);
  pthread_attr_setstacksize(&huge, 1ULL << 46);  // more than the address space allows
  pthread_setattr_default_np(&huge);
  auto p = std::make_unique<processor>();
  pthread_setattr_default_np(&saved);
  pthread_attr_destroy(&huge);
  pthread_attr_destroy(&saved);
  if (p->isCreated()) GTEST_SKIP() << "thread creation did not fail here";
  p->start();
  recordingHasher h;
  EXPECT_EQ(p->processFile(L"/nonexistent", &h), error::unknown_error);
  EXPECT_FALSE(p->wait(0));
  p.reset();
  EXPECT_EQ(h.inits.load(), 0);
}

}  // namespace
