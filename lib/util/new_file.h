#pragma once

#include <sys/stat.h>

#include <climits>
#include <cstdio>

// A file written whole under a temporary name beside the one it replaces,
// and renamed over it only once every byte is written and synced: until
// then the old file, or its absence, stays exactly as it was. A symbolic
// link at the name stays; the file it finally names is the one replaced
// (or created), so that the rename never crosses file systems.
//
// The directory is not synced after the rename: whenever the system stops,
// the name holds the old file or the new one, each whole; a sync would only
// make the new one last sooner, at the cost of a journal commit a run.
struct new_file {
  char target[PATH_MAX];     // the file replaced
  char temporary[PATH_MAX];  // the file written; empty when there is none
  int slot;                  // among the files dropAllNewFiles() removes, or -1
};

// Makes the temporary file for the file that `name` names: the target's
// name followed by `suffix`, whose last six characters are "XXXXXX". Its
// descriptor (close-on-exec), or -1 with errno, ENAMETOOLONG for a name
// whose links cannot be followed to a name with room for the suffix. After
// a failure `made->target` is empty unless the temporary file itself could
// not be made.
int makeNewFile(new_file* made, const char* name, const char* suffix);

// Gives the file at `descriptor` the mode of `old`, and its owner and group
// where this user may; without `old`, the mode a plain create gives.
void adoptAttributes(int descriptor, const struct stat* old);

// Flushes, syncs (a regular file) and closes `*stream`, then sets it to
// null: 0, or the code of the first failure. Closed either way.
int closeSynced(FILE** stream);

// Renames the temporary file over the target: 0, or the code of the
// failure, the temporary file then removed.
int putNewFile(new_file* made);

// Removes the temporary file, if any; its stream must be closed first.
void dropNewFile(new_file* made);

// Removes every temporary file still being written; safe in a signal handler.
void dropAllNewFiles();
