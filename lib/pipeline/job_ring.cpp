#include "pipeline/job_ring.h"

#include <cstdlib>
#include <new>

#include "pipeline/wait_policy.h"

job_ring::~job_ring() {
  delete[] _jobs;
  free(_states);
}

bool job_ring::allocate() {
  size_t largest = zorvik::largestState();
  _stateRoom = (largest + zorvik::maxStateAlign - 1) / zorvik::maxStateAlign * zorvik::maxStateAlign;
  void* states = nullptr;
  if (posix_memalign(&states, zorvik::maxStateAlign, _stateRoom * capacity) != 0) return false;
  _jobs = new (std::nothrow) hash_job[capacity];
  if (_jobs == nullptr) {
    free(states);
    return false;
  }
  _states = static_cast<unsigned char*>(states);
  for (unsigned long long i = 0; i < capacity; ++i) _jobs[i].hashState = _states + i * _stateRoom;
  return true;
}

void job_ring::submitted() {
  hash_job& job = nextFree();
  job.sequence = submittedCount();
  // Threads looking for a split job to help may still read this slot's
  // last job; they find it queued from now on.
  job.moveTo(hash_job::phase::queued);
  job.hashed.store(0, std::memory_order_relaxed);
  job.total.store(0, std::memory_order_relaxed);
  job.pieces.helpers.store(0, std::memory_order_relaxed);
  _submitted.fetch_add(1, std::memory_order_acq_rel);
}

hash_job* job_ring::claim(int only) {
  unsigned long long next = _claimed.load(std::memory_order_acquire);
  do {
    if (next >= submittedCount()) return nullptr;
    if (only >= 0 && slot(next).algorithmId != only) return nullptr;
  } while (!_claimed.compare_exchange_weak(next, next + 1, std::memory_order_acq_rel,
                                           std::memory_order_acquire));
  hash_job& job = slot(next);
  job.moveTo(hash_job::phase::claimed);
  return &job;
}

unsigned long long job_ring::queued() const {
  return submittedCount() - _claimed.load(std::memory_order_acquire);
}

bool job_ring::nextQueuedIs(int id) {
  unsigned long long next = _claimed.load(std::memory_order_acquire);
  return next < submittedCount() && slot(next).algorithmId == id;
}

void job_ring::finish(hash_job& job) {
  // Once done, the slot is the caller's to take and fill anew.
  unsigned long long sequence = job.sequence;
  job.state.store(hash_job::phase::done, std::memory_order_seq_cst);
  unsigned long long head = _waitingFor.load(std::memory_order_seq_cst);
  if (head == nobody) return;
  // The caller is woken once the job it waits for and the last of its
  // batch are both done: whichever of the two ends second wakes it, so no
  // finish has to look at the jobs in between.
  unsigned long long last = batchEnd(head) - 1;
  if (sequence != head && sequence != last) return;
  auto done = [this](unsigned long long q) { return slot(q).state.load(std::memory_order_seq_cst) == hash_job::phase::done; };
  if (done(head) && done(last)) {
    _completions.fetch_add(1, std::memory_order_seq_cst);
    wait_policy::wake(_completions, 1);
  }
}

// Where the batch of results that begins at `head` ends: resultBatch jobs
// on, or sooner at the last job submitted (the caller, waiting, submits
// none meanwhile).
unsigned long long job_ring::batchEnd(unsigned long long head) const {
  unsigned long long end = submittedCount();
  return end - head < resultBatch ? end : head + resultBatch;
}

bool job_ring::waitOldest(const clock_type::time_point* deadline) {
  hash_job& job = oldest();
  auto done = [&job] { return job.state.load(std::memory_order_seq_cst) == hash_job::phase::done; };
  if (wait_policy::spinFor(done)) return true;
  bool inTime = true;
  for (;;) {
    _waitingFor.store(job.sequence, std::memory_order_seq_cst);
    unsigned seen = _completions.load(std::memory_order_seq_cst);
    if (done()) break;
    // Workers wake the caller for a batch of results; a head done before
    // its batch is found within batchWait all the same.
    int left = batchWait;
    if (deadline != nullptr) {
      auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - clock_type::now());
      if (remaining.count() <= 0) {
        inTime = false;
        break;
      }
      if (remaining.count() < left) left = static_cast<int>(remaining.count());
    }
    wait_policy::sleepWhile(_completions, seen, left);
  }
  _waitingFor.store(nobody, std::memory_order_seq_cst);
  return inTime;
}

hash_job* job_ring::joinSplit() {
  if (_splitJobs.load(std::memory_order_acquire) == 0) return nullptr;
  unsigned long long from = _taken.load(std::memory_order_acquire);
  unsigned long long to = _claimed.load(std::memory_order_acquire);
  for (unsigned long long q = from; q < to; ++q) {
    hash_job& job = slot(q);
    if (job.now() != hash_job::phase::split) continue;
    // Inside only while someone still is: the last one out ends the job.
    unsigned inside = job.pieces.helpers.load(std::memory_order_acquire);
    while (inside > 0 && !job.pieces.helpers.compare_exchange_weak(inside, inside + 1, std::memory_order_acq_rel,
                                                                   std::memory_order_acquire)) {
    }
    if (inside > 0) return &job;
  }
  return nullptr;
}

unsigned long long job_ring::sumPending(std::atomic<unsigned long long> hash_job::*field) const {
  unsigned long long sum = 0;
  forEachPending([&](const hash_job& job) { sum += (job.*field).load(std::memory_order_relaxed); });
  return sum;
}
