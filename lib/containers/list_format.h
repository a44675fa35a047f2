#pragma once

#include <cstdio>

#include <zorvik/container.h>

// What the two list formats do differently where the container acts
// without a virtual operation of its own: how a hash is written and how an
// entry's lines are. close() writes each entry `passes` times, once a pass.
struct list_format {
  int passes;
  int (*line)(FILE* file, const container::processed_file& entry, int pass);
  // The hash bytes `hash` as the format writes them, into 33 bytes.
  void (*hashText)(char* text, const void* hash);
};

extern const list_format sfvFormat;
extern const list_format md5Format;

// The format of `list` when it is an sfv or an md5 itself; null for any
// other class: a digest list, or one derived from them (which may write
// otherwise).
const list_format* formatOf(const container& list);
