#pragma once

// The engine's own state: the ring of jobs, the worker pool, and the
// caller's means of hashing on its own thread. Internal.
#include <atomic>
#include <chrono>

#include <zorvik/engine.h>

#include "pipeline/hash_job.h"
#include "pipeline/job_ring.h"
#include "pipeline/job_source.h"
#include "pipeline/worker_pool.h"

class lane_session;

// Hidden, although nested in an exported class: none of it is the library's
// interface, and its symbols must not become part of it.
struct __attribute__((visibility("hidden"))) engine::state final : job_source {
  using clock_type = std::chrono::steady_clock;

  explicit state(int workerCount);
  ~state();

  // job_source, for the lane sessions.
  hash_job* nextOf(int id) override;
  void end(hash_job& job, int failure) override { end(job, failure, false); }
  bool stopping() const override { return pool.stopping(); }

  void end(hash_job& job, int failure, bool notRegular);
  bool begin(hash_job& job);
  bool lanesFor(const hash_job& job);
  lane_session* sessionFor(lane_session*& session, const hash_job& job);
  void nudge();
  void hashHere(hash_job& job, const clock_type::time_point* deadline);
  void hashAlone(hash_job& job, unsigned char* buffer, const clock_type::time_point* deadline);
  void runClaimed(hash_job& job, unsigned char* buffer, lane_session*& lanes);
  void shareOut(hash_job& job, unsigned char* buffer);
  bool help(unsigned char* buffer, file_reader& reader);
  void hashPieces(hash_job& job, file_reader& reader, unsigned char* buffer);
  void leave(hash_job& job, unsigned char* buffer);
  static void workerMain(void* self, unsigned char* buffer);

  int workers;
  job_ring ring;
  unsigned char* callerBuffer = nullptr;
  lane_session* callerLanes = nullptr;  // jobs hashed side by side on the caller's thread
  engine::result current{};
  // Last: its threads end before anything they use goes.
  worker_pool pool;
};
