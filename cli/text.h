#pragma once

#include <cstddef>

// Narrows the wide `in` to its bytes for printing. A character that no byte
// stands for (never met for names the containers read) shows as '?'.
const char* shownBytes(char* out, size_t room, const wchar_t* in);
