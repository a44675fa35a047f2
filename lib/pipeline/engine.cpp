// The hashing engine: the ring of jobs (job_ring.h), claimed in order by the
// worker threads (worker_pool.h) and handed back to the caller in order.
// Workers claim the next job themselves, without a round trip through the
// caller; the caller sleeps only on the oldest job, so one wake-up brings it
// every result finished meanwhile. A job is hashed alone (job_hash.h), side
// by side with others of its algorithm (lane_session.h), or, big and of an
// algorithm that joins, in pieces that idle workers help with (pieces.h).
#include <zorvik/engine.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cwchar>
#include <new>

#include <zorvik/error.h>
#include <zorvik/text.h>

#include "pipeline/cpu_budget.h"
#include "pipeline/engine_state.h"
#include "pipeline/job_hash.h"
#include "pipeline/lane_session.h"
#include "pipeline/pieces.h"

static_assert(int{engine::crc32} == zorvik::crc32Id && int{engine::md5} == zorvik::md5Id &&
                  int{engine::sha1} == zorvik::sha1Id && int{engine::sha256} == zorvik::sha256Id &&
                  int{engine::sha512} == zorvik::sha512Id && int{engine::blake2b} == zorvik::blake2bId &&
                  int{engine::xxh64} == zorvik::xxh64Id && int{engine::xxh128} == zorvik::xxh128Id,
              "the exported values are the registry's ids");
static_assert(sizeof engine::result::digest == zorvik::maxDigestSize, "a result holds every digest");

namespace {

// Workers when the caller names none: no more than this, whatever the CPUs.
constexpr int defaultCap = 16;

using phase = hash_job::phase;

}  // namespace

int engine::defaultWorkers() {
  int cpus = usableCpus();
  return cpus < defaultCap ? cpus : defaultCap;
}

int engine::digestSize(int algorithm) {
  const zorvik::algorithm* entry = zorvik::findAlgorithm(algorithm);
  return entry != nullptr ? entry->digestSize : 0;
}

engine::engine(int workers) : _state(nullptr) {
  if (workers <= 0) workers = defaultWorkers();
  if (workers > worker_pool::mostThreads) workers = worker_pool::mostThreads;
  _state = new (std::nothrow) state(workers);
}

engine::~engine() { delete _state; }

int engine::workers() const { return _state != nullptr ? _state->workers : 0; }

bool engine::full() const { return _state == nullptr || _state->ring.full(); }

int engine::pending() const {
  return _state == nullptr || !_state->ring.allocated() ? 0 : static_cast<int>(_state->ring.pending());
}

int engine::submit(const wchar_t* path, int algorithm, unsigned flags, void* tag) {
  if (full() || path == nullptr) return error::invalid_arguments;
  state& s = *_state;
  const zorvik::algorithm* entry = zorvik::findAlgorithm(algorithm);
  if (entry == nullptr || entry->stateSize > s.ring.stateRoom()) return error::invalid_arguments;
  hash_job& job = s.ring.nextFree();
  size_t length = wcslen(path);
  job.path = length < sizeof job.inlinePath ? job.inlinePath : static_cast<char*>(malloc(length + 1));
  if (job.path == nullptr) return error::unknown_error;
  if (wideToBytes(job.path, path, length + 1) < 0) {
    // A character no byte stands for: no file can carry it.
    if (job.path != job.inlinePath) free(job.path);
    job.path = nullptr;
  }
  job.algorithm = entry;
  job.algorithmId = algorithm;
  job.flags = flags;
  job.tag = tag;
  job.offset = 0;
  s.ring.submitted();
  if (s.workers > 1) {
    // Sleeping workers are woken for a batch of jobs, or when the caller is
    // about to wait: not once a job.
    s.pool.announce();
    if (s.pool.anyAsleep()) {
      if (s.ring.queued() >= job_ring::wakeBatch) s.nudge();
    } else if (s.pool.running() < s.workers) {
      s.pool.spawn();
    }
  }
  return error::ok;
}

const engine::result* engine::take(int milliseconds) {
  if (_state == nullptr || !_state->ring.allocated() || _state->ring.pending() == 0) return nullptr;
  state& s = *_state;
  hash_job& job = s.ring.oldest();
  state::clock_type::time_point deadline = state::clock_type::now() + std::chrono::milliseconds(milliseconds);
  const state::clock_type::time_point* limit = milliseconds < 0 ? nullptr : &deadline;
  // Hashed right here: by design with one worker, or for want of threads.
  if (job.now() != phase::done && (s.workers == 1 || s.pool.running() == 0)) s.hashHere(job, limit);
  if (job.now() != phase::done) s.nudge();
  if (!s.ring.waitOldest(limit)) return nullptr;
  s.current = job.outcome;
  // The code was made on the thread that hashed; mapped again here, it
  // names its reason on the caller's thread too.
  error::from_errno(job.failure);
  s.ring.takenHashed += job.outcome.size;
  s.ring.takenOpened += job.total.load(std::memory_order_relaxed);
  if (job.path != job.inlinePath) free(job.path);
  job.path = nullptr;
  s.ring.retire();
  return &s.current;
}

bool engine::ready() const {
  if (_state == nullptr || !_state->ring.allocated() || _state->ring.pending() == 0) return false;
  return _state->ring.oldest().now() == phase::done;
}

int engine::progress() const {
  if (_state == nullptr || !_state->ring.allocated() || _state->ring.pending() == 0) return 0;
  const hash_job& job = _state->ring.oldest();
  if (job.now() == phase::done) return 100;
  unsigned long long size = job.total.load(std::memory_order_relaxed);
  unsigned long long hashed = job.hashed.load(std::memory_order_relaxed);
  if (size == 0) return 0;
  return hashed >= size ? 100 : static_cast<int>(hashed * 100 / size);
}

// Jobs not taken yet are counted from their slots: nothing on the hashing
// path adds to a shared counter for this.
unsigned long long engine::bytesHashed() const {
  if (_state == nullptr || !_state->ring.allocated()) return 0;
  return _state->ring.takenHashed + _state->ring.sumPending(&hash_job::hashed);
}

unsigned long long engine::bytesOpened() const {
  if (_state == nullptr || !_state->ring.allocated()) return 0;
  return _state->ring.takenOpened + _state->ring.sumPending(&hash_job::total);
}
