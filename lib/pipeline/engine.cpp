// The hashing engine: a ring of pending jobs, taken by worker threads in
// order and handed back to the caller in order. Workers claim the next job
// themselves, without a round trip through the caller; the caller sleeps
// only on the oldest job, so one wake-up brings it every result finished
// meanwhile. A big CRC-32 file is cut into pieces that idle workers help
// with, their CRC-32s joined at the end.
#include <zorvik/engine.h>

#include <pthread.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

#include <zorvik/error.h>
#include <zorvik/text.h>

#include "hash/crc_impl.h"
#include "pipeline/cpu_budget.h"
#include "pipeline/engine_state.h"
#include "pipeline/fault_guard.h"
#include "pipeline/lane_session.h"
#include "pipeline/wait_policy.h"

using namespace engine_detail;

void (*g_engineBeforeRead)(unsigned long long sequence) = nullptr;

int engine::defaultWorkers() {
  int cpus = usableCpus();
  return cpus < defaultCap ? cpus : defaultCap;
}

engine::engine(int workers) : _state(new (std::nothrow) state) {
  if (_state == nullptr) return;
  if (workers <= 0) workers = defaultWorkers();
  _state->workers = workers < mostWorkers ? workers : mostWorkers;
  _state->jobs = new (std::nothrow) engine_job[windowJobs];
}

engine::~engine() {
  if (_state == nullptr) return;
  state& s = *_state;
  pthread_mutex_lock(&s.spawning);  // no thread starts after this
  store(s.stop, 1);
  pthread_mutex_unlock(&s.spawning);
  __atomic_fetch_add(&s.work, 1, __ATOMIC_SEQ_CST);
  wait_policy::wake(&s.work, INT_MAX);
  for (int i = 0; i < s.threadCount; ++i) {
    pthread_join(s.threads[i], nullptr);
    free(s.buffers[i]);
  }
  if (s.jobs != nullptr) {
    for (unsigned long long q = s.taken; q < s.submitted; ++q) {
      engine_job& job = s.slot(q);
      job.file.close();
      free(job.pieceCrcs);
      if (job.path != job.inlinePath) free(job.path);
    }
    delete[] s.jobs;
  }
  free(s.callerBuffer);
  delete s.callerLanes;
  delete _state;
}

int engine::workers() const { return _state != nullptr ? _state->workers : 0; }

bool engine::full() const {
  return _state == nullptr || _state->jobs == nullptr ||
         _state->submitted - _state->taken >= windowJobs;
}

int engine::pending() const {
  return _state == nullptr ? 0 : static_cast<int>(_state->submitted - _state->taken);
}

int engine::submit(const wchar_t* path, int algorithm, unsigned flags, void* tag) {
  if (full() || path == nullptr) return error::invalid_arguments;
  state& s = *_state;
  engine_job& job = s.slot(s.submitted);
  job.sequence = s.submitted;
  size_t length = wcslen(path);
  job.path = length < sizeof job.inlinePath ? job.inlinePath : static_cast<char*>(malloc(length + 1));
  if (job.path == nullptr) return error::unknown_error;
  if (wideToBytes(job.path, path, length + 1) < 0) {
    // A character no byte stands for: no file can carry it.
    if (job.path != job.inlinePath) free(job.path);
    job.path = nullptr;
  }
  job.algorithm = algorithm;
  job.flags = flags;
  job.tag = tag;
  job.started = false;
  job.inLanes = false;
  job.pieces = 0;
  job.pieceCrcs = nullptr;
  // Workers looking for a job to help may still read this slot's last job.
  __atomic_store_n(&job.state, static_cast<unsigned>(engine_job::queued), __ATOMIC_RELAXED);
  __atomic_store_n(&job.hashed, 0ULL, __ATOMIC_RELAXED);
  __atomic_store_n(&job.total, 0ULL, __ATOMIC_RELAXED);
  __atomic_store_n(&job.helpers, 0u, __ATOMIC_RELAXED);
  __atomic_store_n(&job.helpable, 0u, __ATOMIC_RELAXED);
  __atomic_store_n(&s.submitted, s.submitted + 1, __ATOMIC_SEQ_CST);
  if (s.workers > 1) {
    // Sleeping workers are woken for a batch of jobs, or when the caller
    // is about to wait: not once a job.
    __atomic_fetch_add(&s.work, 1, __ATOMIC_SEQ_CST);
    if (__atomic_load_n(&s.sleepers, __ATOMIC_SEQ_CST) != 0) {
      if (s.submitted - __atomic_load_n(&s.claimed, __ATOMIC_ACQUIRE) >= wakeBatch) s.nudge();
    } else if (s.threadsNow() < s.workers) {
      s.spawn();
    }
  }
  return error::ok;
}

