#pragma once

#include <zorvik/api.h>

extern "C" {
// Writes 4 * ceil(len / 3) characters of standard Base64 to `out`, padded
// with "=", no terminator; returns that count.
ZORVIK_API int Base64Encode(unsigned char* in, char* out, int len);
// Decodes the run of alphabet characters after leading blanks and tabs of
// the NUL-terminated `in` into at most `len` bytes; returns the count. Never
// writes at or past out[len]; a shorter result is NUL-terminated.
ZORVIK_API int Base64Decode(char* in, unsigned char* out, int len);
}
