#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdio>

// Bytes a tail is written from, or put back from: in memory, or in an
// unnamed file of their own (from its start), read a block at a time, so
// that a long tail costs the process no memory.
struct tail_source {
  const char* bytes = nullptr;
  FILE* file = nullptr;
  size_t length = 0;
};
// Frees what a tail_source holds.
void releaseTail(tail_source* tail);
// `*file` (made by scratchFile, written with stdio) as a source of its
// `length` bytes; it is the source's from now on. 0 or the code of a
// failed write.
int tailFromFile(FILE* file, tail_source* tail);
// An unnamed file for a tail, or null when none can be had.
FILE* scratchFile();

// Writing over a file in place, all or nothing, for the cases where no new
// file can take its place: the file, from byte `at` to its end, becomes
// `fresh` instead of `old` (what it holds there now). The bytes beyond the
// old end are written and synced first, so that a full disk or a size
// limit fails before any old byte is overwritten; then the rest, the cut
// and a sync, with signals held. When a step fails, `old` is written back
// and the file cut to its old length. Returns 0 or the code of the first
// failure; `*restored` tells whether the file then holds its old bytes
// again.
int overwriteTail(int descriptor, off_t at, const tail_source& old, const tail_source& fresh,
                  bool* restored);

// The file at `descriptor` from byte `at` to its end, in `*bytes` (freed by
// the caller; allocated even when there are none) and `*length`; 0 or a
// code.
int readTail(int descriptor, off_t at, char** bytes, size_t* length);
// The same kept in a scratch file where one can be had, in memory where
// not.
int saveTail(int descriptor, off_t at, tail_source* saved);

// Rewrites the list `name`, open at `descriptor` and no longer than what
// `old` holds, as `fresh`: a synced copy of its old bytes is kept under the
// user's state directory ($XDG_STATE_HOME/zorvik, or ~/.local/state/zorvik)
// until the list is whole again. Without a copy nothing is written. When
// the old bytes could not even be put back, the copy stays and its path is
// in `kept` (`keptRoom` bytes); otherwise `kept` is empty. 0 or a code.
int rewriteInPlace(int descriptor, const char* name, const char* fresh, size_t freshLength,
                   char* kept, size_t keptRoom);
