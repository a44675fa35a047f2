#include <sys/time.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <zorvik/container.h>
#include <zorvik/error.h>
#include <zorvik/text.h>

#include "lines.h"
#include "pending.h"

namespace {

constexpr unsigned long long ticksPerSecond = 10000000ULL;
constexpr unsigned long long epochTicks = 116444736000000000ULL;  // 1601 to 1970

}  // namespace

container::container()
    : _file(nullptr), _head(nullptr), _line(nullptr), _lineRoom(0), _failure(error::ok) {}

container::~container() {
  if (_file != nullptr) {
    fclose(_file);
    _file = nullptr;
  }
  releasePending(_head);
  _head = nullptr;
  free(_line);
}

void container::restart() {
  if (_file != nullptr) {
    fclose(_file);
    _file = nullptr;
  }
  releasePending(_head);
  _head = nullptr;
  _failure = error::ok;
}

int container::readFileString(wchar_t* buffer, int length) {
  if (_file == nullptr) return error::file_not_found;
  // A room of one character could never take a byte and would loop forever.
  if (buffer == nullptr || length < 2) return error::invalid_arguments;
  for (;;) {
    // Bytes are widened a chunk at a time; a NUL ends the text as it would in
    // a C string, but the line is still consumed up to its line feed.
    char chunk[256];
    size_t chunkLength = 0, read = 0, written = 0;
    bool ended = false, lineFeed = false;
    int c = 0;
    auto flush = [&] {
      chunk[chunkLength] = '\0';
      if (!ended) {
        long n = bytesToWide(buffer + written, chunk, chunkLength + 1);
        written += static_cast<size_t>(n);
        ended = static_cast<size_t>(n) < chunkLength;
      }
      chunkLength = 0;
    };
    errno = 0;
    while (read < static_cast<size_t>(length) - 1 && (c = getc(_file)) != EOF) {
      ++read;
      chunk[chunkLength++] = static_cast<char>(c);
      if (c == '\n') {
        lineFeed = true;
        break;
      }
      if (chunkLength == sizeof chunk - 1) flush();
    }
    flush();
    buffer[written] = L'\0';
    if (read == 0) {
      if (ferror(_file)) return errno != 0 ? error::translate_errno() : error::file_read_error;
      return 0;
    }
    if (lineFeed && written > 0 && buffer[written - 1] == L'\n') buffer[--written] = L'\0';
    if (written > 0) return static_cast<int>(written);
  }
}

long container::readLine() {
  if (_file == nullptr) return error::file_not_found;
  return readWholeLine(_file, &_line, &_lineRoom);
}

long container::readEntryLine() {
  long read;
  do {
    read = readLine();
    if (read <= 0) return read;
  } while (_line[0] == ';');
  // No name holds a NUL: a line with one names no file that could be checked.
  if (strlen(_line) != static_cast<size_t>(read)) return error::invalid_line;
  return read;
}

unsigned long long container::ticksFromStat(const struct stat& status) {
  long long seconds = static_cast<long long>(status.st_mtim.tv_sec) * 10000000LL;
  return static_cast<unsigned long long>(seconds) + epochTicks +
         static_cast<unsigned long long>((status.st_mtim.tv_nsec + 50) / 100);
}

unsigned long long container::ticksNow() {
  struct timeval now {};
  gettimeofday(&now, nullptr);
  return static_cast<unsigned long long>(now.tv_sec) * ticksPerSecond +
         static_cast<unsigned long long>(now.tv_usec) * 10 + epochTicks;
}

long long container::secondsFromTicks(unsigned long long ticks) {
  // Floor division, so times before 1970 land in the second they belong to.
  long long offset = static_cast<long long>(ticks - epochTicks);
  long long seconds = offset / static_cast<long long>(ticksPerSecond);
  if (offset % static_cast<long long>(ticksPerSecond) < 0) --seconds;
  return seconds;
}
