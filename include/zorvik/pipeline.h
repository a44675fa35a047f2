#pragma once

#include <pthread.h>
#include <semaphore.h>
#include <sys/time.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

#include <zorvik/api.h>
#include <zorvik/error.h>

class hasher;

// Kept only for the library interface: the program hashes through engine.
// A counting signal on one unnamed semaphore, created with the count 0.
// Every wait retries when a signal interrupts it.
class ZORVIK_API event {
public:
  event() { sem_init(&_sem, 0, 0); }
  virtual ~event();
  event(const event&) = delete;
  event& operator=(const event&) = delete;

  void post() { sem_post(&_sem); }

  void wait() {
    while (sem_wait(&_sem) != 0 && errno == EINTR) {
    }
  }

  bool tryWait() {
    int r;
    while ((r = sem_trywait(&_sem)) != 0 && errno == EINTR) {
    }
    return r == 0;
  }

  // Waits at most `milliseconds` against the wall clock; the deadline is
  // fixed once, so interruptions do not stretch it. A negative time polls.
  bool timedWait(int milliseconds) {
    struct timeval now;
    gettimeofday(&now, nullptr);
    long long micro = now.tv_usec + (milliseconds > 0 ? milliseconds : 0) * 1000LL;
    struct timespec deadline;
    deadline.tv_sec = now.tv_sec + static_cast<time_t>(micro / 1000000);
    deadline.tv_nsec = static_cast<long>(micro % 1000000) * 1000;
    int r;
    while ((r = sem_timedwait(&_sem, &deadline)) != 0 && errno == EINTR) {
    }
    if (r == 0) return true;
    if (errno != ETIMEDOUT) printf("wtf?!: %d\n", errno);
    return false;
  }

private:
  sem_t _sem;
};

// Kept only for the library interface: the program hashes through engine.
// Base of the worker threads. The POSIX thread is created by the
// constructor but runs run() only after start(), so the most-derived run()
// never starts before its object is complete. A derived class must make its
// run() return and join the thread in its own destructor.
class ZORVIK_API thread {
public:
  enum { created = 0, running = 1, finished = 2 };

  explicit thread(const char* name);
  virtual ~thread();
  thread(const thread&) = delete;
  thread& operator=(const thread&) = delete;

  virtual int run();
  // Lets the worker call run(); later calls do nothing.
  virtual void start();
  // Waits for the worker to end. A worker that was never started ends
  // without calling run().
  virtual thread* join();

  static void* threadProc(void* object);

  // False when the POSIX thread could not be created: run() never runs.
  bool isCreated() const { return _handle != 0; }

protected:
  pthread_t _handle;
  char* _name;
  int _state;  // written by the worker only: release stores
  event _startEvent;

private:
  // 0 not yet, 1 started, 2 told to end without running: acq_rel
  // compare-exchange by start() and join(), acquire load by the worker.
  int _launch;
  bool _joined;
};

// Kept only for the library interface: the program hashes through engine.
// The read-ahead thread: takes a file in windows of up to 4 MiB (files of at
// most 999,999,999 bytes) or in 8192-byte pieces, into a ring of eight slots
// that the consumer empties in order. Windows are read into buffers of their
// own, or mapped when no memory for those can be had. The buffers make this
// a large object; it is public only because processor embeds it. Its fields
// shared between the two threads are accessed only atomically, with the
// orders named at each.
class ZORVIK_API reader : public thread {
public:
  reader();
  virtual ~reader();
  int run() override;

