#include "pipeline/wait_policy.h"

#include <linux/futex.h>
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

void await(event& e) {
  if (!spinFor([&e] { return e.tryWait(); })) e.wait();
}

bool await(event& e, int milliseconds) {
  if (milliseconds == 0) return e.tryWait();
  return spinFor([&e] { return e.tryWait(); }) || e.timedWait(milliseconds);
}

}  // namespace wait_policy