const engine::result* engine::take(int milliseconds) {
  if (_state == nullptr || _state->jobs == nullptr) return nullptr;
  state& s = *_state;
  if (s.taken == s.submitted) return nullptr;
  engine_job& job = s.slot(s.taken);
  clock_type::time_point deadline = clock_type::now() + std::chrono::milliseconds(milliseconds);
  auto done = [&job] { return load(job.state) == engine_job::done; };

  if (!done() && (s.workers == 1 || s.threadsNow() == 0)) {
    // Hashed right here: by design with one worker, or for want of threads.
    // Jobs are claimed in order: a queued oldest job is the next to claim.
    if (job.state == engine_job::queued && s.claim() == &job && s.lanesFor(job)) {
      if (s.callerLanes == nullptr) s.callerLanes = new (std::nothrow) lane_session(s);
      if (s.callerLanes != nullptr && s.callerLanes->usable()) s.callerLanes->add(job);
    }
    if (job.inLanes) {
      while (!done() && (milliseconds < 0 || clock_type::now() < deadline) && s.callerLanes->step()) {
      }
    } else {
      if (s.callerBuffer == nullptr) s.callerBuffer = newBuffer();
      if (s.callerBuffer == nullptr) {
        if (load(job.state) == engine_job::running) s.finish(job, ENOMEM);
      } else if (load(job.state) == engine_job::running && (job.started || s.begin(job, false))) {
        s.readOn(job, s.callerBuffer, milliseconds < 0 ? nullptr : &deadline);
      }
    }
  }
  if (!done()) s.nudge();
  if (!wait_policy::spinFor(done)) {
    for (;;) {
      __atomic_store_n(&s.waitingFor, job.sequence, __ATOMIC_SEQ_CST);
      unsigned seen = __atomic_load_n(&s.completions, __ATOMIC_SEQ_CST);
      if (done()) break;
      // Workers wake the caller for a batch of results; a head done alone
      // is found within batchWait all the same.
      int left = batchWait;
      if (milliseconds >= 0) {
        auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock_type::now());
        if (remaining.count() <= 0) {
          __atomic_store_n(&s.waitingFor, nobody, __ATOMIC_SEQ_CST);
          return nullptr;
        }
        if (remaining.count() < left) left = static_cast<int>(remaining.count());
      }
      wait_policy::sleepWhile(&s.completions, seen, left);
    }
    __atomic_store_n(&s.waitingFor, nobody, __ATOMIC_SEQ_CST);
  }
  s.current = job.outcome;
  // The code was made on the thread that hashed; mapped again here, it
  // names its reason on the caller's thread too.
  error::from_errno(job.failure);
  s.takenHashed += job.outcome.size;
  s.takenOpened += load(job.total);
  if (job.path != job.inlinePath) free(job.path);
  job.path = nullptr;
  __atomic_store_n(&s.taken, s.taken + 1, __ATOMIC_RELEASE);
  return &s.current;
}

bool engine::ready() const {
  if (_state == nullptr || _state->jobs == nullptr || _state->taken == _state->submitted) return false;
  const state& s = *_state;
  return load(s.jobs[s.taken % windowJobs].state) == engine_job::done;
}

int engine::progress() const {
  if (_state == nullptr || _state->taken == _state->submitted) return 0;
  engine_job& job = _state->slot(_state->taken);
  if (load(job.state) == engine_job::done) return 100;
  unsigned long long size = load(job.total);
  unsigned long long hashed = load(job.hashed);
  if (size == 0) return 0;
  return hashed >= size ? 100 : static_cast<int>(hashed * 100 / size);
}

