#pragma once

#include <cstdlib>

#include "list_types.h"

// What the command line asked for. Names are borrowed from the argument
// vector, which outlives the run.
struct run_settings {
  run_settings() = default;
  ~run_settings() { free(excludes); }
  run_settings(const run_settings&) = delete;
  run_settings& operator=(const run_settings&) = delete;

  bool quiet = false;
  bool recursive = false;
  bool all = false;
  bool oneFileSystem = false;
  const char* createName = nullptr;
  // The first checksum file (or directory of lists) to verify; the others
  // follow it, up to the last argument.
  const char* checksumName = nullptr;
  const char* parent = nullptr;
  int type = type_sfv;
  bool typeForced = false;
  // Operands of a create run: argv[firstOperand] to argv[argc - 1]; of a
  // verify run, those after checksumName.
  int firstOperand = 0;
  // Files hashed at a time; 0 for as many as the CPUs allow.
  int jobs = 0;
  // -u: the create file is brought up to date, not replaced.
  bool update = false;
  // Verify runs: entries whose file does not exist are passed over.
  bool ignoreMissing = false;
  // Verify runs: nothing on standard output, the exit status tells.
  bool status = false;
  // Create runs: more operands, one a line (NUL-terminated with -0) in this
  // file ("-" for standard input).
  const char* filesFrom = nullptr;
  bool nullTerminated = false;
  // Create runs: shell patterns of names to leave out; borrowed from the
  // argument vector.
  const char** excludes = nullptr;
  int excludeCount = 0;
  // Create runs: each directory's entries in byte order of their names.
  bool sorted = false;
  // No overall status line on a terminal.
  bool noProgress = false;
};

// Parses the options into `settings`. Returns true when a run or the usage
// text for a missing checksum file follows; false when parsing already ended
// the process's work (version banner, --help, unknown type), with the value
// to exit with in `*value`.
bool parseOptions(int argc, char** argv, run_settings& settings, int* value);

// The usage text, with the base name of `program`.
void printUsage(const char* program);
// The version banner with `name` as given.
void printVersion(const char* name);
