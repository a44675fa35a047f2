/* Preloaded by the progress tests: opening the file named by
   ZORVIK_SLOW_OPEN for hashing ("rb") takes six seconds, so that a job
   outlasts the program's first wait without hashing gigabytes. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

typedef FILE* (*open_fn)(const char*, const char*);

static FILE* slowly(const char* name, const char* path, const char* mode) {
  open_fn real = (open_fn)dlsym(RTLD_NEXT, name);
  const char* slow = getenv("ZORVIK_SLOW_OPEN");
  if (slow != NULL && strcmp(path, slow) == 0 && strcmp(mode, "rb") == 0) sleep(6);
  return real(path, mode);
}

FILE* fopen(const char* path, const char* mode) { return slowly("fopen", path, mode); }
FILE* fopen64(const char* path, const char* mode) { return slowly("fopen64", path, mode); }
