#pragma once

#include <ctime>

// Ticks: 100-nanosecond intervals since 1601-01-01 00:00:00 UTC.
inline constexpr unsigned long long ticksPerSecond = 10000000ULL;
inline constexpr unsigned long long epochTicks = 116444736000000000ULL;  // 1601 to 1970

// A file time in ticks, its nanoseconds rounded to the nearest 100.
inline unsigned long long ticksOf(const struct timespec& time) {
  long long seconds = static_cast<long long>(time.tv_sec) * 10000000LL;
  return static_cast<unsigned long long>(seconds) + epochTicks +
         static_cast<unsigned long long>((time.tv_nsec + 50) / 100);
}
