// Reading the verification record: comment lines of an SFV file
// remembering which entries verified, when, under which signature, bound
// to which entry lines and directory, and for which very files.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include <zorvik/base64.h>
#include <zorvik/config.h>
#include <zorvik/container.h>
#include <zorvik/hasher.h>

#include "record_format.h"
#include "sfv_line.h"
#include "sfv_record.h"

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

// The configured signature, created on first use; null when none can be kept.
const char* signature() {
  const char* text = recordSetting("signature");
  config* store = config::instance();
  if (text == nullptr && store != nullptr) {
    char created[24];
    snprintf(created, sizeof created, "%llu", container::ticksNow());
    store->set("Signature", created);
    text = recordSetting("signature");
  }
  return text;
}

}  // namespace

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
    unsigned long long expiry = expiryTicks(recordSetting("expiretime"));
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
