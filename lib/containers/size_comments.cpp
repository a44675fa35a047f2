#include "size_comments.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace {

// How many comments an entry may be ahead of the one expected: those of
// entries removed by hand are passed over, while a list whose entries
// stand in another order than its comments costs a few lines an entry.
constexpr int lookahead = 8;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Digits at `*p`, at least one; their value in `*value` (false on overflow).
bool number(const char** p, const char* end, unsigned long long* value) {
  const char* start = *p;
  unsigned long long v = 0;
  for (; *p < end && isDigit(**p); ++*p) {
    unsigned digit = static_cast<unsigned>(**p - '0');
    if (v > (~0ULL - digit) / 10) return false;
    v = v * 10 + digit;
  }
  *value = v;
  return *p > start;
}

// Digits, then `separator`.
bool field(const char** p, const char* end, char separator) {
  unsigned long long ignored;
  if (!number(p, end, &ignored) || *p == end || **p != separator) return false;
  ++*p;
  return true;
}

void skipBlanks(const char** p, const char* end) {
  while (*p < end && **p == ' ') ++*p;
}

// "; <size>  hh:mm.ss yyyy-mm-dd <name>": the size, and where the name is.
bool readComment(const char* line, size_t length, unsigned long long* size, size_t* nameStart,
                 size_t* nameLength) {
  const char* end = line + length;
  if (end > line && end[-1] == '\r') --end;
  const char* p = line + 1;
  if (p == end || *p != ' ') return false;
  skipBlanks(&p, end);
  if (!number(&p, end, size) || p == end || *p != ' ') return false;
  skipBlanks(&p, end);
  if (!field(&p, end, ':') || !field(&p, end, '.') || !field(&p, end, ' ')) return false;
  skipBlanks(&p, end);
  if (!field(&p, end, '-') || !field(&p, end, '-') || !field(&p, end, ' ') || p == end) return false;
  *nameStart = static_cast<size_t>(p - line);
  *nameLength = static_cast<size_t>(end - p);
  return true;
}

}  // namespace

size_comments::~size_comments() { free(_line); }

void size_comments::begin(int descriptor) {
  _descriptor = descriptor;
  _ended = descriptor < 0;
  _next = 0;
  _pending = false;
  _bufferAt = 0;
  _bufferLength = 0;
}

// The line at `_next` into `_line`, without its line feed; false at the end
// of the file (or when it cannot be read: a pipe, for instance).
bool size_comments::readLine() {
  _lineLength = 0;
  for (;;) {
    if (_next < _bufferAt || _next >= _bufferAt + static_cast<off_t>(_bufferLength)) {
      ssize_t got = pread(_descriptor, _buffer, sizeof _buffer, _next);
      _bufferAt = _next;
      _bufferLength = got > 0 ? static_cast<size_t>(got) : 0;
      if (got <= 0) return _lineLength > 0;
    }
    const char* start = _buffer + (_next - _bufferAt);
    size_t available = _bufferLength - static_cast<size_t>(_next - _bufferAt);
    const char* feed = static_cast<const char*>(memchr(start, '\n', available));
    size_t take = feed != nullptr ? static_cast<size_t>(feed - start) : available;
    if (_lineLength + take + 1 > _lineRoom) {
      size_t room = _lineLength + take + 1 > 2 * _lineRoom ? _lineLength + take + 1 : 2 * _lineRoom;
      char* bigger = static_cast<char*>(realloc(_line, room));
      if (bigger == nullptr) return false;
      _line = bigger;
      _lineRoom = room;
    }
    memcpy(_line + _lineLength, start, take);
    _lineLength += take;
    _next += static_cast<off_t>(take + (feed != nullptr ? 1 : 0));
    if (feed != nullptr) return true;
  }
}

// The next size comment becomes the pending one; the comments end at the
// first line that is no comment.
bool size_comments::advance() {
  _pending = false;
  while (!_ended) {
    off_t at = _next;
    if (!readLine()) break;
    if (_lineLength == 0) continue;
    if (_line[0] != ';') break;
    if (readComment(_line, _lineLength, &_pendingSize, &_nameStart, &_nameLength)) {
      _pending = true;
      _pendingAt = at;
      return true;
    }
  }
  _ended = true;
  return false;
}

unsigned long long size_comments::sizeOf(const char* name, size_t length) {
  if (!_pending && !advance()) return ~0ULL;
  off_t back = _pendingAt;
  for (int tried = 0; tried <= lookahead; ++tried) {
    if (_nameLength == length && memcmp(_line + _nameStart, name, length) == 0) {
      unsigned long long size = _pendingSize;
      advance();
      return size;
    }
    if (!advance()) break;
  }
  // No comment for this entry: the next one may still match where we were.
  _ended = false;
  _next = back;
  advance();
  return ~0ULL;
}
