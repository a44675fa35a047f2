#pragma once

#include <unistd.h>

#include <ctime>

// Waits until the clock the kernel stamps file times with has passed every
// time stamped so far: a run that starts afterwards sees each file written
// before as unchanged since.
inline void passFileClock() {
  struct timespec fine, coarse;
  clock_gettime(CLOCK_REALTIME, &fine);
  do {
    usleep(1000);
    clock_gettime(CLOCK_REALTIME_COARSE, &coarse);
  } while (coarse.tv_sec < fine.tv_sec || (coarse.tv_sec == fine.tv_sec && coarse.tv_nsec <= fine.tv_nsec));
}
