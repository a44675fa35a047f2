#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <zorvik/container.h>
#include <zorvik/hasher.h>
#include <zorvik/pipeline.h>

#include "pipeline/fault_guard.h"
#include "pipeline/ring.h"
#include "pipeline/wait_policy.h"

processor::processor()
    : thread("processor"), _stop(0), _path(nullptr), _percent(0), _openError(0),
      _jobHasher(nullptr) {
  _input.start();
}

processor::~processor() {
  __atomic_store_n(&_stop, 1, __ATOMIC_RELEASE);
  _workEvent.post();
  // Our own worker first: a job it already took still needs the reader,
  // which would otherwise be able to end under it and leave it waiting.
  join();
  __atomic_store_n(&_input._stop, 1, __ATOMIC_RELEASE);
  _input._workEvent.post();
  _input.join();
}

int processor::processFile(const wchar_t* path, hasher* h) {
  // Without both workers the job would never complete.
  if (!isCreated() || !_input.isCreated()) return error::unknown_error;
  __atomic_store_n(&_percent, 0, __ATOMIC_RELAXED);
  _path = path;
  _jobHasher = h;
  _workEvent.post();
  return error::ok;
}

bool processor::waitDone(int milliseconds) {
  if (milliseconds < 0) {
    wait_policy::await(_doneEvent);
    return true;
  }
  return wait_policy::await(_doneEvent, milliseconds);
}

int processor::run() {
  for (;;) {
    if (__atomic_load_n(&_stop, __ATOMIC_ACQUIRE) != 0) return 0;
    wait_policy::await(_workEvent);
    if (__atomic_load_n(&_stop, __ATOMIC_ACQUIRE) != 0) return 0;
    runJob();
    _doneEvent.post();
  }
}

void processor::runJob() {
  __atomic_store_n(&_percent, 0, __ATOMIC_RELAXED);
  _openError = 0;
  _input.clearError();
  FILE* file = _wfopen(_path, L"rb");
  if (file == nullptr) {
    _openError = errno;
    return;
  }
  // A size that cannot be read fails the job like an open would.
  struct stat status;
  if (fstat(fileno(file), &status) != 0) {
    _openError = errno;
    fclose(file);
    return;
  }
  unsigned long long size = static_cast<unsigned long long>(status.st_size);
  _jobHasher->init();
  if (size == 0 || consume(file, size)) _input.hashRest(fileno(file), size, _jobHasher);
  if (_input.getError() == 0) __atomic_store_n(&_percent, 100, __ATOMIC_RELAXED);
  _jobHasher->finalize();
  fclose(file);
}

// The first `size` bytes; false when the job failed.
bool processor::consume(FILE* file, unsigned long long size) {
  // A file of one window gains nothing from reading ahead: read here, it
  // spares two hand-overs between threads.
  if (size <= ring::windowSize) return _input.hashWhole(file, static_cast<unsigned int>(size), _jobHasher);
  const bool mapped = _input.mapsWindows(size);
  _input.processFile(file, size);
  unsigned char* data = nullptr;
  unsigned int length = 0;
  unsigned long long consumed = 0;
  while (_input.wait(&data, &length)) {
    if (mapped) {
      if (!hashMappedWindow(_jobHasher, data, length)) {
        // The file shrank under its mapping.
        _input.abandon(EIO);
        return false;
      }
    } else {
      _jobHasher->update(data, length);
    }
    consumed += length;
    __atomic_store_n(&_percent, static_cast<int>(consumed * 100 / size), __ATOMIC_RELAXED);
  }
  return _input.getError() == 0;
}
