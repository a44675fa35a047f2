#pragma once

#include <cstddef>
#include <vector>

#include "gather.h"
#include "list_kinds.h"
#include "node_pool.h"
#include "options.h"

// A list to verify: named on the command line, or found in a directory
// named there.
struct list_ref {
  const char* name;  // as named, or the directory as named and the path below it
  bool nearby;       // found: its entries are looked up beside it
};

// The lists that the operands of a verify run give, in order.
class list_set : private list_sink {
public:
  list_set() = default;
  ~list_set();
  list_set(const list_set&) = delete;
  list_set& operator=(const list_set&) = delete;

  // Gathers them from the checksum file named in `settings` and the operands
  // after it: 0, or the code that ends the run (reported).
  int gather(const run_settings& settings, int argc, char** argv);

  const list_ref* data() const { return _lists.data(); }
  size_t count() const { return _lists.size(); }
  // One list named, nothing else: the run's output is what it always was.
  bool single() const { return _operands == 1 && _lists.size() == 1 && !_lists[0].nearby; }
  // A directory met could not be read: lists may be missing.
  bool leftOut() const { return _leftOut; }

private:
  bool wants(const char* path) const override;
  int named(const char* name) override;
  int found(const path_node& file, const struct stat& status) override;
  int add(const char* name, bool nearby);

  const run_settings* _settings = nullptr;
  std::vector<list_ref> _lists;
  path_list _found;
  path_list _directories;
  int _operands = 0;
  bool _leftOut = false;
};