// Jobs not taken yet are counted from their slots: nothing on the hashing
// path adds to a shared counter for this.
unsigned long long engine::bytesHashed() const {
  if (_state == nullptr || _state->jobs == nullptr) return 0;
  unsigned long long sum = _state->takenHashed;
  for (unsigned long long q = _state->taken; q < _state->submitted; ++q) sum += load(_state->slot(q).hashed);
  return sum;
}

unsigned long long engine::bytesOpened() const {
  if (_state == nullptr || _state->jobs == nullptr) return 0;
  unsigned long long sum = _state->takenOpened;
  for (unsigned long long q = _state->taken; q < _state->submitted; ++q) sum += load(_state->slot(q).total);
  return sum;
}

// Takes the next queued job, if any; with `only`, only a job of that
// algorithm (a free MD5 lane takes no CRC-32 job).
engine_job* engine::state::claim(int only) {
  unsigned long long next = __atomic_load_n(&claimed, __ATOMIC_ACQUIRE);
  for (;;) {
    if (next >= __atomic_load_n(&submitted, __ATOMIC_ACQUIRE)) return nullptr;
    if (only >= 0 && slot(next).algorithm != only) return nullptr;
    if (__atomic_compare_exchange_n(&claimed, &next, next + 1, false, __ATOMIC_ACQ_REL,
                                    __ATOMIC_ACQUIRE))
      break;
  }
  engine_job& job = slot(next);
  store(job.state, static_cast<unsigned>(engine_job::running));
  return &job;
}

// Wakes as many sleeping workers as there are jobs waiting for them.
void engine::state::nudge() {
  unsigned long long waiting = __atomic_load_n(&submitted, __ATOMIC_ACQUIRE) -
                               __atomic_load_n(&claimed, __ATOMIC_ACQUIRE);
  if (waiting > 0 && __atomic_load_n(&sleepers, __ATOMIC_SEQ_CST) != 0)
    wait_policy::wake(&work, waiting < INT_MAX ? static_cast<int>(waiting) : INT_MAX);
}

// Whether `job`, just claimed, is worth hashing side by side with others:
// an MD5 job with more of them queued behind it. One alone goes faster on
// its own, through larger reads.
bool engine::state::lanesFor(const engine_job& job) {
  if (job.algorithm != engine::md5) return false;
  unsigned long long next = __atomic_load_n(&claimed, __ATOMIC_ACQUIRE);
  return next < __atomic_load_n(&submitted, __ATOMIC_ACQUIRE) && slot(next).algorithm == engine::md5;
}

// A worker's whole job: hashed alone, or cut into pieces for others to help.
void engine::state::run(engine_job& job, unsigned char* buffer) {
  if (!begin(job, workers > 1)) return;
  if (job.pieces == 0) {
    readOn(job, buffer, nullptr);
    return;
  }
  hashPieces(job, job.file, buffer);
  leave(job, buffer);
}

// Opens the job's file and starts its hash; false when the job is over
// already (the file could not be opened).
bool engine::state::begin(engine_job& job, bool mayShare) {
  job.started = true;
  job.offset = 0;
  job.crc = 0xFFFFFFFFu;
  MD5Init(&job.md5);
  if (job.path == nullptr) {
    finish(job, EILSEQ);
    return false;
  }
  bool notRegular = false;
  int failure = job.file.open(job.path, (job.flags & engine::regularOnly) != 0, &notRegular);
  if (failure != 0) {
    finish(job, failure, notRegular);
    return false;
  }
  unsigned long long size = job.file.size();
  __atomic_store_n(&job.total, size, __ATOMIC_RELAXED);
  if (mayShare && job.algorithm == engine::crc32 && size >= splitFrom) {
    unsigned pieces = static_cast<unsigned>((size + pieceSize - 1) / pieceSize);
    job.pieceCrcs = static_cast<uint32_t*>(malloc(pieces * sizeof(uint32_t)));
    if (job.pieceCrcs != nullptr) {
      job.pieces = pieces;
      job.nextPiece = 0;
      job.pieceFailure = 0;
      __atomic_store_n(&job.helpers, 1u, __ATOMIC_RELAXED);
      __atomic_store_n(&job.helpable, 1u, __ATOMIC_SEQ_CST);
      __atomic_fetch_add(&helpable, 1, __ATOMIC_SEQ_CST);
      __atomic_fetch_add(&work, 1, __ATOMIC_SEQ_CST);
      if (__atomic_load_n(&sleepers, __ATOMIC_SEQ_CST) != 0)
        wait_policy::wake(&work, INT_MAX);
      else
        while (threadsNow() < workers && threadsNow() < static_cast<int>(pieces) && spawn()) {
        }
    }
  }
  return true;
}

