#pragma once

#include <sys/types.h>

#include <cstddef>

// Writing over a file in place, all or nothing, for the cases where no new
// file can take its place: the file, from byte `at` to its end, becomes
// `fresh` (`freshLength` bytes) instead of `old` (`oldLength` bytes, what it
// holds there now). The bytes beyond the old end are written and synced
// first, so that a full disk or a size limit fails before any old byte is
// overwritten; then the rest, the cut and a sync, with signals held. When a
// step fails, `old` is written back and the file cut to its old length.
// Returns 0 or the code of the first failure; `*restored` tells whether the
// file then holds its old bytes again.
int overwriteTail(int descriptor, off_t at, const char* old, size_t oldLength, const char* fresh,
                  size_t freshLength, bool* restored);

// The file at `descriptor` from byte `at` to its end, in `*bytes` (freed by
// the caller; allocated even when there are none) and `*length`; 0 or a
// code.
int readTail(int descriptor, off_t at, char** bytes, size_t* length);

// Rewrites the list `name`, open at `descriptor` and no longer than what
// `old` holds, as `fresh`: a synced copy of its old bytes is kept under the
// user's state directory ($XDG_STATE_HOME/zorvik, or ~/.local/state/zorvik)
// until the list is whole again. Without a copy nothing is written. When
// the old bytes could not even be put back, the copy stays and its path is
// in `kept` (`keptRoom` bytes); otherwise `kept` is empty. 0 or a code.
int rewriteInPlace(int descriptor, const char* name, const char* fresh, size_t freshLength,
                   char* kept, size_t keptRoom);
