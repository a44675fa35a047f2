#pragma once

#include <sys/stat.h>

#include <cstdint>
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

  // addFile() for a file whose size and modification time the caller has
  // just seen (when it hashed it), so that they are not looked up again.
  int addSeenFile(const wchar_t* path, const void* hash, unsigned long long size,
                  const struct timespec& modified);
  // The same for a path given as its bytes, as a program finds them on disk.
  int addSeenFile(const char* path, const void* hash, unsigned long long size,
                  const struct timespec& modified);

  // The next non-empty line of the open file, line feeds removed, in pieces
  // of at most `length` - 1 characters. Its length, 0 at end of file, or a
  // negative code.
  int readFileString(wchar_t* buffer, int length);

  // While reading: the number of the line that getNextFile() read last,
  // counted from 1 over every line of the file, empty lines and comments
  // included; 0 before the first. Tells where an invalid line stands.
  unsigned long lineNumber() const;

  // Ticks: 100-nanosecond intervals since 1601-01-01 00:00:00 UTC. The
  // time now is that of the clock file times are stamped with.
  static unsigned long long ticksFromStat(const struct stat& status);
  static unsigned long long ticksNow();
  static long long secondsFromTicks(unsigned long long ticks);

  // A new checksum file is written beside the old one and takes its place
  // only at a successful close(). This removes every such file still being
  // written by this process, leaving the old lists as they were; it is safe
  // to call from a signal handler.
  static void discardTemporaries();
  // The status of the file that create() is writing (a temporary file, or
  // the list itself when it is written in place); false when none is.
  bool writingStatus(struct stat* status) const;

  // Like create(), for adding entries to the existing checksum file `path`:
  // addFile() queues them, and close() writes the file anew (replacing it
  // only when complete, with its mode and group) with the new entries after
  // the existing ones, and for SFV their comments after the existing ones.
  // Everything else stays as it was, the verification record too, which
  // stays the last lines and, when it was bound to the entry lines as they
  // were read, keeps vouching for its entries. File not found when there is
  // no such file: create() it then. Like create(), it locks the list
  // (waiting for another run that holds it) until close() has put the new
  // one in place, and refuses a list the user may not write.
  int update(const wchar_t* path);
  // During an update: whether the file lists an entry named `name`.
  bool listed(const char* name) const;

  // Whether some line of the file at `path` reads as an entry of this
  // format; false for a file that is no regular file, cannot be read or
  // holds NUL bytes near its start (no text at all). Only reads that file;
  // for an object that is neither reading nor writing a list.
  bool holdsEntries(const wchar_t* path);
  // The type of the list at `path`, from its content, for a list whose name
  // tells nothing. The first entry line decides (comments, empty lines and a
  // clear-signed header before it are passed over, nothing after it is
  // read): a BSD or OpenSSL tag names its algorithm; otherwise a GNU-shaped
  // line ("<digits>  <name>" or "<digits> *<name>") tells it by its count of
  // digits: 40 SHA-1, 64 SHA-256, 16 XXH64, 32 MD5, 128 SHA-512; anything
  // else, and a list without entry lines, is SFV. 0 and `*algorithm` (an
  // engine id, or -1 for SFV), `*byLength` true when the count of digits
  // told it; or the code of a list that cannot be read (File not found...).
  static int guessType(const wchar_t* path, int* algorithm, bool* byLength);

  // Whether an entry line of this format carries the name `path` so that it
  // reads back as the same name: an SFV line cannot carry one that begins
  // with ";", say. For an object writing a list or not in use; true for a
  // digest list, whose lines carry any name (escaped where needed), and for
  // a class derived from a format, which may write lines its own way.
  bool canList(const char* path);
  // The code of a lock on the list that the file system refused (the run
  // went on without it), or 0. Set by create(), update() and the record's
  // rewrite at close().
  int lockFailure() const;
  // After a failed close() of a list written in place whose old content
  // could not even be put back: the path of the copy of that content.
  // Null otherwise.
  const char* keptCopy() const;

