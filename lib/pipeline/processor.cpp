#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <zorvik/container.h>
#include <zorvik/hasher.h>
#include <zorvik/pipeline.h>

#include "pipeline/fault_guard.h"
#include "pipeline/read_exactly.h"
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
  if (size == 0 || consume(file, size)) consumeRest(fileno(file), size);
  _jobHasher->finalize();
  fclose(file);
}

// Whatever the file holds beyond the size it had at open: a file that grew
// while hashed, or one whose size says nothing (those of /proc).
void processor::consumeRest(int fd, unsigned long long offset) {
  for (;;) {
    ssize_t n = pread(fd, _piece, sizeof _piece, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      _input.setError(errno);
      return;
    }
    if (n == 0) break;
    _jobHasher->update(_piece, static_cast<unsigned int>(n));
    offset += static_cast<unsigned long long>(n);
  }
  __atomic_store_n(&_percent, 100, __ATOMIC_RELAXED);
}

// The first `size` bytes; false when the job failed.
bool processor::consume(FILE* file, unsigned long long size) {
  if (size <= ring::windowSize) return consumeWhole(file, static_cast<unsigned int>(size));
  // Made here, before the reader takes the job, so that only this thread
  // ever creates them.
  const bool mapped = size <= ring::mapLimit && _input.windowBuffer(0) == nullptr;
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

// A file of one window gains nothing from reading ahead, so it is read here
// and spares two hand-overs between threads: into one piece when it fits,
// else into the reader's first window buffer (idle between jobs), or as one
// mapped window when there are no buffers.
bool processor::consumeWhole(FILE* file, unsigned int size) {
  int fd = fileno(file);
  unsigned char* buffer = size <= ring::pieceSize ? _piece : _input.windowBuffer(0);
  if (buffer != nullptr) {
    int failure = readExactly(fd, buffer, size, 0);
    if (failure != 0) {
      _input.setError(failure);
      return false;
    }
    _jobHasher->update(buffer, size);
  } else {
    void* window = mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    if (window == MAP_FAILED) {
      _input.setError(errno);
      return false;
    }
    bool whole = hashMappedWindow(_jobHasher, static_cast<unsigned char*>(window), size);
    munmap(window, size);
    if (!whole) {
      _input.setError(EIO);
      return false;
    }
  }
  return true;
}
