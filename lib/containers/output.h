#pragma once

#include <cstdio>

// Writes the three header lines of a new checksum file: the generator line
// (the compatibility wording when `compatibility`), the web address and an
// empty comment. Returns the code of a failed generator line; a failure of
// the two lines after it is stored in `*deferred` (when it holds none yet)
// for close() to report, since stdio may only notice it at the flush.
int writeHeader(FILE* file, bool compatibility, int* deferred);
