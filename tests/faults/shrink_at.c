/* Preloaded by shrink.sh: changes the size of the file named by
   ZORVIK_SHRINK_FILE to ZORVIK_SHRINK_TO bytes (truncate(2), so smaller or
   larger) the first time the program maps that file (ZORVIK_SHRINK_WHEN=map)
   or has read data from it (=read), and appends what it did to the file
   named by ZORVIK_SHRINK_LOG, so that the test knows which way the program
   took the file's bytes. No timing: the change lands while the job is
   under way, before the bytes it mapped or after those it read. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

static int g_done;

/* Whether `fd` is the watched file and this is the moment `when`. */
static int watched(int fd, const char* when) {
  const char* path = getenv("ZORVIK_SHRINK_FILE");
  const char* mode = getenv("ZORVIK_SHRINK_WHEN");
  struct stat mine, theirs;
  if (path == NULL || mode == NULL || strcmp(mode, when) != 0 || __atomic_load_n(&g_done, __ATOMIC_ACQUIRE))
    return 0;
  if (fstat(fd, &mine) != 0 || stat(path, &theirs) != 0) return 0;
  return mine.st_dev == theirs.st_dev && mine.st_ino == theirs.st_ino;
}

static void change(const char* what, long long offset, long long length) {
  if (__atomic_exchange_n(&g_done, 1, __ATOMIC_ACQ_REL)) return;
  const char* to = getenv("ZORVIK_SHRINK_TO");
  const char* log = getenv("ZORVIK_SHRINK_LOG");
  long long size = to != NULL ? atoll(to) : 0;
  int failed = truncate(getenv("ZORVIK_SHRINK_FILE"), size) != 0;
  FILE* out = log != NULL ? fopen(log, "a") : NULL;
  if (out == NULL) return;
  fprintf(out, "%s %lld bytes at %lld, then %s to %lld\n", what, length, offset,
          failed ? "FAILED to set the size" : "size set", size);
  fclose(out);
}

typedef void* (*mmap_fn)(void*, size_t, int, int, int, off_t);
typedef ssize_t (*pread_fn)(int, void*, size_t, off_t);
typedef ssize_t (*preadv2_fn)(int, const struct iovec*, int, off_t, int);

static void* mapping(const char* name, void* addr, size_t length, int prot, int flags, int fd, off_t offset) {
  mmap_fn real = (mmap_fn)dlsym(RTLD_NEXT, name);
  void* result = real(addr, length, prot, flags, fd, offset);
  if (result != MAP_FAILED && fd >= 0 && watched(fd, "map")) change("mapped", offset, (long long)length);
  return result;
}

void* mmap(void* addr, size_t length, int prot, int flags, int fd, off_t offset) {
  return mapping("mmap", addr, length, prot, flags, fd, offset);
}
void* mmap64(void* addr, size_t length, int prot, int flags, int fd, off_t offset) {
  return mapping("mmap64", addr, length, prot, flags, fd, offset);
}

static ssize_t reading(const char* name, int fd, void* buffer, size_t count, off_t offset) {
  pread_fn real = (pread_fn)dlsym(RTLD_NEXT, name);
  ssize_t n = real(fd, buffer, count, offset);
  if (n > 0 && watched(fd, "read")) change("read", offset, n);
  return n;
}

ssize_t pread(int fd, void* buffer, size_t count, off_t offset) {
  return reading("pread", fd, buffer, count, offset);
}
ssize_t pread64(int fd, void* buffer, size_t count, off_t offset) {
  return reading("pread64", fd, buffer, count, offset);
}

static ssize_t readingV(const char* name, int fd, const struct iovec* iov, int count, off_t offset, int flags) {
  preadv2_fn real = (preadv2_fn)dlsym(RTLD_NEXT, name);
  ssize_t n = real(fd, iov, count, offset, flags);
  if (n > 0 && watched(fd, "read")) change("read", offset, n);
  return n;
}

ssize_t preadv2(int fd, const struct iovec* iov, int count, off_t offset, int flags) {
  return readingV("preadv2", fd, iov, count, offset, flags);
}
ssize_t preadv64v2(int fd, const struct iovec* iov, int count, off_t offset, int flags) {
  return readingV("preadv64v2", fd, iov, count, offset, flags);
}
