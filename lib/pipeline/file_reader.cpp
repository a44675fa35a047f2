#include "pipeline/file_reader.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>

#include "pipeline/disk_turn.h"
#include "pipeline/fault_guard.h"
#include "pipeline/rotational.h"

void (*g_engineBeforeRead)(unsigned long long sequence) = nullptr;

namespace {

// Worth asking the kernel for a larger read-ahead window.
constexpr unsigned long long sequentialFrom = 1 << 20;
// Spans of cached data from this size on are mapped rather than read.
constexpr unsigned long long mapFrom = 1 << 20;
// The most one mapping covers.
constexpr unsigned long long largestMapping = 32ULL << 20;

// Where a read of `piece` of the job `sequence` stands at the disk's turn.
unsigned long long orderOf(unsigned long long sequence, unsigned piece) {
  return sequence << 20 | piece;
}

}  // namespace

int file_reader::open(const char* path, bool regularOnly, bool* notRegular,
                      unsigned long long sequence) {
  close();
  *notRegular = false;
  struct stat status;
  if (regularOnly && stat(path, &status) == 0 && !S_ISREG(status.st_mode)) {
    *notRegular = true;
    return EIO;
  }
  int fd = ::open(path, O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno;
  // Whatever was looked at before: a file swapped for a device meanwhile
  // could be read without end.
  bool known = fstat(fd, &status) == 0;
  if (!known || !S_ISREG(status.st_mode)) {
    int failure = known ? EIO : errno;
    ::close(fd);
    *notRegular = known && regularOnly;
    return failure;
  }
  _fd = fd;
  _owner = true;
  _sequence = sequence;
  _size = static_cast<unsigned long long>(status.st_size);
  _status = status;
  _rotational = isRotational(status.st_dev);
  _noWait = true;
  if (_size >= sequentialFrom) posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  return 0;
}

void file_reader::borrow(const file_reader& other) {
  close();
  _fd = other._fd;
  _owner = false;
  _sequence = other._sequence;
  _size = other._size;
  _rotational = other._rotational;
  _noWait = true;
}

file_span file_reader::next(const span_request& request) {
  if (g_engineBeforeRead != nullptr) g_engineBeforeRead(_sequence);
  file_span span;
  unsigned long long offset = request.offset;
  unsigned long long end = request.limit < _size ? request.limit : _size;
  if (request.mayMap && offset < end && end - offset >= mapFrom && mapSpan(offset, end, &span))
    return span;
  size_t want = request.room;
  if (request.limit != span_request::wholeFile && request.limit - offset < want)
    want = static_cast<size_t>(request.limit - offset);
  long n = readAt(request.buffer, want, offset, orderOf(_sequence, request.piece), request.mayWait);
  if (n == -EAGAIN && !request.mayWait) {
    span.waits = true;
  } else if (n < 0) {
    span.failure = static_cast<int>(-n);
  } else if (n == 0) {
    // An end before the size the file had at open: it shrank meanwhile.
    span.failure = offset < _size ? EIO : 0;
    span.last = span.failure == 0;
  } else {
    span.data = request.buffer;
    span.length = static_cast<size_t>(n);
    span.last = endedWith(span.length, want, offset + span.length);
  }
  return span;
}

// Maps what lies at `offset` up to `end` (at most largestMapping), when the
// page cache holds it all: read in place, it costs no copy.
bool file_reader::mapSpan(unsigned long long offset, unsigned long long end, file_span* span) {
  size_t length = static_cast<size_t>(end - offset < largestMapping ? end - offset : largestMapping);
  if (!cached(offset, length)) return false;
  void* data = mmap(nullptr, length, PROT_READ, MAP_PRIVATE, _fd, static_cast<off_t>(offset));
  if (data == MAP_FAILED) return false;
  span->data = static_cast<const unsigned char*>(data);
  span->length = length;
  span->mapped = true;
  return true;
}

int file_reader::feed(const file_span& span, size_t from, size_t count, const zorvik::algorithm& a,
                      void* state) {
  if (!span.mapped) {
    a.update(state, span.data + from, count);
    return 0;
  }
  // Pages past a new end raise a bus error: the file shrank under us.
  return guardedUpdate(a, state, span.data + from, count) ? 0 : EIO;
}

void file_reader::release(const file_span& span) {
  if (span.mapped) munmap(const_cast<unsigned char*>(span.data), span.length);
}

// Reads at most `room` bytes at `offset`: the count read, 0 at the end of
// the file, or minus an errno. Without `mayWait`, a read that would wait
// for a disk that spins gives -EAGAIN.
long file_reader::readAt(unsigned char* buffer, size_t room, unsigned long long offset,
                         unsigned long long order, bool mayWait) {
  for (;;) {
    ssize_t n;
    if (_rotational && _noWait && !_holdsTurn) {
      struct iovec piece = {buffer, room};
      n = preadv2(_fd, &piece, 1, static_cast<off_t>(offset), RWF_NOWAIT);
      _lastReadWaited = false;
      if (n >= 0) return n;
      if (errno == EOPNOTSUPP || errno == ENOSYS) {
        _noWait = false;  // as tmpfs and /proc: all there is is cached
        continue;
      }
      if (errno != EAGAIN) {
        if (errno == EINTR) continue;
        return -errno;
      }
      // The page cache may hold it all and still refuse to answer at once
      // (a page being read ahead, or locked): no turn is needed for that.
      if (!cached(offset, room)) {
        if (!mayWait) return -EAGAIN;
        disk_turn::acquire(order);
        _holdsTurn = true;
      }
    }
    n = pread(_fd, buffer, room, static_cast<off_t>(offset));
    _lastReadWaited = true;
    if (n >= 0) return n;
    if (errno != EINTR) return -errno;
  }
}

// Whether the last read, which gave `got` of `room` bytes and left the file
// read up to `offset`, met the end of the file: a short read past the size
// the file had at open, of a read that would have waited for more (a read
// that takes only what the page cache holds stops short anywhere), or of
// the first read, right after the size was taken. A file of size 0, as
// those of /proc, is read until a read gives nothing.
bool file_reader::endedWith(size_t got, size_t room, unsigned long long offset) const {
  return got < room && _size > 0 && offset >= _size && (_lastReadWaited || offset == got);
}

// Whether the page cache holds the `room` bytes at `offset` (those before
// the end of the file), as far as the kernel can tell; false where it
// cannot (before Linux 6.5).
bool file_reader::cached(unsigned long long offset, size_t room) const {
  if (offset >= _size) return true;
  struct {
    unsigned long long offset, length;
  } range = {offset, room < _size - offset ? room : _size - offset};
  struct {
    unsigned long long cache, dirty, writeback, evicted, recentlyEvicted;
  } pages = {};
  constexpr long cachestat = 451;
  if (syscall(cachestat, _fd, &range, &pages, 0) != 0) return false;
  long page = sysconf(_SC_PAGESIZE);
  unsigned long long first = range.offset / static_cast<unsigned long long>(page);
  unsigned long long last = (range.offset + range.length - 1) / static_cast<unsigned long long>(page);
  return pages.cache >= last - first + 1;
}

void file_reader::releaseTurn() {
  if (!_holdsTurn) return;
  _holdsTurn = false;
  disk_turn::release();
}

void file_reader::close() {
  releaseTurn();
  _status = {};
  if (_fd >= 0 && _owner) ::close(_fd);
  _fd = -1;
  _owner = false;
}

int readExactly(int fd, unsigned char* buffer, size_t length, unsigned long long offset) {
  size_t got = 0;
  while (got < length) {
    ssize_t n = pread(fd, buffer + got, length - got, static_cast<off_t>(offset + got));
    if (n > 0)
      got += static_cast<size_t>(n);
    else if (n == 0)
      return EIO;  // it shrank
    else if (errno != EINTR)
      return errno;
  }
  return 0;
}
