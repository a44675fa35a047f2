#include <chrono>
#include <cstdio>

#include <zorvik/error.h>

#include "output.h"
#include "run.h"
#include "status_line.h"

namespace {

using clock_type = std::chrono::steady_clock;

int millisecondsUntil(clock_type::time_point at) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(at - clock_type::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

const engine::result& waitForJob(const run_settings& settings, engine& hashing, const char* shown,
                                 char closing) {
  if (settings.quiet) return *hashing.take(-1);
  // The file's progress 5 s after it became the oldest, then every 500 ms;
  // the status line, when shown, ten times a second meanwhile.
  int lastShown = -1;
  clock_type::time_point due = clock_type::now() + std::chrono::milliseconds(5000);
  const engine::result* result;
  for (;;) {
    int wait = millisecondsUntil(due);
    if (status_line::showing() && wait > 100) wait = 100;
    if ((result = hashing.take(wait)) != nullptr) break;
    status_line::tick();
    if (clock_type::now() < due) continue;
    due = clock_type::now() + std::chrono::milliseconds(500);
    int percent = hashing.progress();
    if (percent != lastShown) {
      lastShown = percent;
      progress("%s: %d%% complete\r", shown, percent);
    }
  }
  // Nothing is shown of a file that is no regular one, nor, when verifying,
  // of a missing one: its verdict line alone tells, as nothing was hashed.
  bool verifying = closing == '\r';
  bool missing = result->code == error::file_not_found && verifying;
  if (result->notRegular || missing) return *result;
  if (verifying && status_line::takesPercentages()) {
    char text[4 * pathRoom + 32];
    formatShown(text, sizeof text, "%s: 100%% complete", shown);
    status_line::percentage(text);
  } else {
    say("%s: 100%% complete%c", shown, closing);
  }
  return *result;
}
