#include "status_line.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

#include <zorvik/engine.h>

#include "status_figures.h"

namespace status_line {

namespace {

struct state {
  bool shown = false;        // wanted, and standard error is a terminal
  bool drawn = false;        // on the terminal now
  bool sameTerminal = false; // standard output goes to the same terminal
  const engine* hashing = nullptr;
  double start = 0, lastDraw = 0;
  long files = -1, filesDone = 0;
  long long bytes = -1;      // a create run's total; -1: not known
  bool verifying = false;    // the total is `listed` then
  bool listRead = false;
  byte_total listed;
  rate_window rate;
  char current[1024] = "";
};
state s;

double now() {
  struct timespec t {};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

int columns() {
  struct winsize size {};
  return ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
}

// Appends to `text` of `room` bytes, which holds `*used` already.
__attribute__((format(printf, 4, 5))) void append(char* text, size_t room, int* used, const char* format, ...) {
  if (*used < 0 || static_cast<size_t>(*used) >= room) return;
  va_list values;
  va_start(values, format);
  int n = vsnprintf(text + *used, room - static_cast<size_t>(*used), format, values);
  va_end(values);
  if (n > 0) *used += n;
}

// ", 1.2 GB of at least 5.4 GB, 300 MB/s, at least 0:14 left"
void bytesPart(char* text, size_t room, int* used, double at) {
  unsigned long long done = s.hashing->bytesHashed();
  s.rate.sample(at, done);
  long long total = s.verifying ? static_cast<long long>(s.listed.value(s.hashing->bytesOpened())) : s.bytes;
  bool lowerBound = s.verifying && !s.listRead;
  const char* atLeast = lowerBound ? "at least " : "";
  // A verify run that has opened nothing yet knows no total worth showing.
  bool known = total > 0 || (total == 0 && !lowerBound);
  char figure[32], whole[32];
  formatSize(figure, sizeof figure, static_cast<double>(done));
  if (known) {
    formatSize(whole, sizeof whole, static_cast<double>(total));
    append(text, room, used, ", %s of %s%s", figure, atLeast, whole);
  } else {
    append(text, room, used, ", %s", figure);
  }
  if (!s.rate.known()) return;
  double perSecond = s.rate.perSecond();
  formatSize(figure, sizeof figure, perSecond);
  append(text, room, used, ", %s/s", figure);
  if (!known) return;
  double left = static_cast<double>(total) - static_cast<double>(done);
  if (left < 0) left = 0;
  // No rate and bytes left: no end in sight.
  formatTimeLeft(figure, sizeof figure, left == 0 ? 0 : perSecond > 0 ? left / perSecond : 1e300);
  append(text, room, used, ", %s%s left", atLeast, figure);
}

void draw(double at) {
  char text[2048];
  int used = 0;
  if (s.files >= 0)
    append(text, sizeof text, &used, "%ld of %ld files", s.filesDone, s.files);
  else
    append(text, sizeof text, &used, "%ld files", s.filesDone);
  bytesPart(text, sizeof text, &used, at);
  if (s.current[0] != '\0') append(text, sizeof text, &used, " | %s", s.current);
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

void begin(bool wanted, const engine& hashing) {
  s.shown = wanted && isatty(STDERR_FILENO) == 1;
  s.sameTerminal = s.shown && isatty(STDOUT_FILENO) == 1;
  s.hashing = &hashing;
  s.start = s.lastDraw = now();
  s.rate.sample(s.start, 0);
}

void end() {
  clear();
  s.shown = false;
  s.hashing = nullptr;
}

void totals(long files, long long bytes) {
  s.files = files;
  s.bytes = bytes;
}

void submitted(unsigned long long listed) {
  s.verifying = true;
  s.listed.submitted(listed);
}

void hashed(unsigned long long listed, unsigned long long opened) {
  s.listed.taken(listed, opened);
  ++s.filesDone;
  s.current[0] = '\0';
}

void passed() {
  s.verifying = true;
  ++s.filesDone;
}

void listEnded(long files) {
  s.verifying = true;
  s.listRead = true;
  s.files = files;
}

void fileDone() {
  ++s.filesDone;
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
