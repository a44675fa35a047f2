#pragma once

#include <cstdio>

// Line reading of the configuration files, shared by the store and its
// rewrite; internal to the library. The split of a line into key and value,
// get_key_value, is exported from <zorvik/config.h>.

// Size of the line buffer that get_config_line fills.
constexpr int configLineSize = 1024;

// Fills `buffer` (configLineSize bytes) with the next line of `file` that has
// content: comment cut, blanks removed at both ends. Lines longer than
// configLineSize - 1 bytes arrive in pieces. Null at end of file or on a read
// error.
char* get_config_line(char* buffer, FILE* file);
