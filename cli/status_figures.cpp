#include "status_figures.h"

#include <cmath>
#include <cstdio>

void formatSize(char* out, size_t room, double bytes) {
  const char* units[] = {"B", "kB", "MB", "GB", "TB"};
  int unit = 0;
  while (bytes >= 1000 && unit < 4) {
    bytes /= 1000;
    ++unit;
  }
  snprintf(out, room, unit == 0 || bytes >= 100 ? "%.0f %s" : "%.1f %s", bytes, units[unit]);
}

void formatTimeLeft(char* out, size_t room, double seconds) {
  const double most = 99 * 3600 + 59 * 60 + 59;
  if (!std::isfinite(seconds) || seconds > most) {
    snprintf(out, room, "--:--");
    return;
  }
  long whole = seconds > 0 ? static_cast<long>(std::ceil(seconds)) : 0;
  if (whole >= 3600)
    snprintf(out, room, "%ld:%02ld:%02ld", whole / 3600, whole / 60 % 60, whole % 60);
  else
    snprintf(out, room, "%ld:%02ld", whole / 60, whole % 60);
}

void rate_window::sample(double at, unsigned long long bytes) {
  _newest = (_newest + 1) % kept;
  _points[_newest] = {at, bytes};
  if (_count < kept) ++_count;
}

// The oldest sample no older than `span` before the newest; when none but
// the newest is, the one just before it, so that a long pause between
// samples still gives a rate.
const rate_window::point& rate_window::oldestWithin() const {
  const point& newest = _points[_newest];
  int found = _newest;
  for (int i = 1; i < _count; ++i) {
    int at = (_newest - i + kept) % kept;
    if (newest.at - _points[at].at > span) {
      if (found == _newest) found = at;
      break;
    }
    found = at;
  }
  return _points[found];
}

bool rate_window::known() const {
  return _count >= 2 && _points[_newest].at - oldestWithin().at >= 0.5;
}

double rate_window::perSecond() const {
  if (!known()) return 0;
  const point& from = oldestWithin();
  const point& to = _points[_newest];
  if (to.bytes <= from.bytes) return 0;
  return static_cast<double>(to.bytes - from.bytes) / (to.at - from.at);
}

void byte_total::submitted(unsigned long long listed) {
  if (listed == unlisted) return;
  _listed += listed;
  _listedAwaited += listed;
}

void byte_total::taken(unsigned long long listed, unsigned long long opened) {
  _openedTaken += opened;
  if (listed == unlisted)
    _unlistedTaken += opened;
  else
    _listedAwaited -= listed;
}

unsigned long long byte_total::value(unsigned long long opened) const {
  // Opened and not yet taken: files of entries of either kind; those with
  // a listed size are counted by it already.
  unsigned long long awaited = opened > _openedTaken ? opened - _openedTaken : 0;
  unsigned long long unlistedAwaited = awaited > _listedAwaited ? awaited - _listedAwaited : 0;
  return _listed + _unlistedTaken + unlistedAwaited;
}
