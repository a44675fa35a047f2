#include "pipeline/file_reader.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <mutex>

#include "pipeline/rotational.h"

namespace {

// Worth asking the kernel for a larger read-ahead window.
constexpr unsigned long long sequentialFrom = 1 << 20;

// The turn at a disk that spins: granted to the lowest order waiting, so
// that uncached data is read in list order, one reader at a time.
class disk_turn {
public:
  void acquire(unsigned long long order) {
    std::unique_lock<std::mutex> lock(_guard);
    int me = _count < maxWaiting ? _count++ : -1;
    if (me >= 0) _waiting[me] = order;
    _changed.wait(lock, [&] { return !_held && (me < 0 || lowest() == order); });
    if (me >= 0) {
      for (int i = 0; i < _count; ++i)
        if (_waiting[i] == order) {
          _waiting[i] = _waiting[--_count];
          break;
        }
    }
    _held = true;
    ++_uncached;
  }

  void release() {
    {
      std::lock_guard<std::mutex> lock(_guard);
      _held = false;
    }
    _changed.notify_all();
  }

  unsigned long long uncached() {
    std::lock_guard<std::mutex> lock(_guard);
    return _uncached;
  }

private:
  unsigned long long lowest() const {
    unsigned long long least = ~0ULL;
    for (int i = 0; i < _count; ++i)
      if (_waiting[i] < least) least = _waiting[i];
    return least;
  }

  static constexpr int maxWaiting = 512;
  std::mutex _guard;
  std::condition_variable _changed;
  bool _held = false;
  unsigned long long _waiting[maxWaiting];
  int _count = 0;
  unsigned long long _uncached = 0;
};

disk_turn g_turn;

}  // namespace

unsigned long long uncachedReads() { return g_turn.uncached(); }

int file_reader::open(const char* path, bool regularOnly, bool* notRegular) {
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
  _size = other._size;
  _rotational = other._rotational;
  _noWait = true;
}

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
        g_turn.acquire(order);
        _holdsTurn = true;
      }
    }
    n = pread(_fd, buffer, room, static_cast<off_t>(offset));
    _lastReadWaited = true;
    if (n >= 0) return n;
    if (errno != EINTR) return -errno;
  }
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

const unsigned char* file_reader::mapCached(unsigned long long offset, size_t length) {
  if (length == 0 || offset + length > _size || !cached(offset, length)) return nullptr;
  void* data = mmap(nullptr, length, PROT_READ, MAP_PRIVATE, _fd, static_cast<off_t>(offset));
  return data != MAP_FAILED ? static_cast<const unsigned char*>(data) : nullptr;
}

void file_reader::unmap(const unsigned char* data, size_t length) {
  munmap(const_cast<unsigned char*>(data), length);
}

void file_reader::releaseTurn() {
  if (!_holdsTurn) return;
  _holdsTurn = false;
  g_turn.release();
}

void file_reader::close() {
  releaseTurn();
  _status = {};
  if (_fd >= 0 && _owner) ::close(_fd);
  _fd = -1;
  _owner = false;
}