protected:
  // The next non-empty line of `_file`, however long, into `_line`: see
  // lines.h. Its length, 0 at end of file, or a negative code.
  long readLine();
  // The next line that is not a comment (";"), into `_line`: its length, 0
  // at end of file, or a negative code (Invalid line for one holding a NUL).
  long readEntryLine();
  // The next entry line of a GNU-style list (an MD5 or digest list): lines
  // beginning with "#" (and ";" when `semicolons`) are comments, a
  // clear-signed wrapping is looked through. Its text is in `_line` at
  // `*text`, `*length` bytes, terminated, without a carriage return at its
  // end. Returns the length of the line as read, 0 at end of file, or a
  // negative code (Invalid line for one holding a NUL).
  long readListLine(bool semicolons, char** text, size_t* length);
  // getNextFile() of a GNU-style list whose lines have `form`, past
  // `size`.
  int readDigestEntry(const struct digest_form& form, bool semicolons, wchar_t* name, int length,
                      void* hash);
  // Closes any stream, drops pending entries and any unfinished new file
  // before a new create/open.
  void restart();

  // create() of both formats: opens the new file and writes its header.
  int beginCreate(const wchar_t* path, bool compatibility);
  // create() of a list without header lines: opens the new file.
  int beginList(const wchar_t* path);
  // addFile() of both formats: queues `entry`; null (no memory for it) is
  // remembered as a failure for close(), so the list never looks complete.
  int queue(processed_file* entry);
  // close() after create(): writes the entries, in `passes` passes over the
  // list, each line by `line`; then puts the new file in place. After
  // open(), only closes the file.
  int finishCreate(int passes, int (*line)(FILE* file, const processed_file& entry, int pass));
  // finishCreate() of an update: the file anew, the new lines in place.
  int finishUpdate(int passes, int (*line)(FILE* file, const processed_file& entry, int pass));
  // The new file put in place after `code` 0, or dropped after a failure;
  // the list is unlocked either way.
  int endCreate(int code);
  void forgetUpdate();
  // The lock held on the list being replaced (see list_lock.h); null when
  // there is no memory for it.
  struct list_guard* guard();
  // Locks the list `name` for create() or update(): 0 or a code.
  int lockForWriting(const char* name);
  // Notes the list `name`, opened for reading, as `status` shows it, so
  // that a rewrite of its record can tell whether it was replaced since.
  void watchOpened(const char* name, const struct stat& status);

  FILE* _file;
  processed_file* _head;
  processed_file** _tail;
  int _mode;          // 1 writing (after create), 0 reading (after open)
  char* _line;        // bytes of the last line readLine() read
  size_t _lineRoom;
  int _failure;       // a failure of create/addFile that close() reports
  // What addSeenFile() tells addFile(): the file's size and time in ticks.
  bool _seen;
  unsigned long long _seenSize;
  unsigned long long _seenTime;
  struct replacement* _replacement;  // the new file until it is in place
  // An update: the file as it was, and the names it lists, sorted.
  char* _old;
  size_t _oldLength;
  char** _names;
  size_t _nameCount;
  struct list_guard* _guard;  // the lock on the list; allocated on first use
  unsigned long _lineNumber;  // lines readLine() has read since the start
  unsigned char _wrapping;    // where readListLine() stands (list_text.h)
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

  // isPreviouslyVerified() for entry `entry` (counted from 0 over the
  // entries getNextFile() gave), wherever the cursor stands: for a caller
  // that reads entries ahead of their verdicts, asked right after the
  // getNextFile() that gave the entry. setPreviouslyVerified() still takes
  // the verdicts one by one, in order.
  int isPreviouslyVerifiedAt(unsigned long entry, wchar_t* path);
  // setPreviouslyVerified() for an entry that was hashed, with the status of
  // its file as it was opened, before its first byte was read: the record
  // then vouches only for that very file. setPreviouslyVerified() vouches
  // for the file that isPreviouslyVerified() found at the entry's path.
  int setHashedVerdict(bool verified, const struct stat& opened);

private:
  void resetRecord();
  void voidRecord();
  void readRecord();
  long readRecordAt(const char* expected, size_t length, struct record_scan* scan);
  long readBitmap(const char* prefix);
  long readFingerprints();
  bool growFingerprints(unsigned long entry);
  bool keepFingerprint(unsigned long entry, uint32_t fingerprint);
  int writeFingerprintLines();
  bool trustsLookupDirectory(const wchar_t* path);
  unsigned long cursorEntry() const;  // the current entry, counted from 0
  int writeRecord();
  int newTail(bool needsFeed, const char* kept, size_t keptLength, struct tail_source* fresh);
  long recordPosition();
  int writeRecordLines();

  unsigned char _verified[32768];
  unsigned char _recordIgnored;
  unsigned char _recordDirty;
  int _cursorByte;
  int _cursorMask;
  unsigned long long _recordTime;
  // The record in the file must stay as it is: opened read-only, or no
  // signature could be kept.
  unsigned char _recordFrozen;
  // The start of this run, the time the record written at close() carries.
  unsigned long long _runStart;
  // What the record is bound to: the digest of the entry lines and the
  // directory the entries were looked up in. The list's own digest is taken
  // when it is opened; the directory at the first isPreviouslyVerified().
  unsigned char _entriesDigest[16];
  unsigned char _boundDigest[16];
  unsigned long long _boundDevice;
  unsigned long long _boundInode;
  unsigned char _bound;            // the record carries that binding
  unsigned char _directoryKnown;
  unsigned long long _directoryDevice;
  unsigned long long _directoryInode;
  size_t _nameLength;              // of the name getNextFile() gave last
  // The identity of each entry's file (fingerprint.h): as the record read
  // holds them, then as this run found them; grown as entries are read.
  uint32_t* _fingerprints;
  unsigned long _fingerprintCount;
  unsigned long _fingerprintRoom;
  unsigned long _fingerprintsRecorded;  // how many the record read holds
  unsigned char _fingerprinted;         // the record read holds them
  class size_comments* _sizes;          // what getNextFile() reports as sizes
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

};

// GNU-style lists of one digest: "<digits>  <name>" per line, as sha1sum,
// sha256sum, sha512sum, b2sum and xxhsum write and check them, with no
// header. Reads those lines (a blank or an asterisk before the name), the
// tools' escaped lines, BSD-tagged lines ("SHA256 (<name>) = <digits>") and
// OpenSSL's ("SHA2-256(<name>)= <digits>"), "#" comments and clear-signed
// lists. Digests cross as bytes in the order the lines print them, as many
// as the algorithm's (at most 64); no verification record is kept.
class ZORVIK_API digestlist : public container {
public:
  // `algorithm` is an engine id: SHA-1, SHA-256, SHA-512, BLAKE2b, XXH64,
  // XXH128 or MD5. With any other, every operation fails with Invalid
  // arguments.
  explicit digestlist(int algorithm);
  virtual ~digestlist();

  int algorithm() const;

  int open(const wchar_t* path) override;
  int close() override;
  int getNextFile(wchar_t* name, int length, unsigned long long* size, void* hash) override;
  int isPreviouslyVerified(wchar_t* path) override;
  int setPreviouslyVerified(bool verified) override;
  int create(const wchar_t* path) override;
  int addFile(const wchar_t* path, const void* hash) override;

private:
  const struct digest_form* _form;  // null for an algorithm without lists
  int _algorithm;
};
