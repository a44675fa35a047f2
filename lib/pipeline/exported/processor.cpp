// Kept only for the library's exported interface; the program hashes
// through the engine.
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include <zorvik/container.h>
#include <zorvik/hasher.h>
#include <zorvik/pipeline.h>

#include "pipeline/exported/ring.h"
#include "pipeline/exported/shared.h"
#include "pipeline/fault_guard.h"
#include "pipeline/wait_policy.h"

processor::processor()
    : thread("processor"), _stop(0), _path(nullptr), _percent(0), _openError(0),
      _jobHasher(nullptr) {
  _input.start();
}

processor::~processor() {
  shared(_stop).store(1, std::memory_order_release);
  _workEvent.post();
  // Our own worker first: a job it already took still needs the reader,
  // which would otherwise be able to end under it and leave it waiting.
  join();
  shared(_input._stop).store(1, std::memory_order_release);
  _input._workEvent.post();
  _input.join();
}

int processor::processFile(const wchar_t* path, hasher* h) {
  // Without both workers the job would never complete.
  if (!isCreated() || !_input.isCreated()) return error::unknown_error;
  shared(_percent).store(0, std::memory_order_relaxed);
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
    if (shared(_stop).load(std::memory_order_acquire) != 0) return 0;
    wait_policy::await(_workEvent);
    if (shared(_stop).load(std::memory_order_acquire) != 0) return 0;
    runJob();
    _doneEvent.post();
  }
}

void processor::runJob() {
  shared(_percent).store(0, std::memory_order_relaxed);
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
  if (_input.getError() == 0) shared(_percent).store(100, std::memory_order_relaxed);
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
    shared(_percent).store(static_cast<int>(consumed * 100 / size), std::memory_order_relaxed);
  }
  return _input.getError() == 0;
}
