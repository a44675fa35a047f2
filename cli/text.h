#pragma once

#include <cstddef>

// Narrows the wide `in` to its bytes for printing. A character that no byte
// stands for (never met for names the containers read) shows as '?'.
const char* shownBytes(char* out, size_t room, const wchar_t* in);

// Whether the first `length` bytes of the name `name` hold a byte that would
// break or rewrite a line on a terminal: 0x01-0x1F other than a tab, or 0x7F.
// A line holding such a name begins with a backslash, and every name in it
// is written escaped.
bool needsEscape(const char* name, size_t length);

// The escaped form of the byte `c` in such a line: "\\\\", "\\n", "\\r", or
// "\\xHH" (lower-case digits) for the other bytes needsEscape() looks for;
// `c` itself otherwise. Writes it into `out` (room for 5 bytes) and returns
// its length.
size_t escapedByte(char* out, char c);
