// Times in ticks, as the lists and the verification record keep them.
#include <ctime>

#include <zorvik/container.h>

#include "ticks.h"

unsigned long long container::ticksFromStat(const struct stat& status) {
  return ticksOf(status.st_mtim);
}

// The clock the kernel stamps file times with, read as file times are: a
// file changed after this moment carries a time at or after it. Record
// times, their expiry and new signatures all come from here.
unsigned long long container::ticksNow() {
  struct timespec now {};
  clock_gettime(CLOCK_REALTIME_COARSE, &now);
  return ticksOf(now);
}

long long container::secondsFromTicks(unsigned long long ticks) {
  // Floor division, so times before 1970 land in the second they belong to.
  long long offset = static_cast<long long>(ticks - epochTicks);
  long long seconds = offset / static_cast<long long>(ticksPerSecond);
  if (offset % static_cast<long long>(ticksPerSecond) < 0) --seconds;
  return seconds;
}
