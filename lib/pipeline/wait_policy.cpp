#include "pipeline/wait_policy.h"

#include <linux/futex.h>
#include <pthread.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <ctime>

namespace wait_policy {

bool spinningPays() {
  static const bool pays = [] {
    cpu_set_t set;
    CPU_ZERO(&set);
    return sched_getaffinity(0, sizeof set, &set) != 0 || CPU_COUNT(&set) > 1;
  }();
  return pays;
}

// A futex is the 32-bit word itself; std::atomic<unsigned> is one.
static_assert(sizeof(std::atomic<unsigned>) == sizeof(unsigned) &&
              std::atomic<unsigned>::is_always_lock_free);

namespace {
const unsigned* address(const std::atomic<unsigned>& word) {
  return reinterpret_cast<const unsigned*>(&word);
}
}  // namespace

bool sleepWhile(const std::atomic<unsigned>& word, unsigned expected, int milliseconds) {
  return sleepWhile(address(word), expected, milliseconds);
}

void wake(const std::atomic<unsigned>& word, int count) { wake(address(word), count); }

bool sleepWhile(const unsigned* word, unsigned expected, int milliseconds) {
  struct timespec limit {};
  struct timespec* timeout = nullptr;
  if (milliseconds >= 0) {
    limit.tv_sec = milliseconds / 1000;
    limit.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    timeout = &limit;
  }
  long r = syscall(SYS_futex, word, FUTEX_WAIT_PRIVATE, expected, timeout, nullptr, 0);
  return !(r != 0 && errno == ETIMEDOUT);
}

void wake(const unsigned* word, int count) {
  syscall(SYS_futex, word, FUTEX_WAKE_PRIVATE, count, nullptr, nullptr, 0);
}

namespace {

// Whether this thread runs under the default policy, asked once a thread.
bool defaultPolicy() {
  static thread_local const bool asDefault = [] {
    int policy = SCHED_OTHER;
    struct sched_param parameters {};
    return pthread_getschedparam(pthread_self(), &policy, &parameters) == 0 && policy == SCHED_OTHER;
  }();
  return asDefault;
}

bool setPolicy(int policy) {
  struct sched_param parameters {};
  return pthread_setschedparam(pthread_self(), policy, &parameters) == 0;
}

}  // namespace

// A thread woken under the default policy often lands on the CPU of the
// thread that woke it and takes it at once. A worker woken by the caller
// would so take the caller's CPU, and with small files the caller, which
// reads lists and hands out jobs, is what every worker waits on. A batch
// thread waits for a free CPU or the next tick instead. Only the sleep is
// spent so: a wait for the disk still ends at once.
void sleepAside(const std::atomic<unsigned>& word, unsigned expected) {
  bool aside = defaultPolicy() && setPolicy(SCHED_BATCH);
  sleepWhile(word, expected);
  if (aside) setPolicy(SCHED_OTHER);
}

void await(event& e) {
  if (!spinFor([&e] { return e.tryWait(); })) e.wait();
}

bool await(event& e, int milliseconds) {
  if (milliseconds == 0) return e.tryWait();
  return spinFor([&e] { return e.tryWait(); }) || e.timedWait(milliseconds);
}

}  // namespace wait_policy
