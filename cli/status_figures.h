#pragma once

#include <cstddef>

// The figures of the status line, kept apart from the terminal so that they
// can be checked on their own.

// "1.5 GB", "300 MB", "12 kB", "512 B": decimal units, three digits at most.
void formatSize(char* out, size_t room, double bytes);

// The time left as "M:SS", or "H:MM:SS" from an hour on; "--:--" for
// anything beyond 99:59:59 (or not a finite number).
void formatTimeLeft(char* out, size_t room, double seconds);

// Bytes a second over the last few seconds, from samples of a growing
// count of bytes taken at increasing times (in seconds).
class rate_window {
public:
  void sample(double at, unsigned long long bytes);
  // Known once the samples kept span half a second.
  bool known() const;
  double perSecond() const;

  static constexpr double span = 5.0;  // seconds looked back at most

private:
  struct point {
    double at;
    unsigned long long bytes;
  };
  static constexpr int kept = 128;  // more than the redraws of `span`
  const point& oldestWithin() const;

  point _points[kept] = {};
  int _count = 0, _newest = -1;
};

// What a verify run will hash, in bytes, as far as it knows yet: the size
// the list gives for an entry that has one, else the size of its file as it
// was opened. The engine sums the sizes at open of every file it opened;
// the part of that sum that belongs to entries whose listed size is counted
// already is taken off, where it is not yet known exactly by the listed
// sizes of those still awaited, so that the figure never runs ahead.
class byte_total {
public:
  static constexpr unsigned long long unlisted = ~0ULL;

  // An entry handed to the engine, with the size its list gives.
  void submitted(unsigned long long listed);
  // Its result taken, with the size its file had when it was opened.
  void taken(unsigned long long listed, unsigned long long opened);
  // `opened`: the engine's sum of sizes at open so far.
  unsigned long long value(unsigned long long opened) const;

private:
  unsigned long long _listed = 0;          // listed sizes, every entry handed over
  unsigned long long _listedAwaited = 0;   // listed sizes, entries awaited
  unsigned long long _unlistedTaken = 0;   // sizes at open, unlisted entries taken
  unsigned long long _openedTaken = 0;     // sizes at open, every entry taken
};
