#include <cstdio>

#include <zorvik/error.h>

#include "output.h"
#include "run.h"

const engine::result& waitForJob(run_context& context, const char* shown, char closing) {
  engine& hashing = context.hashing;
  if (context.settings.quiet) return *hashing.take(-1);
  int lastShown = -1;
  int timeout = 5000;
  const engine::result* result;
  while ((result = hashing.take(timeout)) == nullptr) {
    timeout = 500;
    int percent = hashing.progress();
    if (percent != lastShown) {
      lastShown = percent;
      progress("%s: %d%% complete\r", shown, percent);
    }
  }
  // Nothing is shown of a file that is no regular one, or of a missing one
  // that is passed over.
  bool missing = result->code == error::file_not_found && context.settings.ignoreMissing;
  if (!result->notRegular && !missing) say("%s: 100%% complete%c", shown, closing);
  return *result;
}
