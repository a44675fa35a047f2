#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>

#include "pipeline/hash_job.h"

// The ring of jobs: submitted by the caller in order, claimed by any thread
// in order, finished in any order, taken by the caller in order. Sequence
// numbers only grow; a job's slot is its sequence modulo the capacity.
class job_ring {
public:
  // Jobs not yet taken: the bound on what a run holds in flight.
  static constexpr unsigned long long capacity = 1024;
  // Jobs queued that make it worth waking a sleeping worker.
  static constexpr unsigned long long wakeBatch = 8;
  // Results that make it worth waking the caller. Larger: a caller that
  // only compares or stores results would otherwise wake and sleep again
  // every few files, and with as many workers as CPUs each wake-up takes
  // a worker's CPU from it.
  static constexpr unsigned long long resultBatch = 64;
  using clock_type = std::chrono::steady_clock;

  job_ring() = default;
  ~job_ring();
  job_ring(const job_ring&) = delete;
  job_ring& operator=(const job_ring&) = delete;

  // The slots, each with room for a state of every algorithm known now;
  // false without memory.
  bool allocate();
  bool allocated() const { return _jobs != nullptr; }
  size_t stateRoom() const { return _stateRoom; }
  hash_job& slot(unsigned long long sequence) const { return _jobs[sequence % capacity]; }

  // The caller's side: jobs submitted and not taken; the slot the next
  // submitted job fills, published by submitted(); the oldest job not taken,
  // waited for and then retired.
  unsigned long long pending() const { return submittedCount() - _taken.load(std::memory_order_relaxed); }
  bool full() const { return !allocated() || pending() >= capacity; }
  hash_job& nextFree() { return slot(submittedCount()); }
  void submitted();  // numbers the job and queues it
  hash_job& oldest() const { return slot(_taken.load(std::memory_order_relaxed)); }
  // Waits until the oldest job is done, at most until `deadline` (null:
  // without limit); false when the time passed first.
  bool waitOldest(const clock_type::time_point* deadline);
  void retire() { _taken.fetch_add(1, std::memory_order_release); }

  // Any thread. Takes the next queued job (only one of `only`, when given);
  // null when none is queued.
  hash_job* claim(int only = -1);
  // Jobs submitted and not claimed; whether the next of them is of `id`.
  unsigned long long queued() const;
  bool nextQueuedIs(int id);
  // Publishes `job` as done, and wakes the caller when it waits for it.
  void finish(hash_job& job);

  // Split jobs: one more with pieces left to take, or one fewer; and the
  // oldest with pieces left, joined as one more helper (null when none).
  void splitOpened() { _splitJobs.fetch_add(1, std::memory_order_acq_rel); }
  void splitClosed() { _splitJobs.fetch_sub(1, std::memory_order_acq_rel); }
  hash_job* joinSplit();

  // Of the jobs taken so far: bytes hashed, and sizes at open.
  unsigned long long takenHashed = 0;
  unsigned long long takenOpened = 0;
  // Adds `field` of every job not taken yet.
  unsigned long long sumPending(std::atomic<unsigned long long> hash_job::*field) const;
  // Calls `visit` with every job not taken yet.
  template <class Visit>
  void forEachPending(Visit visit) const {
    for (unsigned long long q = _taken.load(std::memory_order_relaxed), end = submittedCount(); q < end; ++q)
      visit(slot(q));
  }

private:
  static constexpr unsigned long long nobody = ~0ULL;
  // How long the caller may sleep past a result it waits for, when no batch
  // follows it.
  static constexpr int batchWait = 10;

  unsigned long long submittedCount() const { return _submitted.load(std::memory_order_acquire); }
  unsigned long long batchEnd(unsigned long long head) const;

  hash_job* _jobs = nullptr;
  unsigned char* _states = nullptr;  // capacity states, _stateRoom bytes apart
  size_t _stateRoom = 0;
  // Written by the caller alone; release stores, acquire loads: a job is
  // complete in its slot before the count shows it.
  std::atomic<unsigned long long> _submitted{0};
  // Moved on by whoever claims, compare-exchange acq_rel; acquire loads.
  std::atomic<unsigned long long> _claimed{0};
  // Written by the caller alone: release stores, acquire loads by the threads
  // that look for split jobs among those not taken.
  std::atomic<unsigned long long> _taken{0};
  // The job the caller waits for, and the futex it sleeps on: seq_cst, so
  // that a job finishing and the caller going to sleep always see each other.
  std::atomic<unsigned long long> _waitingFor{nobody};
  std::atomic<unsigned> _completions{0};
  // Split jobs with pieces left: acq_rel changes, acquire loads.
  std::atomic<unsigned> _splitJobs{0};
};
