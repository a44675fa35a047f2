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

bool sleepWhile(unsigned* word, unsigned expected, int milliseconds) {
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

void wake(unsigned* word, int count) {
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
