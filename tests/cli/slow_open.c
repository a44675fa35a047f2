/* Preloaded by the tests that need a run held at one file (tests/lib.sh,
   hold): opening the file named by ZORVIK_SLOW_OPEN for reading first
   creates the file named by ZORVIK_SLOW_MARK, so that a test knows the run
   has come to it, then waits until the file named by ZORVIK_SLOW_RELEASE
   exists (a minute at most, a safety bound only). The test chooses when,
   so that no margin of time decides what a run shows. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

typedef FILE* (*fopen_fn)(const char*, const char*);
typedef int (*open_fn)(const char*, int, ...);

static void waitForRelease(const char* release) {
  const struct timespec step = {0, 10 * 1000 * 1000};
  for (int waited = 0; waited < 6000 && (release == NULL || access(release, F_OK) != 0); ++waited)
    nanosleep(&step, NULL);
}

static void maybeHold(const char* path, int reading) {
  const char* held = getenv("ZORVIK_SLOW_OPEN");
  if (!reading || held == NULL || strcmp(path, held) != 0) return;
  const char* mark = getenv("ZORVIK_SLOW_MARK");
  if (mark != NULL) {
    open_fn real = (open_fn)dlsym(RTLD_NEXT, "open");
    int fd = real(mark, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) close(fd);
  }
  waitForRelease(getenv("ZORVIK_SLOW_RELEASE"));
}

static FILE* slowly(const char* name, const char* path, const char* mode) {
  fopen_fn real = (fopen_fn)dlsym(RTLD_NEXT, name);
  maybeHold(path, strcmp(mode, "rb") == 0);
  return real(path, mode);
}

FILE* fopen(const char* path, const char* mode) { return slowly("fopen", path, mode); }
FILE* fopen64(const char* path, const char* mode) { return slowly("fopen64", path, mode); }

static int openSlowly(const char* name, const char* path, int flags, va_list rest) {
  open_fn real = (open_fn)dlsym(RTLD_NEXT, name);
  mode_t mode = (flags & (O_CREAT | O_TMPFILE)) != 0 ? va_arg(rest, mode_t) : 0;
  maybeHold(path, (flags & O_ACCMODE) == O_RDONLY);
  return real(path, flags, mode);
}

int open(const char* path, int flags, ...) {
  va_list rest;
  va_start(rest, flags);
  int fd = openSlowly("open", path, flags, rest);
  va_end(rest);
  return fd;
}

int open64(const char* path, int flags, ...) {
  va_list rest;
  va_start(rest, flags);
  int fd = openSlowly("open64", path, flags, rest);
  va_end(rest);
  return fd;
}
