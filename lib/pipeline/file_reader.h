#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <ctime>

#include "hash/algorithm.h"

// A stretch of a file's bytes, as file_reader::next gives it.
struct file_span {
  const unsigned char* data = nullptr;
  size_t length = 0;
  // In place in the page cache: hash it through feed(), which guards the
  // pages, and give it back with release().
  bool mapped = false;
  // The file ends with this span, which may be empty.
  bool last = false;
  // Only when asked not to wait: the bytes must come from a disk that spins.
  bool waits = false;
  // errno of a failed read; EIO when the file ended before the size it had
  // at open (it shrank). No bytes then.
  int failure = 0;
};

// What a caller asks of file_reader::next.
struct span_request {
  static constexpr unsigned long long wholeFile = ~0ULL;
  unsigned long long offset;  // where the span begins
  // Where the caller's range ends: a piece's end, or wholeFile to read on to
  // the end of the file, past its size at open when it grew.
  unsigned long long limit;
  unsigned char* buffer;  // where read bytes go, `room` of them at most
  size_t room;
  unsigned piece = 0;   // ranks the read among its job's at the disk's turn
  bool mayMap = true;   // the span may lie in place instead of in `buffer`
  bool mayWait = true;  // false: a read that would wait for a spinning disk
};

// How the engine reads a file; every read of it goes through next(), which
// decides between mapping and reading, takes the disk's turn and applies
// the end-of-file rules. Opened without waiting (a FIFO swapped in would
// otherwise wait for a writer), read at explicit offsets, the kernel asked
// to read ahead. Data the page cache holds is read in place where a span
// is large enough to pay for the mapping: mapped without MAP_POPULATE, its
// pages are faulted in a block at a time as they are hashed, where a read
// copies every byte. On a disk that spins, reads the page cache cannot
// serve take turns (disk_turn.h), the earliest job first.
class file_reader {
public:
  file_reader() = default;
  ~file_reader() { close(); }
  file_reader(const file_reader&) = delete;
  file_reader& operator=(const file_reader&) = delete;

  // Opens `path` for the job `sequence`: 0, or the errno of the failure.
  // Only regular files are read (anything else gives EIO); with
  // `regularOnly`, the file is looked at before it is opened, and
  // `*notRegular` tells such a refusal.
  int open(const char* path, bool regularOnly, bool* notRegular, unsigned long long sequence);
  // Shares the open file of `other` (pieces of one file read by several
  // threads); the owner closes it.
  void borrow(const file_reader& other);

  // The size the file had when it was opened, and its modification time.
  unsigned long long size() const { return _size; }
  const struct timespec& modified() const { return _status.st_mtim; }
  // fstat of the file as opened; zeros when none is open.
  const struct stat& status() const { return _status; }

  // The next span at `request.offset`.
  file_span next(const span_request& request);
  // Hashes `count` bytes of `span` from `from` on into `state`: 0, or EIO
  // when the file was cut short under a mapped span.
  static int feed(const file_span& span, size_t from, size_t count, const zorvik::algorithm& a,
                  void* state);
  static void release(const file_span& span);

  // Gives up this reader's turn at the disk, if it holds it.
  void releaseTurn();
  void close();

private:
  bool mapSpan(unsigned long long offset, unsigned long long end, file_span* span);
  long readAt(unsigned char* buffer, size_t room, unsigned long long offset,
              unsigned long long order, bool mayWait);
  bool cached(unsigned long long offset, size_t room) const;
  bool endedWith(size_t got, size_t room, unsigned long long offset) const;

  int _fd = -1;
  bool _owner = false;
  unsigned long long _sequence = 0;
  unsigned long long _size = 0;
  struct stat _status {};
  bool _rotational = false;
  bool _noWait = true;    // RWF_NOWAIT still worth trying
  bool _holdsTurn = false;
  bool _lastReadWaited = false;
};

// Reads exactly `length` bytes at `offset` of `fd`, more calls after short
// ones: 0, or the errno of the failure; an early end of the file is EIO, as
// next() has it.
int readExactly(int fd, unsigned char* buffer, size_t length, unsigned long long offset);

// Test seam: called before each span is taken, with the job's sequence
// number (0 for the first job submitted).
extern void (*g_engineBeforeRead)(unsigned long long sequence);
