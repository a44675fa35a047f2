#include "status_line.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>

namespace status_line {

namespace {

struct state {
  bool shown = false;        // wanted, and standard error is a terminal
  bool drawn = false;        // on the terminal now
  bool sameTerminal = false; // standard output goes to the same terminal
  double start = 0, lastDraw = 0;
  long files = -1, filesDone = 0;
  long long bytes = -1;
  unsigned long long bytesDone = 0;
  char current[256] = "";
};
state s;

double now() {
  struct timespec t {};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// "1.5 GB", "300 MB", "12 kB", "512 B".
void size(char* out, size_t room, double value) {
  const char* units[] = {"B", "kB", "MB", "GB", "TB"};
  int unit = 0;
  while (value >= 1000 && unit < 4) {
    value /= 1000;
    ++unit;
  }
  snprintf(out, room, unit == 0 || value >= 100 ? "%.0f %s" : "%.1f %s", value, units[unit]);
}

int columns() {
  struct winsize size {};
  return ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
}

void draw(double at) {
  char text[512], done[32], total[32], rate[32], left[32] = "";
  double seconds = at - s.start;
  int n = s.files >= 0 ? snprintf(text, sizeof text, "%ld of %ld files", s.filesDone, s.files)
                       : snprintf(text, sizeof text, "%ld files", s.filesDone);
  size(done, sizeof done, static_cast<double>(s.bytesDone));
  double perSecond = seconds > 0 ? static_cast<double>(s.bytesDone) / seconds : 0;
  size(rate, sizeof rate, perSecond);
  if (s.bytes >= 0) {
    size(total, sizeof total, static_cast<double>(s.bytes));
    n += snprintf(text + n, sizeof text - static_cast<size_t>(n), ", %s of %s", done, total);
    if (perSecond > 0) {
      long remaining = static_cast<long>((static_cast<double>(s.bytes) - static_cast<double>(s.bytesDone)) / perSecond);
      if (remaining < 0) remaining = 0;
      snprintf(left, sizeof left, ", %ld:%02ld left", remaining / 60, remaining % 60);
    }
  } else {
    n += snprintf(text + n, sizeof text - static_cast<size_t>(n), ", %s", done);
  }
  n += snprintf(text + n, sizeof text - static_cast<size_t>(n), ", %s/s%s", rate, left);
  if (s.current[0] != '\0' && n > 0 && static_cast<size_t>(n) < sizeof text)
    snprintf(text + n, sizeof text - static_cast<size_t>(n), " | %s", s.current);
  // Never wider than the terminal: a wrapped line could not be taken back.
  int room = columns() - 1;
  if (room > 0 && static_cast<int>(strlen(text)) > room) text[room] = '\0';
  fflush(stdout);
  fprintf(stderr, "\r%s\033[K", text);
  fflush(stderr);
  s.drawn = true;
  s.lastDraw = at;
}

}  // namespace

void begin(bool wanted) {
  s.shown = wanted && isatty(STDERR_FILENO) == 1;
  s.sameTerminal = s.shown && isatty(STDOUT_FILENO) == 1;
  s.start = s.lastDraw = now();
}

void end() {
  clear();
  s.shown = false;
}

void totals(long files, long long bytes) {
  s.files = files;
  s.bytes = bytes;
}

void fileDone(unsigned long long bytes) {
  ++s.filesDone;
  s.bytesDone += bytes;
  s.current[0] = '\0';
}

bool showing() { return s.shown; }

bool takesPercentages() { return s.shown && s.sameTerminal; }

void percentage(const char* text) {
  snprintf(s.current, sizeof s.current, "%s", text);
  // A progress line ends in a carriage return, which has no place here.
  size_t length = strlen(s.current);
  while (length > 0 && (s.current[length - 1] == '\r' || s.current[length - 1] == '\n'))
    s.current[--length] = '\0';
  tick();
}

void clear() {
  if (!s.drawn) return;
  fprintf(stderr, "\r\033[K");
  fflush(stderr);
  s.drawn = false;
}

void tick() {
  if (!s.shown) return;
  double at = now();
  if (at - s.start < 1.0 || at - s.lastDraw < 0.1) return;
  draw(at);
}

}  // namespace status_line
