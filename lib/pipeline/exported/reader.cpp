// Kept only for the library's exported interface; the program hashes
// through the engine, whose reading is file_reader's.
#include <sys/mman.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>

#include <zorvik/hasher.h>
#include <zorvik/pipeline.h>

#include "pipeline/exported/ring.h"
#include "pipeline/exported/shared.h"
#include "pipeline/exported/window_memory.h"
#include "pipeline/fault_guard.h"
#include "pipeline/file_reader.h"
#include "pipeline/wait_policy.h"

// The ring protocol. `_freeSlots` is the only word both threads change:
// the reader publishes a slot by decrementing it after writing the slot, the
// consumer gives a slot back by incrementing it after it is done with the
// slot. When the reader leaves a job (all read, failed, or cancelled) it
// sets the jobEnded bit as its very last touch of the job, so the consumer
// concludes the end only from a word that already counts every published
// slot, and may hand over the next job without racing the reader.

reader::reader()
    : thread("reader"), _stop(0), _file(nullptr), _errorNumber(0), _writeIndex(0),
      _readIndex(0), _freeSlots(ring::slotCount | ring::jobEnded), _readerWaiting(0),
      _consumerWaiting(0), _remaining(0), _useMap(false), _offset(0), _maps{}, _lengths{}, _windows(nullptr),
      _windowsTried(false) {}

reader::~reader() {
  shared(_stop).store(1, std::memory_order_release);
  _workEvent.post();
  join();
  releaseWindows();
  window_memory::release(_windows);
}

void reader::processFile(FILE* file, unsigned long long size) {
  _readIndex = 0;
  _file = file;
  _writeIndex = 0;
  shared(_errorNumber).store(0, std::memory_order_relaxed);
  _remaining = size;
  _offset = 0;
  // Decided here from this job's own size, before the reader wakes.
  _useMap = size <= ring::windowLimit;
  shared(_freeSlots).store(static_cast<unsigned>(ring::slotCount), std::memory_order_relaxed);
  _workEvent.post();
}

int reader::run() {
  for (;;) {
    if (shared(_stop).load(std::memory_order_acquire) != 0) return 0;
    wait_policy::await(_workEvent);
    if (shared(_stop).load(std::memory_order_acquire) != 0) return 0;
    fill();
  }
}

void reader::fill() {
  while (_remaining > 0) {
    // Pieces are read several at a time, which costs far fewer system
    // calls per byte; a window is worth a call on its own. Windows in
    // buffers wait until no other slot holds the buffer they will reuse.
    unsigned need = _windows != nullptr ? ring::slotCount - ring::windowBuffers + 1 : 1;
    if (!_useMap) {
      unsigned long long pieces = (_remaining + ring::streamPiece - 1) / ring::streamPiece;
      need = static_cast<unsigned>(std::min<unsigned long long>(pieces, ring::refillMark));
    }
    unsigned word = waitForRoom(need);
    if ((word & ring::jobCancelled) != 0) break;
    int filled = _useMap ? takeWindow(_writeIndex, word) : readPieces(word & ring::freeMask);
    if (filled == 0) break;
    _writeIndex = (_writeIndex + filled) % ring::slotCount;
    shared(_freeSlots).fetch_sub(static_cast<unsigned>(filled), std::memory_order_seq_cst);
    wake(&_consumerWaiting);
  }
  endJob();
}

// Puts the next window into `slot`: 1 on success, 0 on failure. `word` is
// the ring as last seen. Reading it costs one copy. A window mapped with
// MAP_POPULATE costs, on some virtual machines, a fault on the first touch
// of every page all the same, which is far dearer: windows are mapped only
// when there are no buffers. Reads never pass the size at open, and an
// early end means the file shrank (readExactly).
int reader::takeWindow(int slot, unsigned word) {
  if (_windows == nullptr) return mapWindow(slot, word);
  unsigned int length =
      static_cast<unsigned int>(std::min<unsigned long long>(_remaining, ring::windowSize));
  int failure = readExactly(fileno(_file), windowBuffer(slot), length, _offset);
  if (failure != 0) {
    shared(_errorNumber).store(failure, std::memory_order_relaxed);
    return 0;
  }
  _lengths[slot] = length;
  _offset += length;
  _remaining -= length;
  return 1;
}

// takeWindow() without buffers: maps the window.
int reader::mapWindow(int slot, unsigned word) {
  unsigned int length =
      static_cast<unsigned int>(std::min<unsigned long long>(_remaining, ring::windowSize));
  // The consumer gave this slot back, so its old window is free to go.
  if (_maps[slot] != nullptr) {
    munmap(_maps[slot], _lengths[slot]);
    _maps[slot] = nullptr;
  }
  void* window = mmap(nullptr, length, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fileno(_file),
                      static_cast<off_t>(_offset));
  if (window == MAP_FAILED) {
    shared(_errorNumber).store(errno, std::memory_order_relaxed);
    return 0;
  }
  // The first read of each mapped page costs microseconds on some virtual
  // machines, even after MAP_POPULATE. When chunks already wait for the
  // consumer, it is the slower side: take that cost here, off its path.
  if ((word & ring::freeMask) < ring::slotCount - 1 &&
      !touchMappedWindow(static_cast<unsigned char*>(window), length)) {
    munmap(window, length);
    shared(_errorNumber).store(EIO, std::memory_order_relaxed);  // the file shrank
    return 0;
  }
  _maps[slot] = static_cast<unsigned char*>(window);
  _lengths[slot] = length;
  _offset += length;
  _remaining -= length;
  return 1;
}

