/* Preloaded by the progress tests: opening the file named by
   ZORVIK_SLOW_OPEN for reading takes six seconds, so that a job outlasts
   the program's first wait without hashing gigabytes. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static void maybeSlow(const char* path, int reading) {
  const char* slow = getenv("ZORVIK_SLOW_OPEN");
  if (reading && slow != NULL && strcmp(path, slow) == 0) sleep(6);
}

typedef FILE* (*fopen_fn)(const char*, const char*);
typedef int (*open_fn)(const char*, int, ...);

static FILE* slowly(const char* name, const char* path, const char* mode) {
  fopen_fn real = (fopen_fn)dlsym(RTLD_NEXT, name);
  maybeSlow(path, strcmp(mode, "rb") == 0);
  return real(path, mode);
}

FILE* fopen(const char* path, const char* mode) { return slowly("fopen", path, mode); }
FILE* fopen64(const char* path, const char* mode) { return slowly("fopen64", path, mode); }

static int openSlowly(const char* name, const char* path, int flags, va_list rest) {
  open_fn real = (open_fn)dlsym(RTLD_NEXT, name);
  mode_t mode = (flags & O_CREAT) != 0 ? va_arg(rest, mode_t) : 0;
  maybeSlow(path, (flags & O_ACCMODE) == O_RDONLY);
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
