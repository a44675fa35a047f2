#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <ctime>

// How a file is read for hashing; the one place that decides it. Opened
// without waiting (a FIFO swapped in would otherwise wait for a writer),
// read in large pieces at explicit offsets to its end, the kernel asked to
// read ahead. On a disk that spins, reads the page cache cannot serve take
// turns: one reader of uncached data at a time, the earliest job first,
// while data already cached is read by every worker at once.
class file_reader {
public:
  file_reader() = default;
  ~file_reader() { close(); }
  file_reader(const file_reader&) = delete;
  file_reader& operator=(const file_reader&) = delete;

  // Opens `path`: 0, or the errno of the failure. Only regular files are
  // read (anything else gives EIO); with `regularOnly`, the file is looked
  // at before it is opened, and `*notRegular` tells such a refusal.
  int open(const char* path, bool regularOnly, bool* notRegular);
  // Shares the open file of `other` (pieces of one file read by several
  // workers); the owner closes it.
  void borrow(const file_reader& other);

  // The size the file had when it was opened, and its modification time.
  unsigned long long size() const { return _size; }
  const struct timespec& modified() const { return _status.st_mtim; }
  // fstat of the file as opened; zeros when none is open.
  const struct stat& status() const { return _status; }

  // Reads at most `room` bytes at `offset` into `buffer`: the count read,
  // 0 at the end of the file, or minus an errno. `order` ranks this read
  // among those waiting for a disk that spins (lower first). Without
  // `mayWait`, a read that would wait for such a disk gives -EAGAIN.
  long readAt(unsigned char* buffer, size_t room, unsigned long long offset,
              unsigned long long order, bool mayWait = true);

  // Whether the last read, which gave `got` of `room` bytes and left the
  // file read up to `offset`, met the end of the file: a short read past the
  // size the file had at open, of a read that would have waited for more (a
  // read that takes only what the page cache holds stops short anywhere),
  // or of the first read, right after the size was taken. A file of size 0,
  // as those of /proc, is read until a read gives nothing.
  bool endedWith(size_t got, size_t room, unsigned long long offset) const {
    return got < room && _size > 0 && offset >= _size && (_lastReadWaited || offset == got);
  }

  // The `length` bytes at `offset` mapped, when the page cache holds them
  // all: read in place, they cost no copy. Null otherwise; read them then.
  // Touch them only under fault_guard.h's guard: the file may shrink.
  const unsigned char* mapCached(unsigned long long offset, size_t length);
  static void unmap(const unsigned char* data, size_t length);

  // Gives up this reader's turn at the disk, if it holds it.
  void releaseTurn();
  void close();

private:
  bool cached(unsigned long long offset, size_t room) const;

  int _fd = -1;
  bool _owner = false;
  unsigned long long _size = 0;
  struct stat _status {};
  bool _rotational = false;
  bool _noWait = true;    // RWF_NOWAIT still worth trying
  bool _holdsTurn = false;
  bool _lastReadWaited = false;
};

// Test seam: the reads so far that had to wait for a disk that spins.
unsigned long long uncachedReads();
