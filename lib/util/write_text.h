#pragma once

#include <cstdio>

// Formats into `file` as fprintf does: 0, or the code of the failed write
// (error::from_write).
int writeText(FILE* file, const char* format, ...) __attribute__((format(printf, 2, 3)));
