#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <zorvik/pipeline.h>

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
  if (__atomic_compare_exchange_n(&_launch, &expected, 1, false, __ATOMIC_ACQ_REL,
                                  __ATOMIC_ACQUIRE))
    _startEvent.post();
}

thread* thread::join() {
  if (_handle == 0 || _joined) return this;
  // A worker that was never started would wait for its start for ever.
  int expected = 0;
  if (__atomic_compare_exchange_n(&_launch, &expected, 2, false, __ATOMIC_ACQ_REL,
                                  __ATOMIC_ACQUIRE))
    _startEvent.post();
  pthread_join(_handle, nullptr);
  _joined = true;
  return this;
}

void* thread::threadProc(void* object) {
  thread* self = static_cast<thread*>(object);
  self->_startEvent.wait();
  if (__atomic_load_n(&self->_launch, __ATOMIC_ACQUIRE) != 1) {
    __atomic_store_n(&self->_state, finished, __ATOMIC_RELEASE);
    return nullptr;
  }
  if (self->_name != nullptr) {
    // The kernel keeps at most 15 bytes of a name.
    char shortName[16];
    strncpy(shortName, self->_name, sizeof shortName - 1);
    shortName[sizeof shortName - 1] = '\0';
    pthread_setname_np(pthread_self(), shortName);
  }
  __atomic_store_n(&self->_state, running, __ATOMIC_RELEASE);
  int result = self->run();
  __atomic_store_n(&self->_state, finished, __ATOMIC_RELEASE);
  return reinterpret_cast<void*>(static_cast<intptr_t>(result));
}
