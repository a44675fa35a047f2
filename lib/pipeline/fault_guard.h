#pragma once

#include <cstdint>

#include <zorvik/hasher.h>

// Feeds one mapped window to `h`. A file truncated while it is mapped makes
// the pages past its new end raise SIGBUS when touched; inside this call
// that fault ends the update early instead of the process, and the result
// is false. Faults anywhere else go on to the handler that was there before.
bool hashMappedWindow(hasher* h, unsigned char* data, unsigned int length);

// Runs the CRC-32 register `*reg` over a mapped window, under the same
// guard: false when the file was truncated under it.
bool crcMappedWindow(uint32_t* reg, const unsigned char* data, unsigned int length);

// MD5Update of a mapped window, under the same guard.
bool md5MappedWindow(MD5_CTX* context, const unsigned char* data, unsigned int length);

// Reads one byte of every page of a mapped window, under the same guard:
// false when the file was truncated under it.
bool touchMappedWindow(const unsigned char* data, unsigned int length);