// Hashes the job on from its offset to the end of the file, or until the
// deadline passes (then false: the job goes on at the next call).
bool engine::state::readOn(engine_job& job, unsigned char* buffer,
                           const clock_type::time_point* deadline) {
  for (;;) {
    if (stopping()) {
      finish(job, EINTR);
      return true;
    }
    // Data the page cache holds is hashed where it lies, a piece at a time.
    unsigned long long size = job.file.size();
    if (job.offset + mapFrom <= size) {
      size_t length = static_cast<size_t>(size - job.offset < pieceSize ? size - job.offset : pieceSize);
      if (const unsigned char* mapped = job.file.mapCached(job.offset, length)) {
        int failure = hashMapped(job, mapped, length);
        file_reader::unmap(mapped, length);
        if (failure != 0) {
          finish(job, failure);
          return true;
        }
        if (deadline != nullptr && clock_type::now() >= *deadline) return false;
        continue;
      }
    }
    if (g_engineBeforeRead != nullptr) g_engineBeforeRead(job.sequence);
    long n = job.file.readAt(buffer, bufferSize, job.offset, orderOf(job.sequence, 0));
    if (n <= 0) {
      // An end before the size the file had at open: it shrank meanwhile.
      finish(job, n < 0 ? static_cast<int>(-n) : job.offset < job.file.size() ? EIO : 0);
      return true;
    }
    if (job.algorithm == engine::crc32)
      job.crc = zorvik::crcUpdate(job.crc, buffer, static_cast<size_t>(n));
    else
      MD5Update(&job.md5, buffer, static_cast<unsigned int>(n));
    job.offset += static_cast<unsigned long long>(n);
    __atomic_store_n(&job.hashed, job.offset, __ATOMIC_RELAXED);
    if (job.file.endedWith(static_cast<size_t>(n), bufferSize, job.offset)) {
      finish(job, 0);
      return true;
    }
    if (deadline != nullptr && clock_type::now() >= *deadline) return false;
  }
}

// Takes pieces of a split job until none is left, through `reader`.
void engine::state::hashPieces(engine_job& job, file_reader& reader, unsigned char* buffer) {
  unsigned long long size = reader.size();
  for (;;) {
    if (stopping() || __atomic_load_n(&job.pieceFailure, __ATOMIC_ACQUIRE) != 0) break;
    unsigned piece = __atomic_fetch_add(&job.nextPiece, 1u, __ATOMIC_ACQ_REL);
    if (piece >= job.pieces) break;
    if (piece == job.pieces - 1 && __atomic_exchange_n(&job.helpable, 0u, __ATOMIC_ACQ_REL) != 0)
      __atomic_fetch_sub(&helpable, 1, __ATOMIC_SEQ_CST);
    unsigned long long at = piece * pieceSize;
    unsigned long long end = at + pieceSize < size ? at + pieceSize : size;
    uint32_t reg = 0xFFFFFFFFu;
    int failure = 0;
    if (const unsigned char* mapped = reader.mapCached(at, static_cast<size_t>(end - at))) {
      failure = hashMapped(job, mapped, static_cast<size_t>(end - at), &reg);
      file_reader::unmap(mapped, static_cast<size_t>(end - at));
      at = end;
    }
    while (at < end && failure == 0) {
      size_t room = end - at < bufferSize ? static_cast<size_t>(end - at) : bufferSize;
      if (g_engineBeforeRead != nullptr) g_engineBeforeRead(job.sequence);
      long n = reader.readAt(buffer, room, at, orderOf(job.sequence, piece));
      if (n <= 0) {
        failure = n < 0 ? static_cast<int>(-n) : EIO;
        break;
      }
      reg = zorvik::crcUpdate(reg, buffer, static_cast<size_t>(n));
      at += static_cast<unsigned long long>(n);
      __atomic_fetch_add(&job.hashed, static_cast<unsigned long long>(n), __ATOMIC_RELAXED);
    }
    reader.releaseTurn();
    job.pieceCrcs[piece] = ~reg;
    if (failure != 0) {
      int none = 0;
      __atomic_compare_exchange_n(&job.pieceFailure, &none, failure, false, __ATOMIC_ACQ_REL,
                                  __ATOMIC_ACQUIRE);
    }
  }
}

