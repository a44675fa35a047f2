// The hashing engine: results in order whatever finishes first, the same
// bytes with any number of workers, a bounded window, cached data read in
// parallel on a disk marked rotational, workers' scheduling policy, and
// shutdown with jobs queued.
#include <zorvik/engine.h>
#include <zorvik/error.h>

#include <dirent.h>
#include <pthread.h>
#include <sched.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "hash/crc_impl.h"
#include "pipeline/disk_turn.h"
#include "pipeline/file_reader.h"
#include "pipeline/rotational.h"
#include "pipeline_support.h"

namespace {

// The seam's state: reads of job 0 are slowed, overlapping reads counted.
std::atomic<int> g_inside{0}, g_mostInside{0}, g_reads{0};
useconds_t g_slowFirst = 0, g_slowEach = 0;

void countRead(unsigned long long sequence) {
  int inside = ++g_inside;
  for (int most = g_mostInside; inside > most && !g_mostInside.compare_exchange_weak(most, inside);) {
  }
  ++g_reads;
  usleep(sequence == 0 ? g_slowFirst : g_slowEach);
  --g_inside;
}

class Engine : public ::testing::Test {
protected:
  void SetUp() override {
    g_inside = g_mostInside = g_reads = 0;
    g_slowFirst = g_slowEach = 0;
    g_engineBeforeRead = countRead;
  }
  void TearDown() override { g_engineBeforeRead = nullptr; }

  // The expected hash bytes of a file made by makeFile.
  static std::vector<unsigned char> expected(const std::string& path, int algorithm) {
    std::vector<unsigned char> bytes(algorithm == engine::crc32 ? 4 : 16);
    FILE* f = fopen(path.c_str(), "rb");
    std::vector<unsigned char> buffer(1 << 20);
    uint32_t reg = 0xFFFFFFFFu;
    MD5_CTX md5;
    MD5Init(&md5);
    for (size_t n; (n = fread(buffer.data(), 1, buffer.size(), f)) > 0;) {
      reg = zorvik::crcUpdate(reg, buffer.data(), n);
      MD5Update(&md5, buffer.data(), static_cast<unsigned int>(n));
    }
    fclose(f);
    reg = ~reg;
    if (algorithm == engine::crc32)
      memcpy(bytes.data(), &reg, 4);
    else
      MD5Final(bytes.data(), &md5);
    return bytes;
  }

  scratchDir _dir;
};

TEST_F(Engine, ResultsComeInOrderWhenLaterJobsFinishFirst) {
  std::vector<std::string> files;
  for (int i = 0; i < 20; ++i) {
    files.push_back(_dir.file("f" + std::to_string(i)));
    makeFile(files.back(), 1000 + static_cast<unsigned long long>(i));
  }
  g_slowFirst = 300000;
  engine hashing(4);
  for (size_t i = 0; i < files.size(); ++i)
    ASSERT_EQ(hashing.submit(widen(files[i]).c_str(), engine::md5, 0, &files[i]), 0);
  EXPECT_FALSE(hashing.ready());  // the first job is still asleep
  for (size_t i = 0; i < files.size(); ++i) {
    const engine::result* result = hashing.take(-1);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->tag, &files[i]);
    EXPECT_EQ(result->code, 0);
    EXPECT_EQ(std::vector<unsigned char>(result->hash, result->hash + 16), expected(files[i], engine::md5));
  }
  EXPECT_EQ(hashing.take(0), nullptr);
  EXPECT_GE(g_mostInside.load(), 2);
}