  // Consumer side. Hands over an open stream of `size` (> 0) bytes; the
  // previous job must be over (its last wait() returned false).
  void processFile(FILE* file, unsigned long long size);
  // Gives back the chunk the caller holds (`*data` not null) and delivers
  // the next one. False: the job ended (all data delivered, or an error).
  bool wait(unsigned char** data, unsigned int* length);
  // Ends the job early from the consumer's side, whatever chunk it holds:
  // the reader stops, and the job's error becomes `errorNumber` unless the
  // reader had already failed. Called instead of further waits.
  void abandon(int errorNumber);
  // errno of the job's failure, 0 when there was none.
  // (The inline accesses here use compiler builtins, not std::atomic_ref:
  // programs built with any language standard compile them in.)
  int getError() const { return __atomic_load_n(&_errorNumber, __ATOMIC_ACQUIRE); }
  // Consumer side, while the reader is idle: the next job starts clean.
  void clearError() { __atomic_store_n(&_errorNumber, 0, __ATOMIC_RELAXED); }
  // Consumer side, while the reader is idle: the buffer of window `slot`,
  // made on first use; null when windows are mapped instead, whose pages
  // may vanish under a truncation and must be read under a guard.
  unsigned char* windowBuffer(int slot);
  // Whether a job of `size` bytes gets mapped windows (hash them under
  // hashMappedWindow's guard). Makes the window buffers on first use.
  bool mapsWindows(unsigned long long size);
  // Consumer side, while the reader is idle, for what gains nothing from
  // reading ahead: feeds `h` a whole file of at most one window, or what a
  // file holds from `offset` on (what it grew by). False, the failure then
  // recorded as the job's, when it could not be read.
  bool hashWhole(FILE* file, unsigned int size, hasher* h);
  bool hashRest(int fd, unsigned long long offset, hasher* h);

  int _stop;  // release store by the owner, acquire loads by the thread
  event _workEvent;

private:
  void fill();
  int takeWindow(int slot, unsigned word);
  int mapWindow(int slot, unsigned word);
  int readPieces(int room);
  void endJob();
  unsigned waitForRoom(unsigned need);
  unsigned waitForData(unsigned busy);
  template <class Ready>
  unsigned waitOnRing(int* waiting, Ready ready);
  void wake(int* waiting);
  void releaseWindows();

  FILE* _file;
  // Relaxed stores before the ring word that publishes them; acquire loads.
  int _errorNumber;
  int _writeIndex;
  int _readIndex;
  // The one atomic word of the ring, seq_cst. Low byte: free slots (0-8).
  // The bits above carry the end of the job (set by the reader after its
  // last slot) and a cancel request (set by the consumer), so that both are
  // ordered with the slots they follow.
  unsigned _freeSlots;
  // 1 while the reader sleeps on a full ring, or the consumer on an empty
  // one: seq_cst, so that a sleeper and the side that wakes it see each other.
  int _readerWaiting;
  int _consumerWaiting;
  unsigned long long _remaining;
  bool _useMap;
  unsigned long long _offset;
  unsigned char _buffers[8][8192];
  unsigned char* _maps[8];
  unsigned int _lengths[8];
  unsigned char* _windows;  // window buffers, or null
  bool _windowsTried;
};

// Kept only for the library interface: the program hashes through engine.
// The hashing worker: opens each file, feeds it through its reader into the
// job's hasher, keeps the progress and signals completion. Path and hasher
// are borrowed until the job is complete.
class ZORVIK_API processor : public thread {
public:
  processor();
  virtual ~processor();
  int run() override;

  // Hands over one job; the previous one must be complete. Returns Ok, or
  // Unknown error when the worker threads do not exist.
  int processFile(const wchar_t* path, hasher* h);

  int getProgress() const { return __atomic_load_n(&_percent, __ATOMIC_RELAXED); }

  int getResult() const {
    if (_openError != 0) return error::from_errno(_openError);
    return error::from_errno(_input.getError());
  }

  bool wait() { return waitDone(-1); }
  bool wait(int milliseconds) { return waitDone(milliseconds); }

  // The waits above, as the library's wait policy makes them: without
  // limit (negative), polling (0), or for at most `milliseconds`.
  bool waitDone(int milliseconds);

private:
  void runJob();
  bool consume(FILE* file, unsigned long long size);

  reader _input;
  int _stop;  // release store by the destructor, acquire loads by the thread
  event _workEvent;
  const wchar_t* _path;
  int _percent;  // relaxed: read whole, ordered with nothing
  int _openError;
  hasher* _jobHasher;
  event _doneEvent;
};
