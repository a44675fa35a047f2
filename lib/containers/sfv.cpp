#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>

#include <zorvik/config.h>
#include <zorvik/container.h>
#include <zorvik/error.h>
#include <zorvik/text.h>

#include "hex.h"
#include "list_format.h"
#include "pending.h"
#include "sfv_line.h"
#include "size_comments.h"
#include "util/write_text.h"

namespace {

bool compatibilityWanted() {
  config* store = config::instance();
  return store != nullptr && static_cast<bool>((*store)["win-sfv_compatibile"]);
}

// The size-and-time comments first, then the entry lines.
int entryLine(FILE* file, const container::processed_file& entry, int pass) {
  if (pass != 0) return writeText(file, "%s %s\n", entry.path, entry.hashText);
  time_t seconds = static_cast<time_t>(container::secondsFromTicks(entry.modifiedTime));
  struct tm local {};
  if (localtime_r(&seconds, &local) == nullptr) local.tm_mday = 1;
  return writeText(file, "; %12llu  %02d:%02d.%02d %4d-%02d-%02d %s\n", entry.size, local.tm_hour,
                   local.tm_min, local.tm_sec, local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                   entry.path);
}

// The CRC-32 as the value of the native-order word `hash` holds.
void crcText(char* text, const void* hash) {
  uint32_t crc;
  memcpy(&crc, hash, sizeof crc);
  writeHexWord(text, crc);
}

}  // namespace

const list_format sfvFormat = {2, entryLine, crcText};

sfv::sfv()
    : _verified{}, _recordIgnored(0), _recordDirty(0), _cursorByte(0), _cursorMask(0x80),
      _recordTime(0), _recordFrozen(0), _runStart(0), _entriesDigest{}, _boundDigest{},
      _boundDevice(0), _boundInode(0), _bound(0), _directoryKnown(0), _directoryDevice(0),
      _directoryInode(0), _nameLength(0), _fingerprints(nullptr), _fingerprintCount(0),
      _fingerprintRoom(0), _fingerprintsRecorded(0), _fingerprinted(0), _sizes(nullptr) {}

sfv::~sfv() {
  free(_fingerprints);
  delete _sizes;
}

void sfv::resetRecord() {
  _recordIgnored = 0;
  _recordDirty = 0;
  _cursorByte = 0;
  _cursorMask = 0x80;
  memset(_verified, 0, sizeof _verified);
  _fingerprintCount = 0;
  _fingerprintsRecorded = 0;
  _fingerprinted = 0;
  // What the last list was bound to and looked up in says nothing of this one.
  _bound = 0;
  _directoryKnown = 0;
}

int sfv::create(const wchar_t* path) {
  _recordDirty = 0;
  _cursorByte = 0;
  _cursorMask = 0x80;
  memset(_verified, 0, sizeof _verified);
  return beginCreate(path, compatibilityWanted());
}

int sfv::addFile(const wchar_t* path, const void* hash) {
  if (path == nullptr || hash == nullptr) return error::invalid_arguments;
  char text[33];
  crcText(text, hash);
  processed_file* entry = newPendingEntry(path, text);
  struct stat status;
  if (entry != nullptr && _seen) {
    entry->modifiedTime = _seenTime;
    entry->size = _seenSize;
  } else if (entry != nullptr && entry->path != nullptr && stat(entry->path, &status) == 0) {
    entry->modifiedTime = ticksFromStat(status);
    entry->size = static_cast<unsigned long long>(status.st_size);
  }
  return queue(entry);
}

int sfv::close() {
  if (_file == nullptr) return error::file_not_open;
  if (_mode != 1) return writeRecord();
  return finishCreate(sfvFormat.passes, sfvFormat.line);
}

namespace {

// A pipe, FIFO or device: read once from its start, never written. Opened
// for writing too, a FIFO would never see the end of its data.
bool isStream(const struct stat& status) {
  return S_ISFIFO(status.st_mode) || S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode);
}

}  // namespace

int sfv::open(const wchar_t* path) {
  // Before anything is read: every change from now on carries a later time.
  _runStart = ticksNow();
  restart();
  resetRecord();
  _mode = 0;
  _recordFrozen = 0;
  if (path == nullptr) return error::invalid_arguments;
  char name[PATH_MAX];
  struct stat status;
  bool stream = wideToBytes(name, path, sizeof name) >= 0 && stat(name, &status) == 0 && isStream(status);
  _file = stream ? nullptr : _wfopen(path, L"r+");
  bool opened = _file != nullptr && fstat(fileno(_file), &status) == 0;
  if (opened && isStream(status)) {
    fclose(_file);  // swapped for one meanwhile
    _file = nullptr;
    stream = true;
    opened = false;
  }
  if (_file == nullptr && (stream || errno == EACCES || errno == EROFS || errno == EPERM)) {
    // Verifying needs no write access; only the record then stays as it is.
    _file = _wfopen(path, L"r");
    _recordFrozen = _file != nullptr;
    opened = _file != nullptr && fstat(fileno(_file), &status) == 0;
  }
  if (_file == nullptr) return error::translate_errno();
  if (_sizes == nullptr) _sizes = new (std::nothrow) size_comments;
  if (_sizes != nullptr) _sizes->begin(fileno(_file));
  if (stream) {
    _recordIgnored = 1;
    return error::ok;
  }
  // Without a time line in the record, files older than the checksum file
  // itself count as unchanged.
  _recordTime = opened ? ticksFromStat(status) : 0;
  if (opened) watchOpened(name, status);
  readRecord();
  fseek(_file, 0, SEEK_SET);
  clearerr(_file);
  _lineNumber = 0;
  return error::ok;
}

// Entry lines are read as sfv_line.h describes; comment lines (";") and
// empty lines are passed over. A line that reads as no entry is an Invalid
// line, and the next call goes on after it. The size is the one the list's
// size-and-time comments give the entry, or all ones.
int sfv::getNextFile(wchar_t* name, int length, unsigned long long* size, void* hash) {
  if (size != nullptr) *size = ~0ULL;
  if (name == nullptr || hash == nullptr || length < 1) return error::invalid_arguments;
  long read = readEntryLine();
  if (read <= 0) return static_cast<int>(read);
  sfv_entry entry;
  if (!readSfvEntry(_line, static_cast<size_t>(read), &entry)) return error::invalid_line;
  if (size != nullptr && _sizes != nullptr) *size = _sizes->sizeOf(_line, entry.written);
  char* text = _line + entry.nameStart;
  text[entry.nameLength] = '\0';
  long written = bytesToWide(name, text, static_cast<size_t>(length));
  if (written < 0) return error::invalid_line;
  _nameLength = static_cast<size_t>(written);
  memcpy(hash, &entry.crc, sizeof entry.crc);
  return read > INT_MAX ? INT_MAX : static_cast<int>(read);
}