// Reads the next pieces into up to `room` free slots with one vectored read
// (more after a short one); returns how many were filled, 0 on failure.
// A piece never asks for more than the size the file had when it was
// opened, so a growing file ends there; an early end of file means that it
// shrank.
int reader::readPieces(int room) {
  struct iovec pieces[ring::slotCount];
  unsigned long long left = _remaining;
  int count = 0;
  for (; count < room && left > 0; ++count) {
    int slot = (_writeIndex + count) % ring::slotCount;
    unsigned int length =
        static_cast<unsigned int>(std::min<unsigned long long>(left, ring::streamPiece));
    pieces[count].iov_base = _buffers[slot];
    pieces[count].iov_len = length;
    _lengths[slot] = length;
    left -= length;
  }
  int done = 0;
  while (done < count) {
    ssize_t n = readv(fileno(_file), pieces + done, count - done);
    if (n <= 0) {
      if (n < 0 && errno == EINTR) continue;
      shared(_errorNumber).store(n == 0 ? EIO : errno, std::memory_order_relaxed);
      return 0;
    }
    size_t got = static_cast<size_t>(n);
    while (done < count && got >= pieces[done].iov_len) got -= pieces[done++].iov_len;
    if (got > 0 && done < count) {
      pieces[done].iov_base = static_cast<unsigned char*>(pieces[done].iov_base) + got;
      pieces[done].iov_len -= got;
    }
  }
  _remaining = left;
  return count;
}

void reader::endJob() {
  // The last touch of the job: after this the consumer owns every field.
  shared(_freeSlots).fetch_or(ring::jobEnded, std::memory_order_seq_cst);
  wake(&_consumerWaiting);
}

bool reader::wait(unsigned char** data, unsigned int* length) {
  if (*data != nullptr) {
    _readIndex = (_readIndex + 1) % ring::slotCount;
    unsigned word = shared(_freeSlots).fetch_add(1, std::memory_order_seq_cst) + 1;
    // A sleeping reader is woken only once half the ring is free, so that
    // it wakes to refill several slots rather than one.
    if ((word & ring::freeMask) >= ring::refillMark) wake(&_readerWaiting);
  }
  unsigned word = waitForData(ring::slotCount);
  if ((word & ring::jobEnded) != 0 &&
      ((word & ring::freeMask) == ring::slotCount || getError() != 0)) {
    releaseWindows();
    return false;
  }
  if (!_useMap)
    *data = _buffers[_readIndex];
  else if (_windows != nullptr)
    *data = windowBuffer(_readIndex);
  else
    *data = _maps[_readIndex];
  *length = _lengths[_readIndex];
  return true;
}

void reader::abandon(int errorNumber) {
  unsigned word = shared(_freeSlots).fetch_or(ring::jobCancelled, std::memory_order_seq_cst) |
                  ring::jobCancelled;
  wake(&_readerWaiting);
  while ((word & ring::jobEnded) == 0) word = waitForData(word);
  if (getError() == 0) shared(_errorNumber).store(errorNumber, std::memory_order_relaxed);
  releaseWindows();
}

// Reader side: until `need` slots are free or the job is cancelled; returns
// the word that ended the wait. A sleeper is woken by the consumer once
// refillMark slots are free, never later than `need`.
unsigned reader::waitForRoom(unsigned need) {
  auto ready = [need](unsigned w) {
    return (w & ring::jobCancelled) != 0 || (w & ring::freeMask) >= need;
  };
  return waitOnRing(&_readerWaiting, ready);
}

// Consumer side: while the ring word equals `busy` (an empty ring, or no
// change yet); returns the word that ended the wait.
unsigned reader::waitForData(unsigned busy) {
  return waitOnRing(&_consumerWaiting, [busy](unsigned w) { return w != busy; });
}

// Waits until `ready` holds for the ring word. The sleep is announced in
// `*waiting` before the last look, while the other side changes the word
// before it looks for sleepers: one of the two sees the other.
template <class Ready>
unsigned reader::waitOnRing(int* waiting, Ready ready) {
  unsigned word = 0;
  if (wait_policy::spinFor([&] { return ready(word = shared(_freeSlots).load(std::memory_order_acquire)); }))
    return word;
  for (;;) {
    shared(*waiting).store(1, std::memory_order_seq_cst);
    word = shared(_freeSlots).load(std::memory_order_seq_cst);
    if (ready(word)) break;
    wait_policy::sleepWhile(&_freeSlots, word);
  }
  shared(*waiting).store(0, std::memory_order_relaxed);
  return word;
}

void reader::wake(int* waiting) {
  if (shared(*waiting).load(std::memory_order_seq_cst) != 0) wait_policy::wake(&_freeSlots, INT_MAX);
}

void reader::releaseWindows() {
  for (int i = 0; i < ring::slotCount; ++i) {
    if (_maps[i] != nullptr) {
      munmap(_maps[i], _lengths[i]);
      _maps[i] = nullptr;
    }
  }
}
