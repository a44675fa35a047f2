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
  // fixed once, so interruptions do not stretch it.
  bool timedWait(int milliseconds) {
    struct timeval now;
    gettimeofday(&now, nullptr);
    long seconds = now.tv_sec;
    long micro = now.tv_usec + static_cast<long>(milliseconds) * 1000;
    while (micro > 999999) {
      micro -= 1000000;
      ++seconds;
    }
    struct timespec deadline;
    deadline.tv_sec = seconds;
    deadline.tv_nsec = micro * 1000;
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

// Base of the worker threads. The POSIX thread is created by the
// constructor but runs run() only after start(), so the most-derived run()
// never starts before its object is complete.
class ZORVIK_API thread {
public:
  enum { created = 0, running = 1, finished = 2 };

  explicit thread(const char* name);
  virtual ~thread();
  thread(const thread&) = delete;
  thread& operator=(const thread&) = delete;

  virtual int run();
  virtual void start();
  virtual thread* join();

  static void* threadProc(void* object);

protected:
  pthread_t _handle;
  char* _name;
  int _state;
  event _startEvent;
};

// The read-ahead thread: maps a file in windows of up to 4 MiB (files of at
// most 999,999,999 bytes) or reads it in 8192-byte pieces, into a ring of
// eight slots that the consumer empties in order.
class ZORVIK_API reader : public thread {
public:
  reader();
  virtual ~reader();
  int run() override;

  // Consumer side. Hands over an open stream of `size` (> 0) bytes; the
  // previous job must be over.
  void processFile(FILE* file, unsigned long long size);
  // Gives back the chunk the caller holds (`*data` not null) and delivers
  // the next one. False: the job ended (all data delivered, or an error).
  bool wait(unsigned char** data, unsigned int* length);
  // errno of the job's failure, 0 when there was none.
  int getError() const { return __atomic_load_n(&_errorNumber, __ATOMIC_ACQUIRE); }

  int _stop;
  event _workEvent;

private:
  FILE* _file;
  int _errorNumber;
  int _writeIndex;
  int _readIndex;
  int _freeSlots;
  unsigned long long _remaining;
  bool _useMap;
  unsigned long long _offset;
  unsigned char _buffers[8][8192];
  unsigned char* _maps[8];
  unsigned int _lengths[8];
};

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

  bool wait() {
    _doneEvent.wait();
    return true;
  }

  bool wait(int milliseconds) {
    if (milliseconds != 0) return _doneEvent.timedWait(milliseconds);
    return _doneEvent.tryWait();
  }

private:
  reader _input;
  int _stop;
  event _workEvent;
  const wchar_t* _path;
  int _percent;
  int _openError;
  hasher* _jobHasher;
  event _doneEvent;
};
