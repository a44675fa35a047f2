#include "replace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <zorvik/error.h>

#include "in_place.h"
#include "list_lock.h"
#include "util/new_file.h"

struct replacement {
  new_file file;
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

void release(replacement** pending) {
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

}  // namespace

FILE* openReplacement(const char* name, const list_guard* guard, replacement** pending) {
  *pending = nullptr;
  struct stat old;
  bool exists = stat(name, &old) == 0;
  // A device or FIFO is written as it is: there is nothing to replace.
  if (exists && !S_ISREG(old.st_mode)) return asItIs(name);
  auto* made = static_cast<replacement*>(calloc(1, sizeof(replacement)));
  if (made == nullptr) return nullptr;
  made->list = -1;
  int descriptor = makeNewFile(&made->file, name, partialSuffix);
  FILE* file = nullptr;
  if (descriptor < 0) {
    int failure = errno;
    // Only a directory that refuses the file, beside a list this user may
    // write, is worked around; a full disk or a read-only file system
    // ends the run here.
    bool refused = (failure == EACCES || failure == EPERM) && made->file.target[0] != '\0';
    if (refused && exists && guard != nullptr && guard->file >= 0) file = inMemory(made, guard->file);
    if (file == nullptr) {
      release(&made);
      errno = failure;
      return nullptr;
    }
    *pending = made;
    return file;
  }
  adoptAttributes(descriptor, exists ? &old : nullptr);
  file = fdopen(descriptor, "w");
  if (file == nullptr) {
    int failure = errno;
    close(descriptor);
    dropNewFile(&made->file);
    release(&made);
    errno = failure;
    return nullptr;
  }
  *pending = made;
  return file;
}

int commitReplacement(FILE** file, replacement** pending, char* kept, size_t keptRoom) {
  if (keptRoom > 0) kept[0] = '\0';
  int code = closeSynced(file);
  if (*pending == nullptr) return code;
  replacement* made = *pending;
  if (made->list >= 0) {
    if (code == error::ok)
      code = rewriteInPlace(made->list, made->file.target, made->bytes, made->length, kept, keptRoom);
  } else if (code == error::ok) {
    code = putNewFile(&made->file);
  } else {
    dropNewFile(&made->file);
  }
  release(pending);
  return code;
}

void discardReplacement(replacement** pending) {
  if (*pending == nullptr) return;
  dropNewFile(&(*pending)->file);
  release(pending);
}
