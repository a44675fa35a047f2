#pragma once

#include <pthread.h>

#include <cstddef>
#include <deque>
#include <string>

#include "gather.h"
#include "list_kinds.h"
#include "node_pool.h"
#include "options.h"
#include "output.h"

// A list to verify: named on the command line, or found in a directory
// named there.
struct list_ref {
  const char* name;  // as named, or the directory as named and the path below it
  bool nearby;       // found: its entries are looked up beside it
};

// What the operands of a verify run give, in order: the lists, and the
// lines gathering wrote on its way (a loop met, a directory that could not
// be read), which are written in their place among the verdicts.
struct list_item {
  enum kind { list, line };
  kind what;
  list_ref ref;         // a list
  bool toError;         // a line: for standard error
  const char* text;     // a line, as written; valid while the set lives
};

// The lists that the operands of a verify run give. Where an operand is a
// directory, its tree is searched on a thread of its own while the lists
// already found are verified, so that a tree of many small lists is not
// walked whole before the first file is hashed.
class list_set : private list_sink, private line_capture {
public:
  list_set() = default;
  ~list_set();
  list_set(const list_set&) = delete;
  list_set& operator=(const list_set&) = delete;

  // Starts gathering from the checksum file named in `settings` and the
  // operands after it: 0, or the code that ends the run (reported).
  int gather(const run_settings& settings, int argc, char** argv);
  // The next item, waiting for it while the search goes on; false once
  // there is none, and then ended() tells the code that ended gathering.
  bool next(list_item* item);
  int ended() const { return _code; }

  // Lists given by next() so far.
  size_t count() const { return _given; }
  // One list named, nothing else: the run's output is what it always was.
  bool single() const { return _single; }
  // A directory met could not be read: lists may be missing. Known once
  // next() gave false.
  bool leftOut() const { return _leftOut; }

private:
  bool wants(const char* path) const override;
  int named(const char* name) override;
  int found(const path_node& file, const struct stat& status) override;
  bool stopped() const override;
  void captured(bool toError, const char* line) override;
  int add(const list_item& item);
  // The checksum file named is the operand before the others.
  int firstOperand() const { return _settings->firstOperand - 1; }
  int gatherAll(bool* leftOut);
  static void* search(void* set);

  const run_settings* _settings = nullptr;
  int _argc = 0;
  char** _argv = nullptr;
  path_list _found;
  path_list _directories;
  bool _single = false;
  bool _threaded = false;
  size_t _given = 0;

  // Shared with the searching thread, under `_mutex`.
  pthread_t _thread{};
  mutable pthread_mutex_t _mutex = PTHREAD_MUTEX_INITIALIZER;
  pthread_cond_t _added = PTHREAD_COND_INITIALIZER;
  std::deque<list_item> _items;
  std::deque<std::string> _lines;  // the text of line items
  bool _done = false;
  bool _stop = false;
  int _code = 0;
  bool _leftOut = false;
};
