#include "pipeline/disk_turn.h"

#include <condition_variable>
#include <mutex>

namespace disk_turn {

namespace {

// Everything below is guarded by `guard`.
struct turn {
  static constexpr int maxWaiting = 512;
  std::mutex guard;
  std::condition_variable changed;
  bool held = false;
  unsigned long long waiting[maxWaiting];  // the orders of the readers waiting
  int count = 0;
  unsigned long long uncached = 0;

  unsigned long long lowest() const {
    unsigned long long least = ~0ULL;
    for (int i = 0; i < count; ++i)
      if (waiting[i] < least) least = waiting[i];
    return least;
  }
};

turn g_turn;

}  // namespace

void acquire(unsigned long long order) {
  std::unique_lock<std::mutex> lock(g_turn.guard);
  // Past maxWaiting, a reader waits only for the turn to be free.
  int me = g_turn.count < turn::maxWaiting ? g_turn.count++ : -1;
  if (me >= 0) g_turn.waiting[me] = order;
  g_turn.changed.wait(lock, [&] { return !g_turn.held && (me < 0 || g_turn.lowest() == order); });
  if (me >= 0) {
    for (int i = 0; i < g_turn.count; ++i)
      if (g_turn.waiting[i] == order) {
        g_turn.waiting[i] = g_turn.waiting[--g_turn.count];
        break;
      }
  }
  g_turn.held = true;
  ++g_turn.uncached;
}

void release() {
  {
    std::lock_guard<std::mutex> lock(g_turn.guard);
    g_turn.held = false;
  }
  g_turn.changed.notify_all();
}

unsigned long long uncachedReads() {
  std::lock_guard<std::mutex> lock(g_turn.guard);
  return g_turn.uncached;
}

}  // namespace disk_turn
