#pragma once

#include <cstdio>

// A new checksum file written whole before it replaces the old one: into a
// temporary file beside the list (beside its final target when the name is
// a symbolic link, so the link stays and no rename crosses file systems),
// renamed over it only once every byte is written and synced. Until then
// the old list, or its absence, stays exactly as it was.
struct replacement;

// Opens the list `name` for writing. Where a temporary file can be made
// beside it, that file is written, with the mode (and, where permitted, the
// owner and group) of the list it replaces, or the mode a plain create
// gives, and `*pending` holds it. Otherwise (a directory the user may not
// write, a list that is no regular file) `name` itself is opened as "w"
// opens it and `*pending` is null. Null with errno on failure.
FILE* openReplacement(const char* name, replacement** pending);

// Flushes, syncs and closes `*file` (set to null), then puts the written
// file in place. Returns 0 or the code of the first failure, after which
// the temporary file is gone.
int commitReplacement(FILE** file, replacement** pending);

// Removes the temporary file of `*pending`, if any, and forgets it.
void discardReplacement(replacement** pending);

// Removes every temporary file in progress; safe in a signal handler.
void discardAllReplacements();
