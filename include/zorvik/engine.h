#pragma once

#include <sys/stat.h>

#include <zorvik/api.h>

// Hashes many files at once on a pool of worker threads; results are taken
// in the order the jobs were given. The caller's thread submits jobs and
// takes results; nothing else of it is used from other threads.
class ZORVIK_API engine {
public:
  // blake2b is BLAKE2b-512; xxh128 is XXH3's 128-bit hash.
  enum algorithm { crc32 = 0, md5 = 1, sha1 = 2, sha256 = 3, sha512 = 4, blake2b = 5, xxh64 = 6, xxh128 = 7 };

  // Job flags.
  enum {
    // Look at the file before opening it and refuse anything but a regular
    // file: opening a FIFO would wait for a writer, a device read forever.
    regularOnly = 1,
  };

  // A job's outcome.
  struct result {
    void* tag;               // as given to submit()
    int code;                // 0, or the error code of the failure
    bool notRegular;         // refused under regularOnly (code File read error)
    // CRC-32 (4 bytes, as crc::hash() lays them out), MD5, XXH64 or XXH128
    // (as `digest`); all zero for a digest of more than 16 bytes, which
    // only `digest` holds: a cut digest must never pass for one.
    unsigned char hash[16];
    unsigned long long size; // bytes hashed
    long long modifiedSeconds;   // the modification time when it was opened
    long modifiedNanoseconds;
    // The file as it was opened, before its first byte was read (all zero
    // when it could not be opened): which file these bytes came from.
    struct stat opened;
    // The whole digest, digestSize bytes, for every algorithm: in the order
    // a list line prints them (XXH64 and XXH128 big-endian, as xxhsum
    // prints them; CRC-32 as `hash`). Of no use when `code` is not 0.
    unsigned char digest[64];
    int digestSize;
  };

  // `workers` threads hash (1 to 256); 0 takes as many as the CPUs this
  // process may use, at most 16. With one worker, jobs are hashed on the
  // caller's thread, within take(). Workers of a caller under the default
  // scheduling policy wait for jobs under SCHED_BATCH; others keep the caller's.
  explicit engine(int workers = 0);
  // Jobs not yet taken are dropped; one being hashed ends at its next read.
  ~engine();
  engine(const engine&) = delete;
  engine& operator=(const engine&) = delete;

  static int defaultWorkers();
  // The bytes of `algorithm`'s digest; 0 when there is no such algorithm.
  static int digestSize(int algorithm);
  int workers() const;

  // Whether a job may be submitted now: the jobs not yet taken are bounded
  // in number (and so in memory). When full, take() the oldest first.
  bool full() const;
  // Queues a job for the file at `path` (copied). Returns 0, Invalid
  // arguments for a job while full, or Unknown error without memory.
  int submit(const wchar_t* path, int algorithm, unsigned flags, void* tag);
  // Jobs submitted and not yet taken.
  int pending() const;

  // The oldest job not taken yet, once complete: waits for it at most
  // `milliseconds` (negative: without limit). Null when none is pending or
  // when the time passed first. The result stays valid until the next call.
  const result* take(int milliseconds = -1);
  // Whether the oldest job is complete. With one worker, jobs are hashed
  // only within take(): queue many before taking, so that they are hashed
  // side by side where they can be.
  bool ready() const;
  // Progress of the oldest pending job in percent (0 to 100).
  int progress() const;
  // Bytes hashed so far by every job submitted, on every thread; and the
  // sizes at open of every file opened so far. Read at any time by the
  // caller, for an overall progress.
  unsigned long long bytesHashed() const;
  unsigned long long bytesOpened() const;

  struct state;  // the library's own

private:
  state* _state;
};
