// Kept only for the library's exported interface: what the reader's
// consumer reads itself, for what gains nothing from reading ahead, and the
// window buffers it hands out.
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>

#include <zorvik/hasher.h>
#include <zorvik/pipeline.h>

#include "pipeline/exported/ring.h"
#include "pipeline/exported/shared.h"
#include "pipeline/exported/window_memory.h"
#include "pipeline/fault_guard.h"
#include "pipeline/file_reader.h"

unsigned char* reader::windowBuffer(int slot) {
  if (!_windowsTried) {
    _windowsTried = true;
    _windows = window_memory::allocate();
  }
  if (_windows == nullptr) return nullptr;
  return _windows + static_cast<size_t>(slot % ring::windowBuffers) * ring::windowSize;
}

bool reader::mapsWindows(unsigned long long size) {
  return size <= ring::windowLimit && windowBuffer(0) == nullptr;
}

bool reader::hashWhole(FILE* file, unsigned int size, hasher* h) {
  int fd = fileno(file);
  unsigned char* buffer = size <= ring::streamPiece ? _buffers[0] : windowBuffer(0);
  int failure = 0;
  if (buffer != nullptr) {
    failure = readExactly(fd, buffer, size, 0);
    if (failure == 0) h->update(buffer, size);
  } else {
    void* window = mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    if (window == MAP_FAILED) {
      failure = errno;
    } else {
      if (!hashMappedWindow(h, static_cast<unsigned char*>(window), size)) failure = EIO;
      munmap(window, size);
    }
  }
  shared(_errorNumber).store(failure, std::memory_order_relaxed);
  return failure == 0;
}

bool reader::hashRest(int fd, unsigned long long offset, hasher* h) {
  for (;;) {
    ssize_t n = pread(fd, _buffers[0], ring::streamPiece, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      shared(_errorNumber).store(errno, std::memory_order_relaxed);
      return false;
    }
    if (n == 0) return true;
    h->update(_buffers[0], static_cast<unsigned int>(n));
    offset += static_cast<unsigned long long>(n);
  }
}
