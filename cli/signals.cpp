#include "signals.h"

#include <csignal>
#include <initializer_list>

#include <zorvik/container.h>

namespace {

void discardAndDie(int signal) {
  container::discardTemporaries();
  // The handler was reset on entry: once it returns, the signal, pending
  // until then, ends the process as it would have.
  raise(signal);
}

}  // namespace

void discardWritingOnSignals() {
  signal(SIGXFSZ, SIG_IGN);
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
    struct sigaction old {};
    if (sigaction(signal, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) continue;
    struct sigaction act {};
    act.sa_handler = discardAndDie;
    act.sa_flags = SA_RESETHAND;
    sigemptyset(&act.sa_mask);
    sigaction(signal, &act, nullptr);
  }
}
