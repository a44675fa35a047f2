// Kept only for the library's exported interface; the engine's threads are
// its worker pool's.
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <zorvik/pipeline.h>

#include "pipeline/exported/shared.h"

thread::thread(const char* name)
    : _handle(0), _name(strdup(name != nullptr ? name : "unknown")), _state(created),
      _launch(0), _joined(false) {
  if (pthread_create(&_handle, nullptr, &thread::threadProc, this) != 0) {
    _handle = 0;
    _state = finished;
  }
}

thread::~thread() {
  join();
  free(_name);
}

int thread::run() { return 0; }

void thread::start() {
  int expected = 0;
  if (shared(_launch).compare_exchange_strong(expected, 1, std::memory_order_acq_rel,
                                             std::memory_order_acquire))
    _startEvent.post();
}

thread* thread::join() {
  if (_handle == 0 || _joined) return this;
  // A worker that was never started would wait for its start for ever.
  int expected = 0;
  if (shared(_launch).compare_exchange_strong(expected, 2, std::memory_order_acq_rel,
                                             std::memory_order_acquire))
    _startEvent.post();
  pthread_join(_handle, nullptr);
  _joined = true;
  return this;
}

void* thread::threadProc(void* object) {
  thread* self = static_cast<thread*>(object);
  self->_startEvent.wait();
  if (shared(self->_launch).load(std::memory_order_acquire) != 1) {
    shared(self->_state).store(finished, std::memory_order_release);
    return nullptr;
  }
  if (self->_name != nullptr) {
    // The kernel keeps at most 15 bytes of a name.
    char shortName[16];
    strncpy(shortName, self->_name, sizeof shortName - 1);
    shortName[sizeof shortName - 1] = '\0';
    pthread_setname_np(pthread_self(), shortName);
  }
  shared(self->_state).store(running, std::memory_order_release);
  int result = self->run();
  shared(self->_state).store(finished, std::memory_order_release);
  return reinterpret_cast<void*>(static_cast<intptr_t>(result));
}
