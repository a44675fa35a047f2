// The verification record: comment lines of an SFV file remembering which
// entries verified, when, and under which signature.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <strings.h>

#include <zorvik/base64.h>
#include <zorvik/config.h>
#include <zorvik/container.h>
#include <zorvik/error.h>
#include <zorvik/hasher.h>
#include <zorvik/text.h>

#include "fingerprint.h"
#include "in_place.h"
#include "list_lock.h"
#include "record_format.h"
#include "record_time.h"
#include "sfv_line.h"
#include "util/write_text.h"

// The state of the one pass that open() makes over a list.
struct record_scan {
  MD5_CTX entries;
  // A line 3.00 read as another entry than this release does, or as an
  // entry where this one finds none.
  bool otherwise = false;

  void entry(const char* line, size_t length) {
    digestEntry(&entries, line, length);
    // A line with a NUL was an invalid line before as it is now.
    if (!otherwise && strlen(line) == length) otherwise = readOtherwiseBefore(line, length);
  }
};

namespace {

constexpr int bitmapBytes = 32768;
constexpr unsigned long bitmapEntries = bitmapBytes * 8UL;
constexpr int bytesPerLine = 48;
constexpr int fingerprintsPerLine = bytesPerLine / 4;

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

// The identity of `directory`, or zeros when it cannot be looked at.
void lookupIdentity(const char* directory, unsigned long long* device, unsigned long long* inode) {
  struct stat status;
  bool found = stat(directory, &status) == 0;
  *device = found ? static_cast<unsigned long long>(status.st_dev) : 0;
  *inode = found ? static_cast<unsigned long long>(status.st_ino) : 0;
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
  // One pass over the whole file: the record, its binding, and the digest
  // of every entry line, wherever they stand.
  record_scan scan;
  MD5Init(&scan.entries);
  bool found = false;    // the first record of formats 0 to 2
  int binding = 0;       // 1: a binding line read, -1: one that cannot be read
  long read = readLine();
  while (read > 0) {
    size_t length = static_cast<size_t>(read);
    if (!isRecordLine(_line, length)) {
      if (_line[0] != ';') scan.entry(_line, length);
      read = readLine();
    } else if (_line[2] == '3' && binding == 0) {
      binding = readBinding(_line + 4, _boundDigest, &_boundDevice, &_boundInode) ? 1 : -1;
      read = readFingerprints();
    } else if (_line[2] <= '2' && !found) {
      found = true;
      read = readRecordAt(expected, length, &scan);
    } else {
      read = readLine();
    }
  }
  MD5Final(_entriesDigest, &scan.entries);
  if (!found || _recordIgnored) return;
  // A list read only in part cannot prove its entries are the same.
  if (read < 0 || binding < 0 ||
      (binding > 0 && memcmp(_boundDigest, _entriesDigest, sizeof _entriesDigest) != 0)) {
    voidRecord();
    return;
  }
  // The bits of a record written before fingerprints were follow 3.00's
  // count of entries; where this release counts others, they would fall on
  // other entries. Fingerprints show a record counted as entries are now.
  if (scan.otherwise && !_fingerprinted) {
    voidRecord();
    return;
  }
  _bound = binding > 0;
  // An unbound record is rewritten bound at the end of this run.
  if (!_bound) _recordDirty = 1;
}

// Reads the record whose first line (of `length` bytes) is in `_line`.
// Returns what the reading left in `_line`: the length of a line that is
// not part of the record, 0 at the end, or a negative code.
long sfv::readRecordAt(const char* expected, size_t length, record_scan* scan) {
  char format = _line[2];
  size_t expectedLength = strlen(expected);
  if (format == '0' || length - 4 != expectedLength || memcmp(_line + 4, expected, expectedLength) != 0) {
    voidRecord();
    return readLine();
  }
  char prefix[4];
  memcpy(prefix, _line, sizeof prefix);
  if (format == '1') {
    _recordDirty = 1;
    return readBitmap(prefix);
  }
  long read = readLine();
  if (read > 4 && memcmp(_line, prefix, sizeof prefix) == 0) {
    unsigned char bytes[8] = {};
    Base64Decode(_line + 4, bytes, sizeof bytes);
    _recordTime = 0;
    for (int i = 7; i >= 0; --i) _recordTime = _recordTime << 8 | bytes[i];
    unsigned long long now = ticksNow();
    unsigned long long expiry = expiryTicks(setting("expiretime"));
    if (expiry != 0 && _recordTime <= now && now - _recordTime >= expiry) {
      voidRecord();
      return readLine();
    }
  } else if (read > 0 && _line[0] != ';') {
    // Passed over in place of the time line, but an entry all the same.
    scan->entry(_line, static_cast<size_t>(read));
  }
  if (read <= 0) return read;
  return readBitmap(prefix);
}

long sfv::readBitmap(const char* prefix) {
  int offset = 0;
  for (;;) {
    long read = readLine();
    if (read <= 4 || memcmp(_line, prefix, 4) != 0) return read;
    int room = bitmapBytes - offset;
    int decoded = Base64Decode(_line + 4, _verified + offset, room);
    offset += std::clamp(decoded, 0, room);
  }
}

// The fingerprint lines (";R4-") after the binding line: 4 bytes an entry,
// least significant first, in entry order. Returns what the reading left in
// `_line`, as readRecordAt() does.
long sfv::readFingerprints() {
  for (;;) {
    long read = readLine();
    if (read <= 4 || memcmp(_line, ";R4-", 4) != 0) return read;
    _fingerprinted = 1;
    unsigned char bytes[bytesPerLine];
    int decoded = Base64Decode(_line + 4, bytes, sizeof bytes);
    for (int at = 0; at + 4 <= decoded; at += 4) {
      unsigned long entry = _fingerprintsRecorded;
      if (entry >= bitmapEntries || !growFingerprints(entry)) break;
      _fingerprints[entry] = static_cast<uint32_t>(bytes[at]) | static_cast<uint32_t>(bytes[at + 1]) << 8 |
                             static_cast<uint32_t>(bytes[at + 2]) << 16 |
                             static_cast<uint32_t>(bytes[at + 3]) << 24;
      _fingerprintsRecorded = entry + 1;
    }
  }
}

// Room and a value (0 until one is kept) for every entry up to `entry`;
// false without memory.
bool sfv::growFingerprints(unsigned long entry) {
  if (entry >= _fingerprintRoom) {
    unsigned long room = std::min(bitmapEntries, entry + entry / 4 + 1024);
    auto* bigger = static_cast<uint32_t*>(realloc(_fingerprints, room * sizeof(uint32_t)));
    if (bigger == nullptr) return false;
    _fingerprints = bigger;
    _fingerprintRoom = room;
  }
  if (entry >= _fingerprintCount) {
    std::fill(_fingerprints + _fingerprintCount, _fingerprints + entry + 1, 0U);
    _fingerprintCount = entry + 1;
  }
  return true;
}

// Keeps `fingerprint` for entry `entry`; one the record read did not hold,
// or another one, is a change of the record. False without memory for it.
bool sfv::keepFingerprint(unsigned long entry, uint32_t fingerprint) {
  if (!growFingerprints(entry)) return false;
  if (entry >= _fingerprintsRecorded || _fingerprints[entry] != fingerprint) _recordDirty = 1;
  _fingerprints[entry] = fingerprint;
  return true;
}

// The directory the entries are looked up in is the path before the name
// that getNextFile() gave; a record bound to another one vouches for none.
bool sfv::trustsLookupDirectory(const wchar_t* path) {
  if (!_directoryKnown) {
    _directoryKnown = 1;
    size_t total = wcslen(path);
    size_t prefix = total >= _nameLength ? total - _nameLength : 0;
    char directory[PATH_MAX] = ".";
    wchar_t head[PATH_MAX];
    if (prefix > 0 && prefix < PATH_MAX) {
      wmemcpy(head, path, prefix);
      head[prefix] = L'\0';
      if (wideToBytes(directory, head, sizeof directory) < 0) strcpy(directory, "/nonexistent/");
    }
    lookupIdentity(directory, &_directoryDevice, &_directoryInode);
    if (_bound && (_directoryDevice != _boundDevice || _directoryInode != _boundInode)) voidRecord();
  }
  return !_recordIgnored;
}

unsigned long sfv::cursorEntry() const {
  return static_cast<unsigned long>(_cursorByte) * 8 + 7 -
         static_cast<unsigned long>(__builtin_ctz(static_cast<unsigned>(_cursorMask)));
}

int sfv::isPreviouslyVerified(wchar_t* path) { return isPreviouslyVerifiedAt(cursorEntry(), path); }

int sfv::isPreviouslyVerifiedAt(unsigned long entry, wchar_t* path) {
  if (path == nullptr) return 0;
  // The directory is looked up even for a record not trusted: the one
  // written at close() is bound to it.
  bool trusted = trustsLookupDirectory(path);
  if (entry >= bitmapEntries) return 0;
  char name[PATH_MAX];
  struct stat status;
  if (wideToBytes(name, path, sizeof name) < 0 || stat(name, &status) != 0) return 0;
  // The file found now is the one the record keeps for the entry, whatever
  // the answer: the one a verdict without a status of its own vouches for.
  uint32_t identity = fingerprintOf(status);
  bool sameFile = !_fingerprinted || (entry < _fingerprintsRecorded && _fingerprints[entry] == identity);
  keepFingerprint(entry, identity);
  if (!trusted) return 0;
  unsigned char& bits = _verified[entry / 8];
  unsigned char mask = static_cast<unsigned char>(0x80 >> (entry % 8));
  if (unchangedSince(status, _recordTime, stampedElsewhere(name, status.st_dev)))
    return sameFile && (bits & mask) != 0;
  bits &= static_cast<unsigned char>(~mask);
  _recordDirty = 1;
  return 0;
}

int sfv::setPreviouslyVerified(bool verified) {
  if (_cursorByte < bitmapBytes) {
    // Without room for the entry's fingerprint its bit could not vouch.
    if (!growFingerprints(cursorEntry())) verified = false;
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

int sfv::setHashedVerdict(bool verified, const struct stat& opened) {
  // An entry that failed vouches for nothing, whatever its file is: its
  // fingerprint stays as found, so that failing again changes nothing.
  unsigned long entry = cursorEntry();
  if (verified && entry < bitmapEntries && !keepFingerprint(entry, fingerprintOf(opened))) verified = false;
  return setPreviouslyVerified(verified);
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
  // Under the list's lock, and only into the list this run read: a run
  // that replaced or rewrote it meanwhile has written a record of its own.
  list_guard* held = guard();
  if (held == nullptr || !lockWatched(held, fileno(_file))) return leave();
  if (setting("signature") == nullptr || fseek(_file, 0, SEEK_SET) != 0) return leave();
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
  char* fresh = nullptr;
  size_t freshLength = 0;
  int code = newTail(needsFeed, kept, keptLength, &fresh, &freshLength);
  free(kept);
  // All or nothing: the old tail comes back should any write fail.
  char* old = nullptr;
  size_t oldLength = 0;
  int descriptor = fileno(_file);
  if (code == error::ok) code = readTail(descriptor, where, &old, &oldLength);
  bool restored;
  if (code == error::ok) code = overwriteTail(descriptor, where, old, oldLength, fresh, freshLength, &restored);
  free(old);
  free(fresh);
  FILE* file = _file;
  _file = nullptr;
  if (code != error::ok) {
    fclose(file);
    return code;
  }
  return error::from_write([file] { return fclose(file) == 0; });
}

// What goes from the record's position to the end of the file, made in
// memory: a line feed the last line lacks, the lines kept, the record.
int sfv::newTail(bool needsFeed, const char* kept, size_t keptLength, char** fresh,
                 size_t* freshLength) {
  FILE* lines = open_memstream(fresh, freshLength);
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
  if (fclose(lines) != 0 && code == error::ok) code = error::unknown_error;
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
  int code = writeText(_file, ";R2-%s\n", setting("signature"));
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
