#include "replace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include <zorvik/error.h>

#include "in_place.h"
#include "list_lock.h"
#include "output.h"
#include "util/link_target.h"
#include "util/umask.h"

struct replacement {
  char target[PATH_MAX];
  char temporary[PATH_MAX];
  int slot;  // in the registry below, or -1
  // Written in place: the list's descriptor (the guard's) and the new
  // content, gathered in memory until the commit.
  int list;
  char* bytes;
  size_t length;
};

namespace {

// What the temporary file's name adds to the list's, so that one left by a
// run killed outright says what it is.
constexpr char partialSuffix[] = ".zorvik-partial-XXXXXX";

// Temporary files in progress, for removal from a signal handler: only
// atomic loads and unlink() there.
constexpr int registrySize = 16;
char* registry[registrySize];

int enroll(char* path) {
  for (int i = 0; i < registrySize; ++i) {
    char* expected = nullptr;
    if (__atomic_compare_exchange_n(&registry[i], &expected, path, false, __ATOMIC_SEQ_CST,
                                    __ATOMIC_SEQ_CST))
      return i;
  }
  return -1;
}

void withdraw(int slot) {
  if (slot >= 0) __atomic_store_n(&registry[slot], nullptr, __ATOMIC_SEQ_CST);
}

void release(replacement** pending) {
  withdraw((*pending)->slot);
  free((*pending)->bytes);
  free(*pending);
  *pending = nullptr;
}

// A pipe or device, opened as a plain "w" open does.
FILE* asItIs(const char* name) { return fopen(name, "w"); }

// The directory refuses a new file, but the list may be written: the new
// content waits in memory, and nothing touches the list until the commit.
FILE* inMemory(replacement* made, int list) {
  made->list = list;
  return open_memstream(&made->bytes, &made->length);
}

// Gives the new file the mode of the list it replaces, or that of a plain
// create; and the old owner and group where this user may.
void adoptAttributes(int descriptor, const struct stat* old) {
  if (old == nullptr) {
    fchmod(descriptor, 0666 & ~currentUmask());
    return;
  }
  if (fchown(descriptor, old->st_uid, old->st_gid) != 0)
    if (fchown(descriptor, static_cast<uid_t>(-1), old->st_gid) != 0) {
      // Not permitted: the new file keeps this user's group.
    }
  fchmod(descriptor, old->st_mode & 07777);
}

}  // namespace

FILE* openReplacement(const char* name, const list_guard* guard, replacement** pending) {
  *pending = nullptr;
  struct stat old;
  bool exists = stat(name, &old) == 0;
  // A device or FIFO is written as it is: there is nothing to replace.
  if (exists && !S_ISREG(old.st_mode)) return asItIs(name);
  auto* made = static_cast<replacement*>(calloc(1, sizeof(replacement)));
  if (made == nullptr) return nullptr;
  made->slot = made->list = -1;
  size_t length = 0;
  errno = 0;
  if (linkTarget(name, made->target, sizeof made->target)) length = strlen(made->target);
  if (length == 0 || length + sizeof partialSuffix > sizeof made->temporary) {
    if (errno == 0 || errno == ENOENT) errno = ENAMETOOLONG;
    int failure = errno;
    free(made);
    errno = failure;
    return nullptr;
  }
  memcpy(made->temporary, made->target, length);
  memcpy(made->temporary + length, partialSuffix, sizeof partialSuffix);
  int descriptor = mkostemp(made->temporary, O_CLOEXEC);
  FILE* file = nullptr;
  if (descriptor < 0) {
    int failure = errno;
    // Only a directory that refuses the file, beside a list this user may
    // write, is worked around; a full disk or a read-only file system
    // ends the run here.
    bool refused = failure == EACCES || failure == EPERM;
    if (refused && exists && guard != nullptr && guard->file >= 0) file = inMemory(made, guard->file);
    if (file == nullptr) {
      free(made);
      errno = failure;
      return nullptr;
    }
    *pending = made;
    return file;
  }
  made->slot = enroll(made->temporary);
  adoptAttributes(descriptor, exists ? &old : nullptr);
  file = fdopen(descriptor, "w");
  if (file == nullptr) {
    int failure = errno;
    close(descriptor);
    unlink(made->temporary);
    release(&made);
    errno = failure;
    return nullptr;
  }
  *pending = made;
  return file;
}

int commitReplacement(FILE** file, replacement** pending, char* kept, size_t keptRoom) {
  if (keptRoom > 0) kept[0] = '\0';
  int code = error::ok;
  errno = 0;
  if (fflush(*file) != 0) code = writeFailure();
  // A write that stdio only flagged earlier shows here.
  if (code == error::ok && ferror(*file)) code = error::unknown_error;
  int descriptor = fileno(*file);
  struct stat status;
  errno = 0;
  if (code == error::ok && descriptor >= 0 && fstat(descriptor, &status) == 0 &&
      S_ISREG(status.st_mode) && fsync(descriptor) != 0)
    code = writeFailure();
  errno = 0;
  if (fclose(*file) != 0 && code == error::ok) code = writeFailure();
  *file = nullptr;
  if (*pending == nullptr) return code;
  replacement* made = *pending;
  if (made->list >= 0) {
    if (code == error::ok)
      code = rewriteInPlace(made->list, made->target, made->bytes, made->length, kept, keptRoom);
  } else {
    errno = 0;
    if (code == error::ok && rename(made->temporary, made->target) != 0) code = writeFailure();
    if (code != error::ok) unlink(made->temporary);
  }
  release(pending);
  return code;
}

void discardReplacement(replacement** pending) {
  if (*pending == nullptr) return;
  if ((*pending)->list < 0) unlink((*pending)->temporary);
  release(pending);
}

void discardAllReplacements() {
  int saved = errno;
  for (char*& slot : registry) {
    char* path = __atomic_load_n(&slot, __ATOMIC_SEQ_CST);
    if (path != nullptr) unlink(path);
  }
  errno = saved;
}
