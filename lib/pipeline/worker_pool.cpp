#include "pipeline/worker_pool.h"

#include <climits>
#include <cstdlib>
#include <new>

#include "pipeline/wait_policy.h"

namespace {

struct thread_start {
  worker_pool* pool;
  unsigned char* buffer;
};

}  // namespace

unsigned char* newReadBuffer() {
  void* memory = nullptr;
  return posix_memalign(&memory, 4096, readBufferSize) == 0 ? static_cast<unsigned char*>(memory)
                                                            : nullptr;
}

worker_pool::worker_pool(body run, void* owner, int most)
    : _run(run), _owner(owner), _most(most < mostThreads ? most : mostThreads) {}

void worker_pool::stop() {
  pthread_mutex_lock(&_spawning);  // no thread starts after this
  bool first = _stop.exchange(1, std::memory_order_acq_rel) == 0;
  pthread_mutex_unlock(&_spawning);
  if (!first) return;
  announce();
  wait_policy::wake(_work, INT_MAX);
  for (int i = 0, n = running(); i < n; ++i) {
    pthread_join(_threads[i], nullptr);
    free(_buffers[i]);
  }
}

bool worker_pool::spawn() {
  pthread_mutex_lock(&_spawning);
  bool started = false;
  int count = _running.load(std::memory_order_relaxed);
  if (!stopping() && count < _most) {
    unsigned char* buffer = newReadBuffer();
    auto* start = buffer != nullptr ? new (std::nothrow) thread_start{this, buffer} : nullptr;
    if (start != nullptr && pthread_create(&_threads[count], nullptr, threadMain, start) == 0) {
      _buffers[count] = buffer;
      _running.store(count + 1, std::memory_order_release);
      started = true;
    } else {
      delete start;
      free(buffer);
    }
  }
  pthread_mutex_unlock(&_spawning);
  return started;
}

void worker_pool::wake(unsigned long long count) {
  wait_policy::wake(_work, count < INT_MAX ? static_cast<int>(count) : INT_MAX);
}

void worker_pool::idle(unsigned seen) {
  if (wait_policy::spinFor([&] { return _work.load(std::memory_order_acquire) != seen; })) return;
  _sleepers.fetch_add(1, std::memory_order_seq_cst);
  if (_work.load(std::memory_order_seq_cst) == seen) wait_policy::sleepAside(_work, seen);
  _sleepers.fetch_sub(1, std::memory_order_seq_cst);
}

void* worker_pool::threadMain(void* argument) {
  auto* start = static_cast<thread_start*>(argument);
  worker_pool& pool = *start->pool;
  unsigned char* buffer = start->buffer;
  delete start;
  pthread_setname_np(pthread_self(), "hasher");
  pool._run(pool._owner, buffer);
  return nullptr;
}
