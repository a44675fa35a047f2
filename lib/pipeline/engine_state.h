#pragma once

// The engine's shared state, for the files that make it up; internal.
#include <pthread.h>

#include <chrono>
#include <cstdlib>

#include <zorvik/engine.h>

#include "pipeline/engine_job.h"

class lane_session;

namespace engine_detail {

// Jobs not yet taken: the bound on what a run holds in flight.
inline constexpr unsigned long long windowJobs = 1024;
// One read: large enough that a system call costs little per byte, small
// enough to stay in the cache until it is hashed.
inline constexpr size_t bufferSize = 512 * 1024;
// CRC-32 files this big are cut into pieces of this size.
inline constexpr unsigned long long splitFrom = 64ULL << 20;
inline constexpr unsigned long long pieceSize = 32ULL << 20;
// A piece read in place is hashed a window at a time, for the progress.
inline constexpr size_t mappedWindow = 4 << 20;
// Files from this size on are read in place where the page cache holds
// them: a mapping costs a fault now and then, a read a copy of every byte.
inline constexpr unsigned long long mapFrom = 1 << 20;
inline constexpr int mostWorkers = 256;
inline constexpr int defaultCap = 16;
inline constexpr unsigned long long nobody = ~0ULL;
// Jobs that make it worth waking a sleeping worker, or the caller.
inline constexpr unsigned long long wakeBatch = 8;
// How long the caller may sleep past a result it waits for, when no batch
// follows it.
inline constexpr int batchWait = 10;

using clock_type = std::chrono::steady_clock;

template <class T>
inline T load(const T& value) {
  return __atomic_load_n(&value, __ATOMIC_ACQUIRE);
}

template <class T>
inline void store(T& target, T value) {
  __atomic_store_n(&target, value, __ATOMIC_RELEASE);
}

// Where a read of `piece` of the job with `sequence` stands in the list.
inline unsigned long long orderOf(unsigned long long sequence, unsigned piece) {
  return sequence << 20 | piece;
}

inline unsigned char* newBuffer() {
  void* memory = nullptr;
  return posix_memalign(&memory, 4096, bufferSize) == 0 ? static_cast<unsigned char*>(memory) : nullptr;
}

}  // namespace engine_detail

struct engine::state {
  int workers = 1;
  engine_job* jobs = nullptr;
  unsigned long long submitted = 0;  // written by the caller
  unsigned long long claimed = 0;
  unsigned long long taken = 0;      // written by the caller
  unsigned work = 0;                 // futex: bumped when there is new work
  unsigned sleepers = 0;
  unsigned completions = 0;          // futex the caller sleeps on
  unsigned long long waitingFor = engine_detail::nobody;
  unsigned helpable = 0;             // jobs with pieces left to take
  int stop = 0;
  pthread_t threads[engine_detail::mostWorkers];
  unsigned char* buffers[engine_detail::mostWorkers];
  int threadCount = 0;               // read across threads; grows under spawning
  pthread_mutex_t spawning = PTHREAD_MUTEX_INITIALIZER;
  unsigned char* callerBuffer = nullptr;
  lane_session* callerLanes = nullptr;  // MD5 hashed on the caller's thread
  engine::result current{};
  // Of the jobs taken: bytes hashed, and sizes at open.
  unsigned long long takenHashed = 0;
  unsigned long long takenOpened = 0;

  engine_job& slot(unsigned long long sequence) { return jobs[sequence % engine_detail::windowJobs]; }
  bool stopping() const { return engine_detail::load(stop) != 0; }

  engine_job* claim(int only = -1);
  bool lanesFor(const engine_job& job);
  void nudge();
  bool batchDone(unsigned long long head);
  void run(engine_job& job, unsigned char* buffer);
  bool begin(engine_job& job, bool mayShare);
  bool readOn(engine_job& job, unsigned char* buffer, const engine_detail::clock_type::time_point* deadline);
  void hashPieces(engine_job& job, file_reader& reader, unsigned char* buffer);
  int hashMapped(engine_job& job, const unsigned char* data, size_t length, uint32_t* reg = nullptr);
  void leave(engine_job& job, unsigned char* buffer);
  bool help(unsigned char* buffer, file_reader& reader);
  void finish(engine_job& job, int failure, bool notRegular = false);
  bool spawn();
  int threadsNow() const { return __atomic_load_n(&threadCount, __ATOMIC_ACQUIRE); }
  static void* workerMain(void* argument);

  struct worker_start {
    state* engineState;
    unsigned char* buffer;
  };
};