// Hashes a piece of `job` mapped at `data`, a window at a time for the
// progress; EIO when the file was cut short under the mapping.
// `reg` null: into the job's own hash, its offset moving on. A piece of a
// split job has a register of its own.
int engine::state::hashMapped(engine_job& job, const unsigned char* data, size_t length,
                              uint32_t* reg) {
  for (size_t done = 0; done < length;) {
    size_t window = length - done < mappedWindow ? length - done : mappedWindow;
    unsigned int count = static_cast<unsigned int>(window);
    if (g_engineBeforeRead != nullptr) g_engineBeforeRead(job.sequence);
    bool whole = reg != nullptr ? crcMappedWindow(reg, data + done, count)
                 : job.algorithm == engine::crc32 ? crcMappedWindow(&job.crc, data + done, count)
                                                   : md5MappedWindow(&job.md5, data + done, count);
    if (!whole) return EIO;
    done += window;
    __atomic_fetch_add(&job.hashed, static_cast<unsigned long long>(window), __ATOMIC_RELAXED);
    if (reg == nullptr) job.offset += window;
  }
  return 0;
}

// A thread leaves a split job; the last one out joins the pieces, hashes
// what the file grew by, and ends the job.
void engine::state::leave(engine_job& job, unsigned char* buffer) {
  if (__atomic_fetch_sub(&job.helpers, 1u, __ATOMIC_ACQ_REL) != 1) return;
  if (__atomic_exchange_n(&job.helpable, 0u, __ATOMIC_ACQ_REL) != 0)
    __atomic_fetch_sub(&helpable, 1, __ATOMIC_SEQ_CST);
  int failure = __atomic_load_n(&job.pieceFailure, __ATOMIC_ACQUIRE);
  if (failure == 0 && stopping()) failure = EINTR;
  if (failure != 0) {
    finish(job, failure);
    return;
  }
  unsigned long long size = job.file.size();
  uint32_t whole = job.pieceCrcs[0];
  for (unsigned i = 1; i < job.pieces; ++i) {
    unsigned long long length = i + 1 < job.pieces ? pieceSize : size - i * pieceSize;
    whole = zorvik::crcCombine(whole, job.pieceCrcs[i], length);
  }
  job.crc = ~whole;
  job.offset = size;
  readOn(job, buffer, nullptr);
}

// Joins the oldest split job with pieces left, if there is one.
bool engine::state::help(unsigned char* buffer, file_reader& reader) {
  if (__atomic_load_n(&helpable, __ATOMIC_ACQUIRE) == 0) return false;
  unsigned long long from = __atomic_load_n(&taken, __ATOMIC_ACQUIRE);
  unsigned long long to = __atomic_load_n(&claimed, __ATOMIC_ACQUIRE);
  for (unsigned long long q = from; q < to; ++q) {
    engine_job& job = slot(q);
    if (__atomic_load_n(&job.helpable, __ATOMIC_ACQUIRE) == 0) continue;
    // Inside only while someone still is: the last one out ends the job.
    unsigned inside = __atomic_load_n(&job.helpers, __ATOMIC_ACQUIRE);
    while (inside > 0 && !__atomic_compare_exchange_n(&job.helpers, &inside, inside + 1, false,
                                                      __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE)) {
    }
    if (inside == 0) continue;
    reader.borrow(job.file);
    hashPieces(job, reader, buffer);
    reader.close();
    leave(job, buffer);
    return true;
  }
  return false;
}

