// The verification record: comment lines of an SFV file remembering which
// entries verified, when, and under which signature.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include <zorvik/base64.h>
#include <zorvik/config.h>
#include <zorvik/container.h>
#include <zorvik/error.h>
#include <zorvik/text.h>

#include "record_format.h"

namespace {

constexpr int bitmapBytes = 32768;
constexpr int bytesPerLine = 48;

const char* setting(const char* key) {
  config* store = config::instance();
  return store != nullptr ? static_cast<const char*>((*store)[key]) : nullptr;
}

// The configured signature, created on first use; null when none can be kept.
const char* signature() {
  const char* text = setting("signature");
  config* store = config::instance();
  if (text == nullptr && store != nullptr) {
    char created[24];
    snprintf(created, sizeof created, "%llu", container::ticksNow());
    store->set("Signature", created);
    text = setting("signature");
  }
  return text;
}

int failure() { return errno != 0 ? error::translate_errno() : error::unknown_error; }

bool isBlankLine(const char* line, size_t length) {
  return std::all_of(line, line + length, [](char c) { return c == '\n'; });
}

// The lines from the current position to the end that are neither record
// nor blank lines, byte for byte, each ending in a line feed. They are
// written back after the record is replaced, so that nothing behind an old
// record is lost. False when they could not be read.
bool keepTail(FILE* file, char** kept, size_t* keptLength) {
  char* line = nullptr;
  size_t room = 0, capacity = 0;
  *kept = nullptr;
  *keptLength = 0;
  bool ok = true;
  for (;;) {
    errno = 0;
    ssize_t got = getline(&line, &room, file);
    if (got < 0) {
      ok = feof(file) && !ferror(file);
      break;
    }
    size_t length = static_cast<size_t>(got);
    if (isRecordLine(line, length) || isBlankLine(line, length)) continue;
    bool needsFeed = line[length - 1] != '\n';
    if (*keptLength + length + 1 > capacity) {
      size_t grown = std::max(capacity * 2, *keptLength + length + 1);
      char* bigger = static_cast<char*>(realloc(*kept, grown));
      if (bigger == nullptr) {
        ok = false;
        break;
      }
      *kept = bigger;
      capacity = grown;
    }
    memcpy(*kept + *keptLength, line, length);
    *keptLength += length;
    if (needsFeed) (*kept)[(*keptLength)++] = '\n';
  }
  free(line);
  if (!ok) {
    free(*kept);
    *kept = nullptr;
  }
  return ok;
}

}  // namespace

void sfv::voidRecord() {
  _recordIgnored = 1;
  memset(_verified, 0, sizeof _verified);
  _recordDirty = 1;
}

void sfv::readRecord() {
  const char* expected = signature();
  if (expected == nullptr) {
    // No signature, no trust: a record could be anyone's.
    _recordIgnored = 1;
    _recordFrozen = 1;
    return;
  }
  unsigned long long expiry = expiryTicks(setting("expiretime"));
  size_t expectedLength = strlen(expected);
  long read;
  do {
    read = readLine();
    if (read <= 0) return;
  } while (!isRecordLine(_line, static_cast<size_t>(read)) || _line[2] > '2');
  char format = _line[2];
  if (format == '0' || static_cast<size_t>(read) - 4 != expectedLength ||
      memcmp(_line + 4, expected, expectedLength) != 0) {
    voidRecord();
    return;
  }
  char prefix[4];
  memcpy(prefix, _line, sizeof prefix);
  if (format == '1') {
    readBitmap(prefix);
    _recordDirty = 1;
    return;
  }
  read = readLine();
  if (read > 4 && memcmp(_line, prefix, sizeof prefix) == 0) {
    unsigned char bytes[8] = {};
    Base64Decode(_line + 4, bytes, sizeof bytes);
    _recordTime = 0;
    for (int i = 7; i >= 0; --i) _recordTime = _recordTime << 8 | bytes[i];
    unsigned long long now = ticksNow();
    if (expiry != 0 && _recordTime <= now && now - _recordTime >= expiry) {
      voidRecord();
      return;
    }
  }
  if (read <= 0) return;
  readBitmap(prefix);
}

