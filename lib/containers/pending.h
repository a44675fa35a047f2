#pragma once

#include <zorvik/container.h>

// A pending entry for `path` with `hashText` (at most 32 characters), its
// path bytes in the same allocation; size and time zero. Null without
// memory. A wide path with a character above 0xFF gets a null `path`.
container::processed_file* newPendingEntry(const char* path, const char* hashText);
container::processed_file* newPendingEntry(const wchar_t* path, const char* hashText);

// Frees the whole list from `head` on, one node after the other: a
// recursive release would run out of stack on long lists.
void releasePending(container::processed_file* head);
