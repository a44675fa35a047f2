#pragma once

#include <csignal>

// Keeps asynchronous signals from ending the process during a few writes
// that must not stop half-way. Any thread may receive a signal sent to the
// process, so blocking it on the writing thread alone is not enough: while
// held, a signal that would end the process is only noted, whichever thread
// takes it, and it takes its course when the hold ends. Synchronous faults
// (SIGSEGV, SIGBUS, ...) are never held. Holds nest; only the outermost
// one acts. For the main thread only.
class signal_hold {
public:
  signal_hold();
  ~signal_hold();
  signal_hold(const signal_hold&) = delete;
  signal_hold& operator=(const signal_hold&) = delete;

private:
  sigset_t _mask;  // of the writing thread before the hold
};
