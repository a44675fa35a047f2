#pragma once

#include <sys/types.h>

#include "node_pool.h"
#include "options.h"

// The checksum file a create run writes, so that it is never listed in
// itself, whatever name leads to it.
struct created_file {
  bool known = false;
  dev_t device = 0;
  ino_t inode = 0;
};

// Turns the operands argv[settings.firstOperand..] into the regular files to
// hash, appended to `files` in the order found; directories (with -r) go
// breadth-first through `directories`. Returns 0, or the code that ends the
// create run (Path error, File read error, an errno code).
int gatherFiles(const run_settings& settings, int argc, char** argv, const created_file& created,
                path_list& files, path_list& directories);

// The longest path gathering accepts from a walk, in bytes.
inline constexpr size_t longestWalkPath = 263;
