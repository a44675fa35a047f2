#pragma once

#include <cstddef>
#include <cstdio>

struct list_guard;

// A new checksum file written whole before it replaces the old one, as a
// new_file (util/new_file.h) beside the list. Until then the old list, or
// its absence, stays exactly as it was.
//
// Where the directory refuses a file beside the list (EACCES, EPERM) while
// the list itself, open for writing in `guard`, may be written, the new
// content is kept in memory instead and written over the list in place at
// the commit, all or nothing (see in_place.h).
struct replacement;

// Opens the list `name` for writing. Where a temporary file can be made
// beside it, that file is written, with the mode (and, where permitted, the
// owner and group) of the list it replaces, or the mode a plain create
// gives, and `*pending` holds it. A list that is a pipe or a device is
// opened as "w" opens it and `*pending` is null. Null with errno on
// failure: every other failure to make the temporary file ends here, the
// list untouched.
FILE* openReplacement(const char* name, const list_guard* guard, replacement** pending);

// Flushes, syncs and closes `*file` (set to null), then puts the written
// file in place. Returns 0 or the code of the first failure, after which
// the temporary file is gone and the list is as it was; should even that
// fail for a list written in place, the path of the copy of its old
// content is in `kept` (`keptRoom` bytes), which is empty otherwise.
int commitReplacement(FILE** file, replacement** pending, char* kept, size_t keptRoom);

// Removes the temporary file of `*pending`, if any, and forgets it. The
// stream must be closed first.
void discardReplacement(replacement** pending);
