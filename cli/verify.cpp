#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <cwchar>

#include <zorvik/error.h>
#include <zorvik/text.h>

#include "node_pool.h"
#include "output.h"
#include "run.h"
#include "text.h"

namespace {

// Files up to this size are hashed within microseconds; a look at the next
// entry taken meanwhile is still fresh when its turn comes.
constexpr long long quickJob = 4194304;

// One line of the checksum file, read while the entry before it is hashed.
struct listed_entry {
  bool unread = true;
  int read = 0;  // what getNextFile() answered
  wchar_t* path = nullptr;
  unsigned char expected[64];
  char shown[pathRoom];
  // What stat() said of the file, when it was looked at early enough to be
  // trusted: 0 not looked at, 1 regular or missing, 2 something else.
  int kind = 0;
  long long size = 0;

  void readFrom(run_context& context, size_t prefix) {
    unsigned long long listedSize;
    unread = false;
    kind = 0;
    read = context.file.getNextFile(path + prefix, pathRoom - static_cast<int>(prefix),
                                    &listedSize, expected);
    if (read > 0) shownBytes(shown, sizeof shown, path);
  }

  void lookAt() {
    struct stat status;
    bool found = stat(shown, &status) == 0;
    kind = found && !S_ISREG(status.st_mode) ? 2 : 1;
    size = found ? static_cast<long long>(status.st_size) : 0;
  }
};

// Verdict on `entry`: true when it verified. A code other than 0 in `*stop`
// ends the run. The next entry is read while the worker hashes this one.
bool checkEntry(run_context& context, listed_entry& entry, listed_entry& next, size_t prefix,
                int* stop) {
  const run_settings& settings = context.settings;
  const char* shown = entry.shown;
  int verified = context.file.isPreviouslyVerified(entry.path);
  if (verified < 0) {
    printf("Error processing file %s: %ls\n", shown, error::message(verified));
    *stop = verified;
    return false;
  }
  if (!settings.all && verified > 0) {
    if (!settings.quiet) printf("%s: Previously verified Ok\n", shown);
    return true;
  }
  // Only regular files are hashed: opening a FIFO would wait for a writer
  // for ever, and a device would be read without end or as empty.
  if (entry.kind == 0) entry.lookAt();
  if (entry.kind == 2) {
    ++context.errorsFound;
    printf("%s: File error: %ls\n", shown, error::message(error::file_read_error));
    return false;
  }
  int code = context.worker.processFile(entry.path, &context.algorithm);
  if (code != 0) {
    printf("Error processing file %s: %ls\n", shown, error::message(code));
    *stop = code;
    return false;
  }
  next.readFrom(context, prefix);
  if (next.read > 0 && entry.size <= quickJob) next.lookAt();
  waitForJob(context, shown, '\r');
  code = context.worker.getResult();
  if (code != 0) {
    ++context.errorsFound;
    printf("%s: File error: %ls\n", shown, error::message(code));
    return false;
  }
  hasher& algorithm = context.algorithm;
  if (memcmp(algorithm.hash(), entry.expected, algorithm.hash_size()) == 0) {
    if (!settings.quiet) printf("%s: Ok                   \n", shown);
    return true;
  }
  ++context.errorsFound;
  printf("%s: hash mismatch: %ls != %ls\n", shown, algorithm.hash_string(entry.expected),
         algorithm.hash_string(nullptr));
  return false;
}

}  // namespace

int verifyRun(run_context& context) {
  const run_settings& settings = context.settings;
  const char* name = settings.checksumName;
  // Both must fit the path buffer whole: nothing is checked under a cut name.
  size_t prefix = settings.parent != nullptr ? strlen(settings.parent) : 0;
  if (prefix > 0 && settings.parent[prefix - 1] != '/') ++prefix;
  if (strlen(name) >= static_cast<size_t>(pathRoom) || prefix >= static_cast<size_t>(pathRoom)) {
    report("Path is too long\n");
    return error::path_error;
  }
  bytesToWide(context.path, name, pathRoom);
  int code = context.file.open(context.path);
  if (code != 0) return code;

  // Two entries in turn: the worker borrows the path of one while the next
  // line is read into the other.
  wchar_t otherPath[pathRoom];
  listed_entry entries[2];
  entries[0].path = context.path;
  entries[1].path = otherPath;
  if (prefix > 0) {
    bytesToWide(context.path, settings.parent, pathRoom);
    context.path[prefix - 1] = L'/';
    wmemcpy(otherPath, context.path, prefix);
  }

  int turn = 0;
  entries[turn].readFrom(context, prefix);
  for (;;) {
    listed_entry& entry = entries[turn];
    listed_entry& next = entries[turn ^ 1];
    if (entry.read == 0) break;
    if (entry.read < 0) {
      // Never count an entry that was not read as checked; a malformed line
      // spoils only itself.
      printf("Error reading %s: %ls\n", name, error::message(entry.read));
      ++context.errorsFound;
      if (entry.read != error::invalid_line) break;
      entry.readFrom(context, prefix);
      continue;
    }
    ++context.filesChecked;
    int stop = 0;
    next.unread = true;
    bool verified = checkEntry(context, entry, next, prefix, &stop);
    if (stop != 0) return stop;
    context.file.setPreviouslyVerified(verified);
    if (next.unread) next.readFrom(context, prefix);
    turn ^= 1;
  }

  code = context.file.close();
  if (code != 0) {
    printf("Error writing checksum file: %ls\n", error::message(code));
    ++context.errorsFound;
  }
  printf("%d files checked\n", context.filesChecked);
  if (context.errorsFound == 0) {
    puts("All files Ok");
    programPool().release_all();
    return 0;
  }
  printf("%d errors detected\n", context.errorsFound);
  return 1;
}
