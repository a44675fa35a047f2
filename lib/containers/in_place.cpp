#include "in_place.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <zorvik/error.h>

#include "signal_hold.h"

namespace {

// A write that wrote nothing and set no errno means a full disk.
int writeAt(int descriptor, const char* bytes, size_t length, off_t at) {
  while (length > 0) {
    ssize_t n = 0;
    int code = error::from_write([&] { return (n = pwrite(descriptor, bytes, length, at)) > 0; }, ENOSPC);
    if (n < 0 && errno == EINTR) continue;
    if (code != error::ok) return code;
    bytes += n;
    length -= static_cast<size_t>(n);
    at += n;
  }
  return error::ok;
}

int cutAt(int descriptor, off_t length) {
  return error::from_write([=] { return ftruncate(descriptor, length) == 0; }, ENOSPC);
}

int sync(int descriptor) {
  return error::from_write([=] { return fsync(descriptor) == 0; }, ENOSPC);
}

// pread, again when a signal cut it short of any byte.
ssize_t readAt(int descriptor, char* bytes, size_t room, off_t at) {
  ssize_t n;
  while ((n = pread(descriptor, bytes, room, at)) < 0 && errno == EINTR) {
  }
  return n;
}

// `length` bytes of `from` from `offset` on, written at `at`.
int writeFrom(int descriptor, const tail_source& from, size_t offset, size_t length, off_t at) {
  if (length == 0) return error::ok;
  if (from.file == nullptr) return writeAt(descriptor, from.bytes + offset, length, at);
  char block[65536];
  while (length > 0) {
    ssize_t n = readAt(fileno(from.file), block, std::min(length, sizeof block), static_cast<off_t>(offset));
    if (n <= 0) return error::from_errno(n < 0 ? errno : EIO);
    int code = writeAt(descriptor, block, static_cast<size_t>(n), at);
    if (code != error::ok) return code;
    offset += static_cast<size_t>(n);
    length -= static_cast<size_t>(n);
    at += n;
  }
  return error::ok;
}

// The old bytes back where they were, the file cut to its old end.
bool putBack(int descriptor, off_t at, const tail_source& old) {
  return writeFrom(descriptor, old, 0, old.length, at) == error::ok &&
         cutAt(descriptor, at + static_cast<off_t>(old.length)) == error::ok && sync(descriptor) == error::ok;
}

// The user's state directory for zorvik, made when missing, in `out`.
int stateDirectory(char* out, size_t room) {
  const char* state = getenv("XDG_STATE_HOME");
  const char* home = getenv("HOME");
  int written;
  // A relative value is to be ignored, as if unset.
  if (state != nullptr && state[0] == '/')
    written = snprintf(out, room, "%s/zorvik", state);
  else if (home != nullptr && home[0] != '\0')
    written = snprintf(out, room, "%s/.local/state/zorvik", home);
  else
    return error::from_errno(ENOENT);
  if (written < 0 || static_cast<size_t>(written) >= room) return error::from_errno(ENAMETOOLONG);
  // Each missing level, private to the user.
  for (char* slash = out + 1;; ++slash) {
    slash = strchr(slash, '/');
    if (slash != nullptr) *slash = '\0';
    bool made = mkdir(out, 0700) == 0 || errno == EEXIST;
    if (slash != nullptr) *slash = '/';
    if (!made) return error::translate_errno();
    if (slash == nullptr) return error::ok;
  }
}

// A synced copy of `bytes` named after the list `name`, its path in `copy`.
int keepCopy(const char* name, const char* bytes, size_t length, char* copy, size_t room) {
  int code = stateDirectory(copy, room);
  if (code != error::ok) return code;
  const char* base = strrchr(name, '/');
  base = base != nullptr ? base + 1 : name;
  size_t used = strlen(copy);
  int written = snprintf(copy + used, room - used, "/%s.XXXXXX", base);
  if (written < 0 || static_cast<size_t>(written) >= room - used) return error::from_errno(ENAMETOOLONG);
  int descriptor = mkostemp(copy, O_CLOEXEC);
  if (descriptor < 0) return error::translate_errno();
  code = writeAt(descriptor, bytes, length, 0);
  if (code == error::ok) code = sync(descriptor);
  close(descriptor);
  if (code != error::ok) {
    unlink(copy);
    return code;
  }
  // Its name too must survive a crash.
  char* slash = strrchr(copy, '/');
  *slash = '\0';
  int directory = open(copy, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  *slash = '/';
  if (directory >= 0) {
    fsync(directory);
    close(directory);
  }
  return error::ok;
}

}  // namespace

void releaseTail(tail_source* tail) {
  if (tail->file != nullptr) fclose(tail->file);
  free(const_cast<char*>(tail->bytes));
  *tail = {};
}

FILE* scratchFile() { return tmpfile(); }

int tailFromFile(FILE* file, tail_source* tail) {
  *tail = {};
  tail->file = file;
  int code = error::from_write([file] { return fflush(file) == 0; });
  long length = ftell(file);
  if (code == error::ok && length < 0) code = error::translate_errno();
  if (code == error::ok) tail->length = static_cast<size_t>(length);
  return code;
}

int overwriteTail(int descriptor, off_t at, const tail_source& old, const tail_source& fresh, bool* restored) {
  *restored = true;
  signal_hold held;
  off_t oldEnd = at + static_cast<off_t>(old.length);
  // Beyond the old end first: nothing old is lost when there is no room.
  if (fresh.length > old.length) {
    int code = writeFrom(descriptor, fresh, old.length, fresh.length - old.length, oldEnd);
    // A network file system may tell of a full disk only at the sync.
    if (code == error::ok) code = sync(descriptor);
    if (code != error::ok) {
      *restored = cutAt(descriptor, oldEnd) == error::ok;
      return code;
    }
  }
  int code = writeFrom(descriptor, fresh, 0, std::min(old.length, fresh.length), at);
  if (code == error::ok && fresh.length < old.length)
    code = cutAt(descriptor, at + static_cast<off_t>(fresh.length));
  if (code == error::ok) code = sync(descriptor);
  if (code != error::ok) *restored = putBack(descriptor, at, old);
  return code;
}

int readTail(int descriptor, off_t at, char** bytes, size_t* length) {
  *bytes = nullptr;
  *length = 0;
  size_t room = 0;
  int failure = ENOMEM;
  for (;;) {
    if (*length == room) {
      room = room == 0 ? 65536 : room * 2;
      char* bigger = static_cast<char*>(realloc(*bytes, room));
      if (bigger == nullptr) break;
      *bytes = bigger;
    }
    ssize_t n = readAt(descriptor, *bytes + *length, room - *length, at + static_cast<off_t>(*length));
    if (n < 0) {
      failure = errno;
      break;
    }
    if (n == 0) return error::ok;
    *length += static_cast<size_t>(n);
  }
  int code = error::from_errno(failure);
  free(*bytes);
  *bytes = nullptr;
  *length = 0;
  return code;
}

int saveTail(int descriptor, off_t at, tail_source* saved) {
  *saved = {};
  if (FILE* file = scratchFile()) {
    char block[65536];
    int code = error::ok;
    for (off_t offset = at;;) {
      ssize_t n = readAt(descriptor, block, sizeof block, offset);
      if (n < 0) code = error::translate_errno();
      if (n <= 0) break;
      if (fwrite(block, 1, static_cast<size_t>(n), file) != static_cast<size_t>(n)) {
        code = error::translate_errno();
        break;
      }
      offset += n;
    }
    if (code == error::ok) {
      code = tailFromFile(file, saved);  // which owns the file from now on
      if (code == error::ok) return code;
      releaseTail(saved);
    } else {
      fclose(file);
    }
  }
  char* bytes;
  int code = readTail(descriptor, at, &bytes, &saved->length);
  saved->bytes = bytes;
  return code;
}

int rewriteInPlace(int descriptor, const char* name, const char* fresh, size_t freshLength,
                   char* kept, size_t keptRoom) {
  kept[0] = '\0';
  signal_hold held;
  char* old;
  size_t oldLength;
  int code = readTail(descriptor, 0, &old, &oldLength);
  char copy[PATH_MAX];
  if (code == error::ok) code = keepCopy(name, old, oldLength, copy, sizeof copy);
  if (code != error::ok) {
    free(old);
    return code;
  }
  bool restored;
  code = overwriteTail(descriptor, 0, {old, nullptr, oldLength}, {fresh, nullptr, freshLength}, &restored);
  free(old);
  if (restored) {
    unlink(copy);
  } else {
    snprintf(kept, keptRoom, "%s", copy);
  }
  return code;
}
