#pragma once

#include <zorvik/container.h>
#include <zorvik/hasher.h>
#include <zorvik/pipeline.h>

#include "options.h"

// Room of the wide path buffer, in characters, terminator included.
inline constexpr int pathRoom = 512;

// What both runs share: the settings, the selected container and hasher,
// the worker, the counters and the one wide path buffer.
struct run_context {
  run_context(const run_settings& s, container& c, hasher& h, processor& p)
      : settings(s), file(c), algorithm(h), worker(p) {}

  const run_settings& settings;
  container& file;
  hasher& algorithm;
  processor& worker;
  int filesChecked = 0;
  int errorsFound = 0;
  wchar_t path[pathRoom];
};

// Writes a new checksum file of the operands argv[settings.firstOperand..].
int createRun(run_context& context, int argc, char** argv);
// Checks every file that the checksum file lists; 1 when anything failed.
int verifyRun(run_context& context);

// Waits for the job the worker was given for `shown`, printing its progress
// unless quiet; the closing "100%" line ends with `closing`.
void waitForJob(run_context& context, const char* shown, char closing);
