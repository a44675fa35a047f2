#include "util/new_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <zorvik/error.h>

#include "util/link_target.h"
#include "util/umask.h"

namespace {

// Temporary files in progress, for removal from a signal handler: only
// atomic loads and unlink() there, on whichever thread takes the signal.
// A path is enrolled with release and loaded there with acquire, so that
// its bytes are whole when it is read; it is withdrawn (release) once the
// file is renamed or removed. A slot is claimed by compare-and-swap, so
// that two files never share one.
constexpr int registrySize = 16;
std::atomic<char*> registry[registrySize];
static_assert(std::atomic<char*>::is_always_lock_free, "used in a signal handler");

int enroll(char* path) {
  for (int i = 0; i < registrySize; ++i) {
    char* expected = nullptr;
    if (registry[i].compare_exchange_strong(expected, path, std::memory_order_release,
                                            std::memory_order_relaxed))
      return i;
  }
  return -1;
}

void withdraw(new_file* made) {
  if (made->slot >= 0) registry[made->slot].store(nullptr, std::memory_order_release);
  made->slot = -1;
  made->temporary[0] = '\0';
}

}  // namespace

int makeNewFile(new_file* made, const char* name, const char* suffix) {
  made->slot = -1;
  made->temporary[0] = '\0';
  size_t suffixLength = strlen(suffix);
  if (!linkTarget(name, made->target, sizeof made->target)) {
    made->target[0] = '\0';
    return -1;
  }
  size_t length = strlen(made->target);
  if (length + suffixLength >= sizeof made->temporary) {
    made->target[0] = '\0';
    errno = ENAMETOOLONG;
    return -1;
  }
  memcpy(made->temporary, made->target, length);
  memcpy(made->temporary + length, suffix, suffixLength + 1);
  int descriptor = mkostemp(made->temporary, O_CLOEXEC);
  if (descriptor < 0) {
    made->temporary[0] = '\0';
    return -1;
  }
  made->slot = enroll(made->temporary);
  return descriptor;
}

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

int closeSynced(FILE** stream) {
  FILE* file = *stream;
  *stream = nullptr;
  // A write that stdio only flagged earlier shows in the error flag.
  int code = error::from_write([file] { return fflush(file) == 0 && ferror(file) == 0; });
  int descriptor = fileno(file);
  struct stat status;
  // Pipes, devices and memory streams have nothing to sync.
  if (code == error::ok && descriptor >= 0 && fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode))
    code = error::from_write([descriptor] { return fsync(descriptor) == 0; });
  if (code != error::ok) {
    fclose(file);
    return code;
  }
  return error::from_write([file] { return fclose(file) == 0; });
}

int putNewFile(new_file* made) {
  int code = error::from_write([made] { return rename(made->temporary, made->target) == 0; });
  if (code != error::ok) unlink(made->temporary);
  withdraw(made);
  return code;
}

void dropNewFile(new_file* made) {
  if (made->temporary[0] != '\0') unlink(made->temporary);
  withdraw(made);
}

void dropAllNewFiles() {
  int saved = errno;
  for (std::atomic<char*>& slot : registry) {
    char* path = slot.load(std::memory_order_acquire);
    if (path != nullptr) unlink(path);
  }
  errno = saved;
}
