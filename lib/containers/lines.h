#pragma once

#include <cstddef>
#include <cstdio>

// Reads the next non-empty line of `file` whole, however long, into the
// malloc'd `*buffer` of `*room` bytes (grown as needed; the caller frees it).
// Line feeds at its end are removed, carriage returns kept, and a NUL is put
// after it. Returns its length in bytes, NUL bytes inside it counted (callers
// that need a C string compare it with strlen), 0 at end of file, or a
// negative error code. `*lines` grows by the lines read, empty ones too.
long readWholeLine(FILE* file, char** buffer, size_t* room, unsigned long* lines);
