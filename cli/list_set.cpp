#include "list_set.h"

#include <signal.h>
#include <sys/stat.h>

#include <new>

#include <zorvik/error.h>

list_set::~list_set() {
  if (_threaded) {
    pthread_mutex_lock(&_mutex);
    _stop = true;
    pthread_mutex_unlock(&_mutex);
    pthread_join(_thread, nullptr);
  }
  _found.release();
  _directories.release();
}

int list_set::gather(const run_settings& settings, int argc, char** argv) {
  _settings = &settings;
  _argc = argc;
  _argv = argv;
  bool anyDirectory = false;
  for (int i = firstOperand(); i < argc && !anyDirectory; ++i) {
    struct stat status;
    anyDirectory = stat(argv[i], &status) == 0 && S_ISDIR(status.st_mode);
  }
  if (anyDirectory) {
    // Signals stay with the main thread, which removes what a run leaves.
    sigset_t all, before;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &before);
    _threaded = pthread_create(&_thread, nullptr, search, this) == 0;
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    if (_threaded) return 0;
  }
  // Named lists only (nothing to search, nothing to wait for), or no thread.
  _code = gatherAll(&_leftOut);
  _done = true;
  if (anyDirectory) return 0;
  _single = argc - firstOperand() == 1 && _items.size() == 1;
  return _code;
}

int list_set::gatherAll(bool* leftOut) {
  return gatherLists(*_settings, firstOperand(), _argc, _argv, *this, _found, _directories, leftOut);
}

void* list_set::search(void* argument) {
  auto& set = *static_cast<list_set*>(argument);
  // Lines this thread writes take their turn among the verdicts.
  captureLines(&set);
  bool leftOut = false;
  int code = set.gatherAll(&leftOut);
  captureLines(nullptr);
  pthread_mutex_lock(&set._mutex);
  if (set._code == 0) set._code = code;
  set._leftOut = leftOut;
  set._done = true;
  pthread_cond_signal(&set._added);
  pthread_mutex_unlock(&set._mutex);
  return nullptr;
}

bool list_set::next(list_item* item) {
  pthread_mutex_lock(&_mutex);
  while (_items.empty() && !_done) pthread_cond_wait(&_added, &_mutex);
  bool any = !_items.empty();
  if (any) {
    *item = _items.front();
    _items.pop_front();
    if (item->what == list_item::list) ++_given;
  }
  pthread_mutex_unlock(&_mutex);
  return any;
}

// With -t, only lists of that type; without, any whose name gives a type.
bool list_set::wants(const char* path) const {
  int type = typeFromName(path);
  return type >= 0 && (!_settings->typeForced || type == _settings->type);
}

int list_set::named(const char* name) { return add(list_item{list_item::list, {name, false}, false, nullptr}); }

int list_set::found(const path_node& file, const struct stat&) {
  return add(list_item{list_item::list, {file.path, true}, false, nullptr});
}

bool list_set::stopped() const {
  pthread_mutex_lock(&_mutex);
  bool stop = _stop;
  pthread_mutex_unlock(&_mutex);
  return stop;
}

void list_set::captured(bool toError, const char* line) {
  pthread_mutex_lock(&_mutex);
  try {
    _lines.emplace_back(line);
    _items.push_back(list_item{list_item::line, {nullptr, false}, toError, _lines.back().c_str()});
    pthread_cond_signal(&_added);
  } catch (const std::bad_alloc&) {
    // Out of memory: the line is lost, but the run ends with the search.
    _code = error::unknown_error;
  }
  pthread_mutex_unlock(&_mutex);
}

int list_set::add(const list_item& item) {
  int code = 0;
  pthread_mutex_lock(&_mutex);
  try {
    _items.push_back(item);
    pthread_cond_signal(&_added);
  } catch (const std::bad_alloc&) {
    code = error::unknown_error;
  }
  pthread_mutex_unlock(&_mutex);
  if (code != 0) report("Out of memory\n");
  return code;
}
