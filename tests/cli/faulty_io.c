/* Preloaded by the list-keeping tests to make the system fail where it
   rarely does on its own, each fault chosen by an environment variable:
   ZORVIK_FAIL_FLOCK     flock() fails with ENOLCK, as on a server
                         without locks;
   ZORVIK_FAIL_PWRITE=N  the N-th pwrite() fails with ENOSPC; with a
                         trailing "+" every one from the N-th on;
   ZORVIK_FAIL_MKOSTEMP  no temporary file beside a list can be made
                         (ENOSPC).
   (A run held at one file's opening is slow_open.c's.) */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <unistd.h>

int flock(int fd, int operation) {
  if (getenv("ZORVIK_FAIL_FLOCK") != NULL) {
    errno = ENOLCK;
    return -1;
  }
  int (*real)(int, int) = (int (*)(int, int))dlsym(RTLD_NEXT, "flock");
  return real(fd, operation);
}

static ssize_t pwriteVia(const char* name, int fd, const void* bytes, size_t length, off_t at) {
  static int calls = 0;
  const char* fail = getenv("ZORVIK_FAIL_PWRITE");
  ++calls;
  if (fail != NULL) {
    int nth = atoi(fail);
    int onwards = strchr(fail, '+') != NULL;
    if (calls == nth || (onwards && calls > nth)) {
      errno = ENOSPC;
      return -1;
    }
  }
  ssize_t (*real)(int, const void*, size_t, off_t) =
      (ssize_t(*)(int, const void*, size_t, off_t))dlsym(RTLD_NEXT, name);
  return real(fd, bytes, length, at);
}

ssize_t pwrite(int fd, const void* bytes, size_t length, off_t at) {
  return pwriteVia("pwrite", fd, bytes, length, at);
}

ssize_t pwrite64(int fd, const void* bytes, size_t length, off_t at) {
  return pwriteVia("pwrite64", fd, bytes, length, at);
}

int mkostemp(char* pattern, int flags) {
  if (getenv("ZORVIK_FAIL_MKOSTEMP") != NULL && strstr(pattern, ".zorvik-partial-") != NULL) {
    errno = ENOSPC;
    return -1;
  }
  int (*real)(char*, int) = (int (*)(char*, int))dlsym(RTLD_NEXT, "mkostemp");
  return real(pattern, flags);
}