// Ends the job with the errno `failure` (0: hashed), and tells a caller
// sleeping on it.
void engine::state::finish(engine_job& job, int failure, bool notRegular) {
  engine::result& out = job.outcome;
  out.tag = job.tag;
  out.notRegular = notRegular;
  out.code = notRegular ? error::file_read_error : error::from_errno(failure);
  job.failure = notRegular ? 0 : failure;
  out.size = job.offset;
  out.modifiedSeconds = job.file.modified().tv_sec;
  out.modifiedNanoseconds = job.file.modified().tv_nsec;
  out.opened = job.file.status();
  memset(out.hash, 0, sizeof out.hash);
  if (job.algorithm == engine::crc32) {
    uint32_t value = ~job.crc;
    memcpy(out.hash, &value, sizeof value);
  } else {
    MD5Final(out.hash, &job.md5);
  }
  job.file.close();
  free(job.pieceCrcs);
  job.pieceCrcs = nullptr;
  __atomic_store_n(&job.state, static_cast<unsigned>(engine_job::done), __ATOMIC_SEQ_CST);
  unsigned long long head = __atomic_load_n(&waitingFor, __ATOMIC_SEQ_CST);
  if (head != nobody && job.sequence >= head && job.sequence < head + wakeBatch && batchDone(head)) {
    __atomic_fetch_add(&completions, 1, __ATOMIC_SEQ_CST);
    wait_policy::wake(&completions, 1);
  }
}

// Whether the caller, waiting for the job `head`, has a batch of results to
// take: wakeBatch of them in a row, or every job claimed so far.
bool engine::state::batchDone(unsigned long long head) {
  unsigned long long end = __atomic_load_n(&claimed, __ATOMIC_ACQUIRE);
  unsigned long long q = head;
  while (q < end && q < head + wakeBatch && load(slot(q).state) == engine_job::done) ++q;
  return q == head + wakeBatch || (q == end && q > head);
}

// Starts one more worker, from the caller or from a worker that has pieces
// to share; false when none could be started.
bool engine::state::spawn() {
  pthread_mutex_lock(&spawning);
  bool started = false;
  if (!stopping() && threadCount < workers) {
    unsigned char* buffer = newBuffer();
    auto* start = buffer != nullptr ? new (std::nothrow) worker_start{this, buffer} : nullptr;
    if (start != nullptr && pthread_create(&threads[threadCount], nullptr, workerMain, start) == 0) {
      buffers[threadCount] = buffer;
      __atomic_store_n(&threadCount, threadCount + 1, __ATOMIC_RELEASE);
      started = true;
    } else {
      delete start;
      free(buffer);
    }
  }
  pthread_mutex_unlock(&spawning);
  return started;
}

void* engine::state::workerMain(void* argument) {
  auto* start = static_cast<worker_start*>(argument);
  state& s = *start->engineState;
  unsigned char* buffer = start->buffer;
  delete start;
  pthread_setname_np(pthread_self(), "hasher");
  file_reader helperReader;  // a split job's file, borrowed
  lane_session* lanes = nullptr;
  for (;;) {
    unsigned seen = __atomic_load_n(&s.work, __ATOMIC_SEQ_CST);
    if (s.stopping()) break;
    if (s.help(buffer, helperReader)) continue;
    if (engine_job* job = s.claim()) {
      if (s.lanesFor(*job) && lanes == nullptr) lanes = new (std::nothrow) lane_session(s);
      if (s.lanesFor(*job) && lanes != nullptr && lanes->usable()) {
        lanes->add(*job);
        while (lanes->step()) {
        }
      } else {
        s.run(*job, buffer);
      }
      continue;
    }
    if (wait_policy::spinFor([&] { return __atomic_load_n(&s.work, __ATOMIC_ACQUIRE) != seen; }))
      continue;
    __atomic_fetch_add(&s.sleepers, 1, __ATOMIC_SEQ_CST);
    if (__atomic_load_n(&s.work, __ATOMIC_SEQ_CST) == seen) wait_policy::sleepWhile(&s.work, seen);
    __atomic_fetch_sub(&s.sleepers, 1, __ATOMIC_SEQ_CST);
  }
  delete lanes;
  return nullptr;
}