// Every size around the read and piece boundaries, a big file cut into
// pieces, a missing file and a directory: the same with 1, 2 and 5 workers.
TEST_F(Engine, SameResultsWithAnyNumberOfWorkers) {
  std::vector<std::pair<std::string, unsigned long long>> sizes = {
      {"empty", 0}, {"one", 1}, {"b63", 63}, {"b64", 64}, {"b65", 65}, {"read", 524288 + 1},
      {"w-1", 4194303}, {"w+1", 4194305}, {"ten", 10000000}, {"big", (96ULL << 20) + 12345}};
  std::vector<std::string> paths;
  for (auto& s : sizes) {
    paths.push_back(_dir.file(s.first));
    makeFile(paths.back(), s.second, true);
  }
  paths.push_back(_dir.file("missing"));
  paths.push_back(_dir.file(""));  // the directory itself
  for (int algorithm : {engine::crc32, engine::md5}) {
    for (int workers : {1, 2, 5}) {
      engine hashing(workers);
      EXPECT_EQ(hashing.workers(), workers);
      for (const std::string& path : paths)
        ASSERT_EQ(hashing.submit(widen(path).c_str(), algorithm, engine::regularOnly, nullptr), 0);
      for (size_t i = 0; i < paths.size(); ++i) {
        const engine::result* result = hashing.take(-1);
        ASSERT_NE(result, nullptr);
        SCOPED_TRACE(paths[i] + " workers " + std::to_string(workers));
        if (i == sizes.size()) {
          EXPECT_EQ(result->code, error::file_not_found);
          EXPECT_EQ(result->opened.st_ino, 0u);
        } else if (i == sizes.size() + 1) {
          EXPECT_TRUE(result->notRegular);
          EXPECT_EQ(result->code, error::file_read_error);
        } else {
          ASSERT_EQ(result->code, 0);
          EXPECT_EQ(result->size, sizes[i].second);
          struct stat status;
          ASSERT_EQ(stat(paths[i].c_str(), &status), 0);
          EXPECT_EQ(result->opened.st_ino, status.st_ino);
          EXPECT_EQ(result->opened.st_dev, status.st_dev);
          EXPECT_EQ(result->opened.st_ctim.tv_nsec, status.st_ctim.tv_nsec);
          size_t n = algorithm == engine::crc32 ? 4 : 16;
          EXPECT_EQ(std::vector<unsigned char>(result->hash, result->hash + n), expected(paths[i], algorithm));
        }
      }
      unsigned long long total = 0;
      for (auto& s : sizes) total += s.second;
      EXPECT_EQ(hashing.bytesHashed(), total);
      EXPECT_EQ(hashing.bytesOpened(), total);
    }
  }
}

TEST_F(Engine, JobsInFlightAreBounded) {
  std::string file = _dir.file("f");
  makeFile(file, 10);
  std::wstring path = widen(file);
  engine hashing(2);
  int submitted = 0;
  while (!hashing.full()) {
    ASSERT_EQ(hashing.submit(path.c_str(), engine::crc32, 0, nullptr), 0);
    ++submitted;
  }
  EXPECT_EQ(submitted, 1024);
  EXPECT_EQ(hashing.pending(), 1024);
  EXPECT_EQ(hashing.submit(path.c_str(), engine::crc32, 0, nullptr), error::invalid_arguments);
  ASSERT_NE(hashing.take(-1), nullptr);
  EXPECT_FALSE(hashing.full());
  EXPECT_EQ(hashing.submit(path.c_str(), engine::crc32, 0, nullptr), 0);
}

// A disk that spins takes one reader of uncached data at a time; data the
// page cache holds is still read by every worker at once.
TEST_F(Engine, CachedDataIsReadInParallelOnADiskMarkedRotational) {
  std::vector<std::string> files;
  for (int i = 0; i < 8; ++i) {
    files.push_back(_dir.file("c" + std::to_string(i)));
    makeFile(files.back(), 3000000);  // just written: in the page cache
  }
  struct stat status;
  ASSERT_EQ(stat(files[0].c_str(), &status), 0);
  if (major(status.st_dev) == 0) GTEST_SKIP() << "the scratch directory has no block device";
  std::string root = _dir.file("sys");
  std::string entry = root + "/dev/block/" + std::to_string(major(status.st_dev)) + ":" +
                      std::to_string(minor(status.st_dev));
  ASSERT_EQ(std::system(("mkdir -p '" + entry + "/queue' && echo 1 > '" + entry + "/queue/rotational'").c_str()), 0);
  setSysfsRoot(root.c_str());
  ASSERT_TRUE(isRotational(status.st_dev));
  unsigned long long uncachedBefore = disk_turn::uncachedReads();
  g_slowEach = 20000;
  {
    engine hashing(2);
    for (const std::string& file : files) ASSERT_EQ(hashing.submit(widen(file).c_str(), engine::crc32, 0, nullptr), 0);
    for (const std::string& file : files) {
      const engine::result* result = hashing.take(-1);
      ASSERT_NE(result, nullptr);
      EXPECT_EQ(std::vector<unsigned char>(result->hash, result->hash + 4), expected(file, engine::crc32));
    }
  }
  setSysfsRoot("/sys");
  EXPECT_EQ(disk_turn::uncachedReads(), uncachedBefore);
  EXPECT_EQ(g_mostInside.load(), 2);
}

