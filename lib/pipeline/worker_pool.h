#pragma once

#include <pthread.h>

#include <atomic>
#include <cstddef>

// The engine's worker threads: started one at a time as work calls for
// them, each with a read buffer of its own, and asleep while there is no
// work. Work is announced by bumping a counter that the sleepers watch.
class worker_pool {
public:
  static constexpr int mostThreads = 256;

  // Each thread runs `body(owner, its buffer)` until the pool stops.
  using body = void (*)(void* owner, unsigned char* buffer);
  worker_pool(body run, void* owner, int most);
  ~worker_pool() { stop(); }
  worker_pool(const worker_pool&) = delete;
  worker_pool& operator=(const worker_pool&) = delete;

  // Starts one more thread; false when none could be started (the most
  // running, stopping, or no memory or thread to be had).
  bool spawn();
  // Lets no thread start any more, wakes every thread and joins it; each
  // ends once its body returns. Again, it does nothing.
  void stop();
  int running() const { return _running.load(std::memory_order_acquire); }
  bool stopping() const { return _stop.load(std::memory_order_acquire) != 0; }
  const std::atomic<int>& stopFlag() const { return _stop; }

  // Announces new work; sleepers are woken only by wake().
  void announce() { _work.fetch_add(1, std::memory_order_seq_cst); }
  bool anyAsleep() const { return _sleepers.load(std::memory_order_seq_cst) != 0; }
  void wake(unsigned long long count);

  // A thread's side: the announcements so far, taken before it looks for
  // work; and, having found none, a wait until the next announcement.
  unsigned announced() const { return _work.load(std::memory_order_seq_cst); }
  void idle(unsigned seen);

private:
  static void* threadMain(void* argument);

  body _run;
  void* _owner;
  int _most;
  pthread_t _threads[mostThreads];
  unsigned char* _buffers[mostThreads];
  // Written under `_spawning`; release store, acquire loads elsewhere.
  std::atomic<int> _running{0};
  pthread_mutex_t _spawning = PTHREAD_MUTEX_INITIALIZER;
  // Raised once under `_spawning`, so no thread starts after it: acq_rel
  // exchange, acquire loads.
  std::atomic<int> _stop{0};
  // The futex sleepers watch, and their count: both seq_cst, so that a
  // thread going to sleep and one announcing work always see each other.
  std::atomic<unsigned> _work{0};
  std::atomic<unsigned> _sleepers{0};
};

// Bytes of each thread's read buffer: large enough that a system call costs
// little per byte, small enough to stay in the cache until it is hashed.
inline constexpr size_t readBufferSize = 512 * 1024;
// A read buffer, page-aligned; null without memory.
unsigned char* newReadBuffer();
