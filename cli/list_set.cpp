#include "list_set.h"

#include <new>

#include <zorvik/error.h>

#include "output.h"

list_set::~list_set() {
  _found.release();
  _directories.release();
}

int list_set::gather(const run_settings& settings, int argc, char** argv) {
  _settings = &settings;
  // The checksum file named is the operand before the others.
  int first = settings.firstOperand - 1;
  _operands = argc - first;
  return gatherLists(settings, first, argc, argv, *this, _found, _directories, &_leftOut);
}

// With -t, only lists of that type; without, any whose name gives a type.
bool list_set::wants(const char* path) const {
  int type = typeFromName(path);
  return type >= 0 && (!_settings->typeForced || type == _settings->type);
}

int list_set::named(const char* name) { return add(name, false); }

int list_set::found(const path_node& file, const struct stat&) { return add(file.path, true); }

int list_set::add(const char* name, bool nearby) {
  try {
    _lists.push_back(list_ref{name, nearby});
  } catch (const std::bad_alloc&) {
    report("Out of memory\n");
    return error::unknown_error;
  }
  return 0;
}
