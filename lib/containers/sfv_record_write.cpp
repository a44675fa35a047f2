// Writing the verification record at the end of a verify run: in place,
// all or nothing, with any lines behind an old record kept.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include <zorvik/base64.h>
#include <zorvik/container.h>
#include <zorvik/error.h>

#include "in_place.h"
#include "list_lock.h"
#include "record_format.h"
#include "sfv_record.h"
#include "util/write_text.h"

namespace {

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

int sfv::writeRecord() {
  auto leave = [this] {
    fclose(_file);
    _file = nullptr;
    return error::ok;
  };
  const char* update = recordSetting("updatedb");
  if (_recordFrozen || (update != nullptr && strcasecmp(update, "true") != 0) || !_recordDirty)
    return leave();
  // Under the list's lock, and only into the list this run read: a run
  // that replaced or rewrote it meanwhile has written a record of its own.
  list_guard* held = guard();
  if (held == nullptr || !lockWatched(held, fileno(_file))) return leave();
  if (recordSetting("signature") == nullptr || fseek(_file, 0, SEEK_SET) != 0) return leave();
  long where = recordPosition();
  if (where < 0) return leave();
  // Lines behind an old record are kept, written back before the new one.
  char* kept = nullptr;
  size_t keptLength = 0;
  if (!feof(_file) && (fseek(_file, where, SEEK_SET) != 0 || !keepTail(_file, &kept, &keptLength)))
    return leave();
  // A last line without its line feed must not swallow the record's first line.
  bool needsFeed = false;
  if (where > 0) {
    if (fseek(_file, where - 1, SEEK_SET) != 0) {
      free(kept);
      return leave();
    }
    needsFeed = getc(_file) != '\n';
  }
  tail_source fresh;
  int code = newTail(needsFeed, kept, keptLength, &fresh);
  free(kept);
  // All or nothing: the old tail comes back should any write fail.
  tail_source old;
  int descriptor = fileno(_file);
  if (code == error::ok) code = saveTail(descriptor, where, &old);
  bool restored;
  if (code == error::ok) code = overwriteTail(descriptor, where, old, fresh, &restored);
  releaseTail(&old);
  releaseTail(&fresh);
  FILE* file = _file;
  _file = nullptr;
  if (code != error::ok) {
    fclose(file);
    return code;
  }
  return error::from_write([file] { return fclose(file) == 0; });
}

// What goes from the record's position to the end of the file, made in a
// scratch file (in memory where none can be had; the record of a long list
// is long): a line feed the last line lacks, the lines kept, the record.
int sfv::newTail(bool needsFeed, const char* kept, size_t keptLength, tail_source* fresh) {
  *fresh = {};
  char* bytes = nullptr;
  size_t length = 0;
  FILE* scratch = scratchFile();
  FILE* lines = scratch != nullptr ? scratch : open_memstream(&bytes, &length);
  if (lines == nullptr) return error::translate_errno();
  int code = error::from_write([lines, needsFeed, kept, keptLength] {
    return (!needsFeed || fputc('\n', lines) != EOF) &&
           (keptLength == 0 || fwrite(kept, 1, keptLength, lines) == keptLength);
  });
  // The record's lines are written as to the list, into memory.
  FILE* list = _file;
  _file = lines;
  if (code == error::ok) code = writeRecordLines();
  _file = list;
  if (scratch != nullptr) {
    int made = tailFromFile(scratch, fresh);
    return code != error::ok ? code : made;
  }
  if (fclose(lines) != 0 && code == error::ok) code = error::unknown_error;
  fresh->bytes = bytes;
  fresh->length = length;
  return code;
}

// Where the record goes: where the first record line stands (blank lines
// before it included), the stream left there; or the end of the file, the
// stream at its end. Negative when the file could not be read.
long sfv::recordPosition() {
  for (;;) {
    long before = ftell(_file);
    long read = readLine();
    if (read < 0 || before < 0) return -1;
    if (read == 0) return ftell(_file);
    if (isRecordLine(_line, static_cast<size_t>(read))) return before;
  }
}

// The record lines: signature, the time this run began, the bitmap as far
// as the cursor came, and the binding to the entries and their directory.
int sfv::writeRecordLines() {
  int code = writeText(_file, ";R2-%s\n", recordSetting("signature"));
  if (code != error::ok) return code;
  unsigned char timeBytes[8];
  for (int i = 0; i < 8; ++i) timeBytes[i] = static_cast<unsigned char>(_runStart >> (8 * i));
  char text[72];
  int length = Base64Encode(timeBytes, text, sizeof timeBytes);
  code = writeText(_file, ";R2-%.*s\n", length, text);
  if (code != error::ok) return code;
  int reached = std::min(_cursorByte + (_cursorMask != 0x80 ? 1 : 0), bitmapBytes);
  for (int offset = 0; offset < reached; offset += bytesPerLine) {
    length = Base64Encode(_verified + offset, text, std::min(bytesPerLine, reached - offset));
    code = writeText(_file, ";R2-%.*s\n", length, text);
    if (code != error::ok) return code;
  }
  if (!_directoryKnown) lookupIdentity(".", &_directoryDevice, &_directoryInode);
  char binding[80];
  writeBinding(binding, _entriesDigest, _directoryDevice, _directoryInode);
  code = writeText(_file, ";R3-%s\n", binding);
  return code != error::ok ? code : writeFingerprintLines();
}

// The fingerprint lines: one for each entry the cursor came to, as far as
// the bitmap goes, 4 bytes least significant first, 48 bytes a line.
int sfv::writeFingerprintLines() {
  unsigned long reached = std::min(cursorEntry(), bitmapEntries);
  for (unsigned long first = 0; first < reached; first += fingerprintsPerLine) {
    unsigned char bytes[bytesPerLine];
    int length = 0;
    for (unsigned long entry = first; entry < reached && entry < first + fingerprintsPerLine; ++entry) {
      uint32_t value = entry < _fingerprintCount ? _fingerprints[entry] : 0;
      for (int i = 0; i < 4; ++i) bytes[length++] = static_cast<unsigned char>(value >> (8 * i));
    }
    char text[72];
    int written = Base64Encode(bytes, text, length);
    int code = writeText(_file, ";R4-%.*s\n", written, text);
    if (code != error::ok) return code;
  }
  return error::ok;
}