// The policy of a worker asleep for want of work, once one is (-1: none
// within 5 s).
int policyOfASleepingWorker() {
  for (int tries = 0; tries < 5000; ++tries, usleep(1000)) {
    DIR* tasks = opendir("/proc/self/task");
    if (tasks == nullptr) return -1;
    int policy = -1;
    while (dirent* task = readdir(tasks)) {
      // "tid (name) state ...": a worker, and asleep.
      char stat[512] = {};
      FILE* f = fopen((std::string("/proc/self/task/") + task->d_name + "/stat").c_str(), "r");
      if (f == nullptr) continue;
      bool asleep = fgets(stat, sizeof stat, f) != nullptr && strstr(stat, "(hasher) S ") != nullptr;
      fclose(f);
      if (asleep) policy = sched_getscheduler(atoi(task->d_name));
    }
    closedir(tasks);
    if (policy >= 0) return policy;
  }
  return -1;
}

// Workers of a caller under the default policy sleep as batch threads, so
// that waking one does not take the caller's CPU from it, and hash under
// the default, so that a wait for the disk ends at once. A caller under a
// policy of its own passes it on unchanged.
TEST_F(Engine, WorkersSleepAsBatchThreadsUnlessTheCallerChoseAPolicy) {
  std::string file = _dir.file("f");
  makeFile(file, 4096);
  std::wstring path = widen(file);
  static std::atomic<int> hashingPolicy;
  g_slowEach = 1000;  // the caller, left waiting, never hashes a job itself
  g_engineBeforeRead = [](unsigned long long) {
    char name[16] = {};
    pthread_getname_np(pthread_self(), name, sizeof name);
    if (strcmp(name, "hasher") == 0) hashingPolicy = sched_getscheduler(0);
    usleep(g_slowEach);
  };
  struct row {
    int caller, hashing, asleep;
  };
  for (row expected : {row{SCHED_OTHER, SCHED_OTHER, SCHED_BATCH}, row{SCHED_IDLE, SCHED_IDLE, SCHED_IDLE}}) {
    hashingPolicy = -1;
    int asleep = -1;
    std::thread run([&] {
      struct sched_param none {};
      ASSERT_EQ(pthread_setschedparam(pthread_self(), expected.caller, &none), 0);
      engine hashing(2);
      for (int i = 0; i < 20; ++i) ASSERT_EQ(hashing.submit(path.c_str(), engine::crc32, 0, nullptr), 0);
      for (int i = 0; i < 20; ++i) ASSERT_NE(hashing.take(-1), nullptr);
      asleep = policyOfASleepingWorker();
    });
    run.join();
    SCOPED_TRACE("caller's policy " + std::to_string(expected.caller));
    EXPECT_EQ(hashingPolicy.load(), expected.hashing);
    EXPECT_EQ(asleep, expected.asleep);
  }
}

// Jobs not taken are dropped at shutdown: it neither waits for them nor
// leaks what they hold.
TEST_F(Engine, ShutdownWithJobsQueued) {
  std::string file = _dir.file("f");
  makeFile(file, 2000000);
  std::wstring path = widen(file);
  g_slowEach = 2000;
  {
    engine hashing(2);
    for (int i = 0; i < 500; ++i) ASSERT_EQ(hashing.submit(path.c_str(), engine::crc32, 0, nullptr), 0);
    ASSERT_NE(hashing.take(-1), nullptr);
  }
  EXPECT_LT(g_reads.load(), 500 * 4);
  engine idle(3);  // never given a job
}

}  // namespace
