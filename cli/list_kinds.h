#pragma once

#include <zorvik/container.h>
#include <zorvik/hasher.h>

#include "list_types.h"

// A new, unopened container for a list of `type`; null without memory.
// The caller deletes it.
container* newList(int type);

// The hashers that show the digests of each list type in verdict lines
// (hash_string), made as a type is first asked for. Used by the main thread
// only; never fed.
class shown_digests {
public:
  shown_digests() = default;
  ~shown_digests();
  shown_digests(const shown_digests&) = delete;
  shown_digests& operator=(const shown_digests&) = delete;

  // Null without memory.
  hasher* of(int type);

private:
  crc _crc;
  md5hasher _md5;
  digest* _others[typeCount] = {};
};

// The announcement of such a type, on standard error.
void announceGuess(const char* name, int type);

// The type of the list `name` from its content, for a list whose name says
// nothing: SFV unless its lines show another (the file is opened when it is
// a regular one; others are left to the reading). `*byLength` tells whether
// the type was taken from the length of a digest alone, which the caller
// announces. Returns the type, or the code of a list that cannot be read.
int guessedType(const char* name, bool* byLength);
