#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdio>

// Where a formatted line goes: a stream, written in pieces of a kilobyte or
// less, or a buffer of fixed room that keeps what fits (always terminated).
class line_sink {
public:
  explicit line_sink(FILE* stream) : _stream(stream), _buffer(_own), _room(sizeof _own) {}
  line_sink(char* buffer, size_t room) : _stream(nullptr), _buffer(buffer), _room(room) {}
  ~line_sink() { flush(); }
  line_sink(const line_sink&) = delete;
  line_sink& operator=(const line_sink&) = delete;

  void put(const char* data, size_t length);
  // Hands what is held to the stream; a buffer is only terminated.
  void flush();

private:
  FILE* _stream;
  char* _buffer;
  size_t _room;
  size_t _used = 0;
  char _own[1024];
};

// Formats like vfprintf, except for the "%s" arguments, which are names:
// when any of them holds a byte that would break the line on a terminal
// (see needsEscape), the line begins with a backslash and every "%s"
// argument in it is written escaped. Lines without such names come out as
// vfprintf would write them.
void formatLine(line_sink& out, const char* format, va_list arguments);
