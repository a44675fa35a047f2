#include "util/config_rewrite.h"

#include <zorvik/config.h>

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "util/config_line.h"
#include "util/link_target.h"
#include "util/umask.h"

namespace {

// Copies `in` (may be null) into `out`, replacing or appending `key`. False
// on any read or write error.
bool copySettings(FILE* in, FILE* out, const char* key, const char* value) {
  char line[configLineSize];
  char copy[configLineSize];
  bool found = false;
  if (in != nullptr) {
    while (get_config_line(line, in) != nullptr) {
      strcpy(copy, line);
      char* lineValue;
      char* lineKey = get_key_value(copy, &lineValue);
      if (lineKey == nullptr || strcasecmp(lineKey, key) != 0) {
        if (fprintf(out, "%s\n", line) < 0) return false;
      } else if (!found) {
        found = true;
        if (fprintf(out, "%s=%s\n", key, value) < 0) return false;
      }
    }
    // A read error would otherwise cut the user's settings short.
    if (ferror(in)) return false;
  }
  if (!found && fprintf(out, "%s=%s\n", key, value) < 0) return false;
  return true;
}

// Flushes and closes `out`, making its data durable; false if anything
// failed (the stream is closed either way).
bool finish(FILE* out) {
  bool ok = fflush(out) == 0;
  if (ok && fsync(fileno(out)) != 0 && errno != EINVAL && errno != ENOTSUP) ok = false;
  if (fclose(out) != 0) ok = false;
  return ok;
}

}  // namespace

bool rewriteConfigFile(const char* path, const char* key, const char* value) {
  // Beside the link's target, so that the rename replaces the target and
  // never crosses file systems.
  char target[PATH_MAX];
  char temporary[PATH_MAX];
  if (!linkTarget(path, target, sizeof target) ||
      snprintf(temporary, sizeof temporary, "%s.XXXXXX", target) >= static_cast<int>(sizeof temporary))
    return false;

  // A name of our own, so that two processes never write into one file.
  int descriptor = mkstemp(temporary);
  if (descriptor < 0) return false;

  FILE* in = fopen(target, "rt");
  if (in == nullptr && errno != ENOENT) {
    // A file we cannot read must not be replaced by one without its settings.
    close(descriptor);
    unlink(temporary);
    return false;
  }
  struct stat status;
  mode_t mode = (in != nullptr && fstat(fileno(in), &status) == 0)
                    ? (status.st_mode & 07777)
                    : (0666 & ~currentUmask());
  FILE* out = nullptr;
  if (fchmod(descriptor, mode) == 0) out = fdopen(descriptor, "w");
  if (out == nullptr) {
    close(descriptor);
    if (in != nullptr) fclose(in);
    unlink(temporary);
    return false;
  }

  bool ok = copySettings(in, out, key, value);
  if (in != nullptr) fclose(in);
  if (!finish(out)) ok = false;
  // rename alone replaces the file, so the old one stays until the new one
  // is complete.
  if (!ok || rename(temporary, target) != 0) {
    unlink(temporary);
    return false;
  }
  return true;
}
