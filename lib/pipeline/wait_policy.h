#pragma once

#include <atomic>

#include <zorvik/pipeline.h>

// How the pipeline's threads wait for each other: a short, bounded spin
// first, and only where another CPU may run the thread waited for (the
// answer often comes within microseconds, sooner than a sleeping thread
// wakes); then a futex or semaphore sleep, so that a waiter never holds a
// CPU its partner needs. Each waiter decides what it waits for and how
// long; these are the ways it may wait.
namespace wait_policy {

// Pauses a spin may take: some 4 microseconds here.
inline constexpr int spinRounds = 200;

// Whether spinning can pay: this process may run on more than one CPU.
bool spinningPays();

inline void pause() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#elif defined(__aarch64__)
  asm volatile("yield" ::: "memory");
#endif
}

// Spins until `ready()` holds, for at most spinRounds pauses (none when
// spinning cannot pay). Whether it holds.
template <class Ready>
bool spinFor(Ready ready) {
  if (ready()) return true;
  if (!spinningPays()) return false;
  for (int i = 0; i < spinRounds; ++i) {
    pause();
    if (ready()) return true;
  }
  return false;
}

// Sleeps while `word` holds `expected`, at most `milliseconds` (negative:
// without limit); may return early. False when the time passed.
bool sleepWhile(const std::atomic<unsigned>& word, unsigned expected, int milliseconds = -1);
// sleepWhile() without limit, for a thread whose waker should keep its CPU:
// asleep, it runs under SCHED_BATCH (when its policy is the default), and
// under the default again once it runs.
void sleepAside(const std::atomic<unsigned>& word, unsigned expected);
// Wakes up to `count` threads asleep on `word`.
void wake(const std::atomic<unsigned>& word, int count = 1);
// The same for a plain word that is only ever accessed atomically.
bool sleepWhile(const unsigned* word, unsigned expected, int milliseconds = -1);
void wake(const unsigned* word, int count = 1);

// event::wait() after a short spin.
void await(event& e);
// event::timedWait() after a short spin; 0 polls.
bool await(event& e, int milliseconds);

}  // namespace wait_policy