void sfv::readBitmap(const char* prefix) {
  int offset = 0;
  for (;;) {
    long read = readLine();
    if (read <= 4 || memcmp(_line, prefix, 4) != 0) return;
    int room = bitmapBytes - offset;
    int decoded = Base64Decode(_line + 4, _verified + offset, room);
    offset += std::clamp(decoded, 0, room);
  }
}

int sfv::isPreviouslyVerified(wchar_t* path) {
  if (_recordIgnored || _cursorByte >= bitmapBytes) return 0;
  char name[PATH_MAX];
  struct stat status;
  if (path == nullptr || wideToBytes(name, path, sizeof name) < 0 || stat(name, &status) != 0)
    return 0;
  if (_recordTime > ticksFromStat(status)) return (_verified[_cursorByte] & _cursorMask) != 0;
  _verified[_cursorByte] &= static_cast<unsigned char>(~_cursorMask);
  _recordDirty = 1;
  return 0;
}

int sfv::setPreviouslyVerified(bool verified) {
  if (_cursorByte < bitmapBytes) {
    unsigned char& bits = _verified[_cursorByte];
    bool set = (bits & _cursorMask) != 0;
    if (verified != set) {
      bits ^= static_cast<unsigned char>(_cursorMask);
      _recordDirty = 1;
    }
  }
  _cursorMask >>= 1;
  if (_cursorMask == 0) {
    ++_cursorByte;
    _cursorMask = 0x80;
  }
  return error::ok;
}

int sfv::writeRecord() {
  auto leave = [this] {
    fclose(_file);
    _file = nullptr;
    return error::ok;
  };
  const char* update = setting("updatedb");
  if (_recordFrozen || (update != nullptr && strcasecmp(update, "true") != 0) || !_recordDirty)
    return leave();
  const char* current = setting("signature");
  if (current == nullptr || fseek(_file, 0, SEEK_SET) != 0) return leave();

  // The record goes where the first record line stands (blank lines before
  // it included), or at the end.
  long where = -1;
  for (;;) {
    long before = ftell(_file);
    long read = readLine();
    if (read < 0 || before < 0) return leave();
    if (read == 0) break;
    if (isRecordLine(_line, static_cast<size_t>(read))) {
      where = before;
      break;
    }
  }
  char* kept = nullptr;
  size_t keptLength = 0;
  if (where >= 0) {
    if (fseek(_file, where, SEEK_SET) != 0 || !keepTail(_file, &kept, &keptLength)) return leave();
  } else {
    where = ftell(_file);
  }
  // A last line without its line feed must not swallow the record's first line.
  bool needsFeed = false;
  if (where > 0) {
    if (fseek(_file, where - 1, SEEK_SET) != 0) {
      free(kept);
      return leave();
    }
    needsFeed = getc(_file) != '\n';
  }
  errno = 0;
  bool written = fseek(_file, where, SEEK_SET) == 0 && (!needsFeed || fputc('\n', _file) != EOF) &&
                 (keptLength == 0 || fwrite(kept, 1, keptLength, _file) == keptLength);
  free(kept);
  if (!written) return failure();

  if (fprintf(_file, ";R2-%s\n", current) < 0) return failure();
  unsigned long long now = ticksNow();
  unsigned char timeBytes[8];
  for (int i = 0; i < 8; ++i) timeBytes[i] = static_cast<unsigned char>(now >> (8 * i));
  char text[72];
  int length = Base64Encode(timeBytes, text, sizeof timeBytes);
  if (fprintf(_file, ";R2-%.*s\n", length, text) < 0) return failure();
  int reached = std::min(_cursorByte + (_cursorMask != 0x80 ? 1 : 0), bitmapBytes);
  for (int offset = 0; offset < reached; offset += bytesPerLine) {
    length = Base64Encode(_verified + offset, text, std::min(bytesPerLine, reached - offset));
    if (fprintf(_file, ";R2-%.*s\n", length, text) < 0) return failure();
  }
  errno = 0;
  if (fflush(_file) != 0) return failure();
  long end = ftell(_file);
  if (end < 0 || ftruncate(fileno(_file), end) != 0) return failure();
  errno = 0;
  int closed = fclose(_file);
  _file = nullptr;
  return closed != 0 ? failure() : error::ok;
}
