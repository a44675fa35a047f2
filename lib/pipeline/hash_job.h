#pragma once

#include <atomic>
#include <cstddef>

#include <zorvik/engine.h>

#include "hash/algorithm.h"
#include "pipeline/file_reader.h"

// One job of the engine, in its slot of the ring of jobs. The submitting
// thread writes what was asked before it publishes the job; from the claim
// on, the one thread that holds the job writes the rest, until its state
// says done; the threads that help with a split job's pieces share `pieces`.
struct hash_job {
  enum class phase : unsigned {
    queued,   // submitted, not claimed yet
    claimed,  // claimed by a thread, not begun
    hashing,  // begun: file open, state live; hashed by the thread holding it
    inLanes,  // hashed side by side with others of its algorithm
    split,    // cut into pieces that any worker may still take
    joining,  // every piece taken; the last thread out joins them
    done,     // `outcome` is final
  };

  // A split job's pieces: hashed apart, each in a state of its own, then
  // joined in order.
  struct piece_set {
    unsigned count = 0;                 // 0: not split
    unsigned char* states = nullptr;    // count states, `stride` bytes apart
    // The next piece to take: relaxed, it only hands out numbers.
    std::atomic<unsigned> next{0};
    // Threads inside the job: acq_rel, so that the last one out sees every
    // piece's state.
    std::atomic<unsigned> helpers{0};
    // errno of the first failed piece: acq_rel compare-exchange, acquire loads.
    std::atomic<int> failure{0};
  };

  // What was asked.
  unsigned long long sequence = 0;
  char inlinePath[256];
  char* path = nullptr;  // inlinePath, or a heap copy of a longer one; null: no such name
  const zorvik::algorithm* algorithm = nullptr;
  int algorithmId = 0;
  unsigned flags = 0;
  void* tag = nullptr;

  // Moved on by whoever holds the job (the caller, to queue it): release
  // stores, acquire loads, so that whoever sees a phase sees what led to it;
  // `done` is stored seq_cst (job_ring::finish), and whoever sees it sees
  // `outcome`.
  std::atomic<phase> state{phase::done};

  // The hashing, resumable: a job hashed on the caller's thread stops to let
  // it show progress.
  file_reader file;
  unsigned long long offset = 0;  // the next byte to read
  // This slot's state, of the ring's stateRoom bytes: started from `hashing`
  // on, until done.
  void* hashState = nullptr;
  // For the progress only: relaxed.
  std::atomic<unsigned long long> hashed{0};  // bytes
  std::atomic<unsigned long long> total{0};   // the size at open
  piece_set pieces;

  engine::result outcome{};
  int failure = 0;  // the errno outcome.code was made from

  phase now() const { return state.load(std::memory_order_acquire); }
  void moveTo(phase p) { state.store(p, std::memory_order_release); }
};
