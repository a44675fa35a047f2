#pragma once

#include <cstddef>
#include <cstdio>

// Reads the next non-empty line of `file` whole, however long, into the
// malloc'd `*buffer` of `*room` bytes (grown as needed; the caller frees it).
// Line feeds at its end are removed, carriage returns kept, and the text ends
// at an embedded NUL, as a C string would. Returns its length in bytes, 0 at
// end of file, or a negative error code.
long readWholeLine(FILE* file, char** buffer, size_t* room);
