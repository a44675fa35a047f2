#include "signal_hold.h"

#include <pthread.h>

#include <atomic>
#include <cerrno>

namespace {

// Signals whose default action ends the process, and which may come from
// outside at any moment. The real-time ones are added at run time.
constexpr int ending[] = {SIGHUP,  SIGINT,  SIGQUIT,   SIGUSR1, SIGUSR2, SIGPIPE,   SIGALRM,
                          SIGTERM, SIGXCPU, SIGVTALRM, SIGPROF, SIGIO,   SIGSTKFLT, SIGPWR};

// Signals that a fault raises on the thread that caused it: never held.
constexpr int faults[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS, SIGABRT};

// Set by whichever thread takes the signal; read by the holding thread
// once the signal's own action is back. Relaxed: a flag that carries no
// other data, only whether the signal came.
std::atomic<int> noted[NSIG];
static_assert(std::atomic<int>::is_always_lock_free, "used in a signal handler");
struct sigaction saved[NSIG];
bool swapped[NSIG];
int depth = 0;

void note(int signal) { noted[signal].store(1, std::memory_order_relaxed); }

// Takes over `signal` unless the process ignores it.
void takeOver(int signal) {
  swapped[signal] = false;
  noted[signal].store(0, std::memory_order_relaxed);
  struct sigaction act {};
  act.sa_handler = note;
  sigfillset(&act.sa_mask);
  // One call swaps and saves: a hold per list of a run costs some forty
  // signals, each a system call the fewer. An ignored one is put back.
  if (sigaction(signal, &act, &saved[signal]) != 0) return;
  if (saved[signal].sa_handler == SIG_IGN) {
    sigaction(signal, &saved[signal], nullptr);
    return;
  }
  swapped[signal] = true;
}

// Gives `signal` back its own action and, when it came meanwhile, raises it
// again: it stays pending on this thread until the mask is restored.
void giveBack(int signal) {
  if (!swapped[signal]) return;
  sigaction(signal, &saved[signal], nullptr);
  swapped[signal] = false;
  if (noted[signal].load(std::memory_order_relaxed) != 0) raise(signal);
}

template <typename Each>
void forEachEnding(Each each) {
  for (int signal : ending) each(signal);
  for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) each(signal);
}

}  // namespace

signal_hold::signal_hold() : _mask{} {
  if (depth++ > 0) return;
  int saved = errno;
  sigset_t all;
  sigfillset(&all);
  for (int signal : faults) sigdelset(&all, signal);
  pthread_sigmask(SIG_BLOCK, &all, &_mask);
  forEachEnding(takeOver);
  errno = saved;
}

signal_hold::~signal_hold() {
  if (--depth > 0) return;
  int saved = errno;
  forEachEnding(giveBack);
  pthread_sigmask(SIG_SETMASK, &_mask, nullptr);
  errno = saved;
}
