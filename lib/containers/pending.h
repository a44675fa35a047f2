#pragma once

#include <zorvik/container.h>

// A pending entry for `path` with `hashText` (at most 32 characters), its
// path bytes in the same allocation; size and time zero. Null without
// memory. A wide path with a character above 0xFF gets a null `path`.
container::processed_file* newPendingEntry(const char* path, const char* hashText);
container::processed_file* newPendingEntry(const wchar_t* path, const char* hashText);

// A pending entry for `path` whose digest text `digits` may be longer than
// `hashText` holds (which stays empty): digitsOf() gives it back. Null
// without memory.
container::processed_file* newDigestEntry(const wchar_t* path, const char* digits);
// The digest text of an entry that newDigestEntry() made.
const char* digitsOf(const container::processed_file& entry);

// Frees the whole list from `head` on, one node after the other: a
// recursive release would run out of stack on long lists.
void releasePending(container::processed_file* head);
