#pragma once

#include <sys/types.h>

#include <cstddef>

// The sizes that the size-and-time comments of an SFV file give its
// entries ("; <size>  hh:mm.ss yyyy-mm-dd <name>"). Lists are written with
// these comments before their first entry, in entry order, so a second read
// position walks over them in step with the entries, matching names: no
// comment is kept beyond the next one, and no file is looked at.
class size_comments {
public:
  size_comments() = default;
  ~size_comments();
  size_comments(const size_comments&) = delete;
  size_comments& operator=(const size_comments&) = delete;

  // Starts over at the beginning of the open file `descriptor`, which is
  // only read with pread(), so its own position stays where it is.
  void begin(int descriptor);
  // The size the comments give the entry named `name` (`length` bytes), or
  // ~0ULL when none does.
  unsigned long long sizeOf(const char* name, size_t length);

private:
  bool readLine();
  bool advance();

  int _descriptor = -1;
  bool _ended = true;
  off_t _next = 0;           // where the next line to read begins
  // The comment the next entry is expected to match, and where it begins.
  bool _pending = false;
  off_t _pendingAt = 0;
  unsigned long long _pendingSize = 0;
  size_t _nameStart = 0, _nameLength = 0;
  char* _line = nullptr;     // the last line read, malloc'd
  size_t _lineLength = 0, _lineRoom = 0;
  char _buffer[4096];        // bytes of the file from _bufferAt on
  off_t _bufferAt = 0;
  size_t _bufferLength = 0;
};
