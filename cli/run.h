#pragma once

#include <zorvik/container.h>
#include <zorvik/engine.h>

#include "options.h"

// Room of the wide path buffer, in characters, terminator included.
inline constexpr int pathRoom = 512;

// What a create run works with: the settings, the list of the chosen
// type, the hashing engine and the one wide path buffer.
struct run_context {
  run_context(const run_settings& s, container& c, engine& e) : settings(s), file(c), hashing(e) {}

  const run_settings& settings;
  container& file;
  engine& hashing;
  wchar_t path[pathRoom];

  // A type's value is the engine's id of its algorithm.
  int engineAlgorithm() const { return settings.type; }
};

// Writes a new checksum file of the operands argv[settings.firstOperand..].
int createRun(run_context& context, int argc, char** argv);
// Checks every file that each checksum file lists: the checksum file named
// in the settings and those after it, argv[settings.firstOperand..], each a
// list or a directory of lists; 1 when anything failed.
int verifyRun(const run_settings& settings, engine& hashing, int argc, char** argv);

// Warns on standard error when the file system refused the lock on the
// list `name` that `file` wanted, and the run went on without it.
void warnUnlocked(const container& file, const char* name);

// Waits for the oldest job, shown as `shown`, printing its progress unless
// quiet: the first line 5 s after it became the oldest, then every 500 ms
// when the percentage changed. The closing "100%" line ends with `closing`
// ('\r' when verifying, '\n' when creating), and is left out for a file
// refused as no regular file, and when verifying for a missing one.
const engine::result& waitForJob(const run_settings& settings, engine& hashing, const char* shown,
                                 char closing);
inline const engine::result& waitForJob(run_context& context, const char* shown, char closing) {
  return waitForJob(context.settings, context.hashing, shown, closing);
}
