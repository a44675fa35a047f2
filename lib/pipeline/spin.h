#pragma once

#include <linux/futex.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <climits>

#include <zorvik/pipeline.h>

// Waiting between the pipeline's threads: a short spin first, because the
// other side usually answers within microseconds and a sleep costs tens of
// them; a futex or semaphore sleep after that, so that nobody burns a core
// while the other side is really busy.
namespace spin {

// A poll loop's patience before it sleeps: first a few microseconds of
// pauses, for a partner running on the other core; then yields, for a
// partner waiting for this very core (the scheduler likes to put two threads
// that wake each other on one core, where pausing would only keep it out).
inline constexpr int pauseRounds = 1000;
inline constexpr int rounds = pauseRounds + 40;

inline void relax(int round) {
  if (round >= pauseRounds) {
    sched_yield();
    return;
  }
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
    relax(i);
  }
  e.wait();
}

}  // namespace spin
