#pragma once

#include <cstddef>

#include <zorvik/api.h>

// Byte-transparent text: every byte becomes the wide character of the same
// value (0x01-0xFF) and back. Names are bytes on Linux; the C locale's
// mbstowcs/wcstombs would reject every byte of 0x80 and above, so every
// narrow/wide conversion of the system goes through these two functions,
// whatever LANG and LC_ALL say.

// Widens the NUL-terminated `in` into `out`, which holds `room` wide
// characters. Returns the length written (terminator not counted), or -1
// when it does not fit (`out` then holds nothing usable).
extern "C" ZORVIK_API long bytesToWide(wchar_t* out, const char* in, size_t room);

// Narrows the NUL-terminated `in` into `out`, which holds `room` bytes.
// Returns the length written (terminator not counted), or -1 when it does
// not fit or a character is above 0xFF (no byte stands for it).
extern "C" ZORVIK_API long wideToBytes(char* out, const wchar_t* in, size_t room);
