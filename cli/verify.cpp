#include <sys/stat.h>

#include <cstdio>
#include <cstring>

#include <zorvik/error.h>
#include <zorvik/text.h>

#include "node_pool.h"
#include "output.h"
#include "run.h"
#include "text.h"

namespace {

// Verdict on the entry whose path fills the buffer: true when it verified.
// A code other than 0 in `*stop` ends the run.
bool checkEntry(run_context& context, const unsigned char* expected, const char* shown,
                int* stop) {
  const run_settings& settings = context.settings;
  int verified = context.file.isPreviouslyVerified(context.path);
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
  struct stat status;
  if (stat(shown, &status) == 0 && !S_ISREG(status.st_mode)) {
    ++context.errorsFound;
    printf("%s: File error: %ls\n", shown, error::message(error::file_read_error));
    return false;
  }
  int code = context.worker.processFile(context.path, &context.algorithm);
  if (code != 0) {
    printf("Error processing file %s: %ls\n", shown, error::message(code));
    *stop = code;
    return false;
  }
  waitForJob(context, shown, '\r');
  code = context.worker.getResult();
  if (code != 0) {
    ++context.errorsFound;
    printf("%s: File error: %ls\n", shown, error::message(code));
    return false;
  }
  hasher& algorithm = context.algorithm;
  if (memcmp(algorithm.hash(), expected, algorithm.hash_size()) == 0) {
    if (!settings.quiet) printf("%s: Ok                   \n", shown);
    return true;
  }
  ++context.errorsFound;
  printf("%s: hash mismatch: %ls != %ls\n", shown, algorithm.hash_string(expected),
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

  if (prefix > 0) {
    bytesToWide(context.path, settings.parent, pathRoom);
    context.path[prefix - 1] = L'/';
    context.path[prefix] = L'\0';
  }

  char shown[pathRoom];
  unsigned char expected[64];
  unsigned long long size;
  for (;;) {
    int read = context.file.getNextFile(context.path + prefix, pathRoom - static_cast<int>(prefix),
                                        &size, expected);
    if (read == 0) break;
    if (read < 0) {
      // Never count an entry that was not read as checked; a malformed line
      // spoils only itself.
      printf("Error reading %s: %ls\n", name, error::message(read));
      ++context.errorsFound;
      if (read == error::invalid_line) continue;
      break;
    }
    ++context.filesChecked;
    shownBytes(shown, sizeof shown, context.path);
    int stop = 0;
    bool verified = checkEntry(context, expected, shown, &stop);
    if (stop != 0) return stop;
    context.file.setPreviouslyVerified(verified);
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
