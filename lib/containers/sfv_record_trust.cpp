// Trusting entries by the verification record: an entry passes without
// hashing only when its bit is set, its file is the very one the record
// saw, and that file's times show no change since the record's run began.
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include <zorvik/container.h>
#include <zorvik/error.h>
#include <zorvik/text.h>

#include "fingerprint.h"
#include "record_time.h"
#include "sfv_record.h"

void sfv::voidRecord() {
  _recordIgnored = 1;
  memset(_verified, 0, sizeof _verified);
  _recordDirty = 1;
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
