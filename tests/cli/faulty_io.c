/* Preloaded by the list-keeping tests to make the system fail where it
   rarely does on its own, each fault chosen by an environment variable:
   ZORVIK_FAIL_FLOCK     flock() fails with ENOLCK, as on a server
                         without locks;
   ZORVIK_FAIL_PWRITE=N  the N-th pwrite() fails with ENOSPC; with a
                         trailing "+" every one from the N-th on;
   ZORVIK_FAIL_MKOSTEMP  no temporary file beside a list can be made
                         (ENOSPC);
   ZORVIK_STALL_OPEN=F   opening F for reading creates the file named by
   ZORVIK_STALL_MARK     ZORVIK_STALL_MARK and then waits a minute, so
                         that a test knows the run is hashing F. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <unistd.h>

typedef int (*open_fn)(const char*, int, ...);

static void maybeStall(const char* path, int flags) {
  const char* stall = getenv("ZORVIK_STALL_OPEN");
  const char* mark = getenv("ZORVIK_STALL_MARK");
  if (stall == NULL || mark == NULL || strcmp(path, stall) != 0) return;
  if ((flags & O_ACCMODE) != O_RDONLY) return;
  open_fn real = (open_fn)dlsym(RTLD_NEXT, "open");
  int fd = real(mark, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd >= 0) close(fd);
  sleep(60);
}

static int openVia(const char* name, const char* path, int flags, va_list rest) {
  open_fn real = (open_fn)dlsym(RTLD_NEXT, name);
  mode_t mode = (flags & (O_CREAT | O_TMPFILE)) != 0 ? va_arg(rest, mode_t) : 0;
  maybeStall(path, flags);
  return real(path, flags, mode);
}

int open(const char* path, int flags, ...) {
  va_list rest;
  va_start(rest, flags);
  int fd = openVia("open", path, flags, rest);
  va_end(rest);
  return fd;
}

int open64(const char* path, int flags, ...) {
  va_list rest;
  va_start(rest, flags);
  int fd = openVia("open64", path, flags, rest);
  va_end(rest);
  return fd;
}

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
