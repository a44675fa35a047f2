#pragma once

#include <sys/stat.h>

#include <cstdio>

#include <zorvik/api.h>

// Opens the file named by the wide `path` (byte-transparent) with the C
// library mode `mode`; null with errno set on failure.
ZORVIK_API FILE* _wfopen(const wchar_t* path, const wchar_t* mode);

// A checksum file. Either created (create, addFile per hashed file, close)
// or read back while verifying (open, then per entry getNextFile,
// isPreviouslyVerified and setPreviouslyVerified, then close). Results are
// error codes unless said otherwise. Used by one thread at a time.
class ZORVIK_API container {
public:
  // One entry waiting to be written by close(). Allocated together with its
  // path bytes and released by the container, never by a destructor chain.
  struct processed_file {
    processed_file* next;
    unsigned long long modifiedTime;  // ticks
    unsigned long long size;          // bytes
    char hashText[33];                // the format's notation, terminated
    char* path;                       // the whole path as bytes; null when a
                                      // character has no byte of its own
  };

  container();
  virtual ~container();
  container(const container&) = delete;
  container& operator=(const container&) = delete;

  virtual int open(const wchar_t* path) = 0;
  virtual int close() = 0;
  // > 0: an entry was read; 0: end of the list; < 0: an error code.
  virtual int getNextFile(wchar_t* name, int length, unsigned long long* size, void* hash) = 0;
  // 1: the current entry may pass without hashing; 0: hash it.
  virtual int isPreviouslyVerified(wchar_t* path) = 0;
  virtual int setPreviouslyVerified(bool verified) = 0;
  virtual int create(const wchar_t* path) = 0;
  virtual int addFile(const wchar_t* path, const void* hash) = 0;

  // The next non-empty line of the open file, line feeds removed, in pieces
  // of at most `length` - 1 characters. Its length, 0 at end of file, or a
  // negative code.
  int readFileString(wchar_t* buffer, int length);

  // Ticks: 100-nanosecond intervals since 1601-01-01 00:00:00 UTC.
  static unsigned long long ticksFromStat(const struct stat& status);
  static unsigned long long ticksNow();
  static long long secondsFromTicks(unsigned long long ticks);

protected:
  // The next non-empty line of `_file`, however long, into `_line`: see
  // lines.h. Its length, 0 at end of file, or a negative code.
  long readLine();
  // The next line that is not a comment (";"), into `_line`: its length, 0
  // at end of file, or a negative code (Invalid line for one holding a NUL).
  long readEntryLine();
  // Closes any stream and drops pending entries before a new create/open.
  void restart();

  FILE* _file;
  processed_file* _head;
  char* _line;        // bytes of the last line readLine() read
  size_t _lineRoom;
  int _failure;       // a failure of create/addFile that close() reports
};

// SFV checksum files, with the verification record in comment lines.
class ZORVIK_API sfv : public container {
public:
  sfv();
  virtual ~sfv();

  int open(const wchar_t* path) override;
  int close() override;
  int getNextFile(wchar_t* name, int length, unsigned long long* size, void* hash) override;
  int isPreviouslyVerified(wchar_t* path) override;
  int setPreviouslyVerified(bool verified) override;
  int create(const wchar_t* path) override;
  int addFile(const wchar_t* path, const void* hash) override;

private:
  void resetRecord();
  void voidRecord();
  void readRecord();
  void readBitmap(const char* prefix);
  int writeRecord();

  processed_file** _tail;
  int _mode;
  unsigned char _verified[32768];
  unsigned char _recordIgnored;
  unsigned char _recordDirty;
  int _cursorByte;
  int _cursorMask;
  unsigned long long _recordTime;
  // The record in the file must stay as it is: opened read-only, or no
  // signature could be kept.
  unsigned char _recordFrozen;
};

// MD5 lists: "<32 hex digits> *<name>" per line.
class ZORVIK_API md5 : public container {
public:
  md5();
  virtual ~md5();

  int open(const wchar_t* path) override;
  int close() override;
  int getNextFile(wchar_t* name, int length, unsigned long long* size, void* hash) override;
  int isPreviouslyVerified(wchar_t* path) override;
  int setPreviouslyVerified(bool verified) override;
  int create(const wchar_t* path) override;
  int addFile(const wchar_t* path, const void* hash) override;

private:
  processed_file** _tail;
  int _mode;
};
