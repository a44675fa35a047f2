#include "util/config_rewrite.h"

#include <zorvik/config.h>
#include <zorvik/error.h>

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "util/config_line.h"
#include "util/new_file.h"
#include "util/write_text.h"

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
        if (writeText(out, "%s\n", line) != error::ok) return false;
      } else if (!found) {
        found = true;
        if (writeText(out, "%s=%s\n", key, value) != error::ok) return false;
      }
    }
    // A read error would otherwise cut the user's settings short.
    if (ferror(in)) return false;
  }
  return found || writeText(out, "%s=%s\n", key, value) == error::ok;
}

}  // namespace

bool rewriteConfigFile(const char* path, const char* key, const char* value) {
  // A name of our own, so that two processes never write into one file.
  new_file made;
  int descriptor = makeNewFile(&made, path, ".XXXXXX");
  if (descriptor < 0) return false;
  FILE* in = fopen(made.target, "rt");
  FILE* out = nullptr;
  // A file we cannot read must not be replaced by one without its settings.
  if (in != nullptr || errno == ENOENT) {
    struct stat status;
    adoptAttributes(descriptor, in != nullptr && fstat(fileno(in), &status) == 0 ? &status : nullptr);
    out = fdopen(descriptor, "w");
  }
  if (out == nullptr) {
    close(descriptor);
    if (in != nullptr) fclose(in);
    dropNewFile(&made);
    return false;
  }
  bool ok = copySettings(in, out, key, value);
  if (in != nullptr) fclose(in);
  if (closeSynced(&out) != error::ok || !ok) {
    dropNewFile(&made);
    return false;
  }
  return putNewFile(&made) == error::ok;
}
