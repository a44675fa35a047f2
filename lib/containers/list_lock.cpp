#include "list_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <zorvik/error.h>

#include "util/link_target.h"

namespace {

// 0, or the errno of a lock not taken.
int lockExclusive(int descriptor) {
  while (flock(descriptor, LOCK_EX) != 0)
    if (errno != EINTR) return errno;
  return 0;
}

bool sameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The directory a list named `name` would be made in: that of the final
// target when the name is a symbolic link.
int openParent(const char* name) {
  char target[PATH_MAX];
  if (!linkTarget(name, target, sizeof target)) snprintf(target, sizeof target, "%s", name);
  char* slash = strrchr(target, '/');
  if (slash == target) return open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (slash == nullptr) return open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  *slash = '\0';
  return open(target, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

void hold(list_guard* guard, const char* name, int failure) {
  snprintf(guard->name, sizeof guard->name, "%s", name);
  if (failure != 0) guard->refused = error::from_errno(failure);
}

// The list is not there: its directory stands for it. False when the list
// was made meanwhile, by the run that held the lock.
bool lockAbsent(list_guard* guard, const char* name) {
  int directory = openParent(name);
  if (directory < 0) {
    // No directory, no list: making it fails later, with its own reason.
    if (errno != ENOENT && errno != ENOTDIR) hold(guard, name, errno);
    return true;
  }
  int failure = lockExclusive(directory);
  struct stat status;
  if (failure == 0 && stat(name, &status) == 0) {
    close(directory);
    return false;
  }
  guard->directory = directory;
  hold(guard, name, failure);
  return true;
}

// Opens the list for writing: -1 with errno when it cannot be.
int openForWriting(const char* name) {
  int flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  int descriptor = open(name, O_RDWR | flags);
  // Written, never read, by a create run.
  if (descriptor < 0 && errno == EACCES) descriptor = open(name, O_WRONLY | flags);
  return descriptor;
}

}  // namespace

list_guard* newGuard() {
  auto* guard = static_cast<list_guard*>(calloc(1, sizeof(list_guard)));
  if (guard != nullptr) guard->file = guard->directory = -1;
  return guard;
}

void deleteGuard(list_guard* guard) {
  if (guard == nullptr) return;
  unlockList(guard);
  free(guard);
}

int lockList(list_guard* guard, const char* name) {
  if (guard->name[0] != '\0' && strcmp(guard->name, name) == 0) return error::ok;
  unlockList(guard);
  guard->refused = 0;
  for (;;) {
    struct stat status;
    if (stat(name, &status) != 0) {
      if (errno != ENOENT) return error::translate_errno();
      if (lockAbsent(guard, name)) return error::ok;
      continue;
    }
    if (!S_ISREG(status.st_mode)) return error::ok;
    int descriptor = openForWriting(name);
    if (descriptor < 0) return error::translate_errno();
    int failure = lockExclusive(descriptor);
    struct stat locked, now;
    bool found = fstat(descriptor, &locked) == 0 && stat(name, &now) == 0;
    // Replaced while this run waited (or swapped for a pipe or device):
    // what counts is what the name leads to now.
    if (!found || !S_ISREG(locked.st_mode) || (failure == 0 && !sameFile(locked, now))) {
      close(descriptor);
      continue;
    }
    guard->file = descriptor;
    hold(guard, name, failure);
    return error::ok;
  }
}

void unlockList(list_guard* guard) {
  if (guard->file >= 0) close(guard->file);
  if (guard->directory >= 0) close(guard->directory);
  guard->file = guard->directory = -1;
  guard->name[0] = '\0';
}

void watchList(list_guard* guard, const char* name, const struct stat& status) {
  snprintf(guard->watched, sizeof guard->watched, "%s", name);
  guard->device = status.st_dev;
  guard->inode = status.st_ino;
  guard->size = status.st_size;
  guard->modified = status.st_mtim;
}

bool lockWatched(list_guard* guard, int descriptor) {
  if (guard->watched[0] == '\0') return false;
  int failure = lockExclusive(descriptor);
  if (failure != 0) guard->refused = error::from_errno(failure);
  struct stat open, named;
  if (fstat(descriptor, &open) != 0 || stat(guard->watched, &named) != 0) return false;
  return sameFile(open, named) && open.st_dev == guard->device && open.st_ino == guard->inode &&
         open.st_size == guard->size && open.st_mtim.tv_sec == guard->modified.tv_sec &&
         open.st_mtim.tv_nsec == guard->modified.tv_nsec;
}
