#pragma once

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <climits>

#include <zorvik/pipeline.h>

// Waiting between the pipeline's threads: a short spin first, because the
// other side usually answers within microseconds and a sleep costs tens of
// them; a futex or semaphore sleep after that, so that nobody burns a core
// while the other side is really busy.
namespace spin {

// Polls of a short spin, some tens of microseconds: each one pauses the
// core for a few dozen nanoseconds.
inline constexpr int rounds = 400;

inline void relax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#elif defined(__aarch64__)
  asm volatile("yield" ::: "memory");
#endif
}

// Sleeps while `*word` still holds `expected`; may return early.
inline void futexWait(unsigned* word, unsigned expected) {
  syscall(SYS_futex, word, FUTEX_WAIT_PRIVATE, expected, nullptr, nullptr, 0);
}

inline void futexWake(unsigned* word) {
  syscall(SYS_futex, word, FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr, 0);
}

// event::wait() with a short spin in front of it.
inline void await(event& e) {
  for (int i = 0; i < rounds; ++i) {
    if (e.tryWait()) return;
    relax();
  }
  e.wait();
}

}  // namespace spin
