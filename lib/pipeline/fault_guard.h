#pragma once

#include <cstddef>

#include <zorvik/hasher.h>

#include "hash/algorithm.h"

// Hashing mapped pages. A file truncated while it is mapped makes the pages
// past its new end raise SIGBUS when touched; inside these calls that fault
// ends the work early instead of the process, and the result is false.
// Faults anywhere else go on to the handler that was there before.

// Runs `a`'s update of `state` over the mapped `length` bytes at `data`.
bool guardedUpdate(const zorvik::algorithm& a, void* state, const unsigned char* data, size_t length);

// Runs `work(context)`, which reads mapped pages lying in [begin, end);
// false when a bus error there ended it, `*at` then the address it struck.
bool guardedRun(const unsigned char* begin, const unsigned char* end, void (*work)(void*), void* context,
                const unsigned char** at);

// Feeds one mapped window to `h`.
bool hashMappedWindow(hasher* h, unsigned char* data, unsigned int length);

// Reads one byte of every page of a mapped window.
bool touchMappedWindow(const unsigned char* data, unsigned int length);
