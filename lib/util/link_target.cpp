#include "util/link_target.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

namespace {

bool tooLong() {
  errno = ENAMETOOLONG;
  return false;
}

}  // namespace

bool linkTarget(const char* path, char* out, size_t room) {
  char current[PATH_MAX];
  if (strlen(path) >= sizeof current) return tooLong();
  strcpy(current, path);
  // As the kernel does: a chain of more than 40 links counts as a loop.
  for (int hops = 0; hops <= 40; ++hops) {
    struct stat status;
    // A name that does not exist ends the chain: a dangling link names the
    // file to create.
    bool found = lstat(current, &status) == 0;
    if (!found && errno != ENOENT) return false;
    if (!found || !S_ISLNK(status.st_mode)) {
      size_t length = strlen(current);
      if (length + 1 > room) return tooLong();
      memcpy(out, current, length + 1);
      return true;
    }
    char target[PATH_MAX];
    ssize_t length = readlink(current, target, sizeof target - 1);
    if (length < 0) return false;
    target[length] = '\0';
    // A relative target replaces the link's own name within its directory.
    char* slash = target[0] == '/' ? current : strrchr(current, '/');
    size_t keep = slash == nullptr ? 0 : static_cast<size_t>(slash - current) + (target[0] == '/' ? 0 : 1);
    if (keep + static_cast<size_t>(length) >= sizeof current) return tooLong();
    memcpy(current + keep, target, static_cast<size_t>(length) + 1);
  }
  return tooLong();
}
