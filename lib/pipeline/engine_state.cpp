// The engine's threads at work: what the caller and each worker do with a
// job they hold. The ring, the pool, the hashing and the lanes are each in
// a file of their own; this is where they meet.
#include "pipeline/engine_state.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <new>

#include "pipeline/job_hash.h"
#include "pipeline/lane_session.h"
#include "pipeline/pieces.h"

using phase = hash_job::phase;

engine::state::state(int workerCount) : workers(workerCount), pool(workerMain, this, workerCount) {
  ring.allocate();
}

engine::state::~state() {
  pool.stop();
  // Jobs not taken are dropped: none is waited for, none leaks.
  ring.forEachPending([](hash_job& job) {
    if (job.now() != phase::done) {
      if (job.pieces.states != nullptr) pieces::discard(job);
      job_hash::abandon(job);
    }
    if (job.path != job.inlinePath) free(job.path);
    job.path = nullptr;
  });
  free(callerBuffer);
  delete callerLanes;
}

hash_job* engine::state::nextOf(int id) {
  while (hash_job* job = ring.claim(id))
    if (begin(*job)) return job;
  return nullptr;
}

// Concludes `job` with the errno `failure` (0: hashed) and publishes it.
void engine::state::end(hash_job& job, int failure, bool notRegular) {
  if (job.pieces.states != nullptr) pieces::discard(job);
  job_hash::conclude(job, failure, notRegular);
  ring.finish(job);
}

// Begins the claimed `job`; false when it ended right away.
bool engine::state::begin(hash_job& job) {
  bool notRegular = false;
  int failure = job_hash::begin(job, &notRegular);
  if (failure != 0) end(job, failure, notRegular);
  return failure == 0;
}

// Whether `job`, just claimed, is worth hashing side by side with others:
// its algorithm has lanes and another job of it is queued behind it. One
// alone goes faster on its own, through larger reads.
bool engine::state::lanesFor(const hash_job& job) {
  return job.algorithm->lanes != nullptr && ring.nextQueuedIs(job.algorithmId);
}

// `session`, made for the algorithm of `job` if need be; null when no
// usable one can be had.
lane_session* engine::state::sessionFor(lane_session*& session, const hash_job& job) {
  if (session != nullptr && session->algorithmId() != job.algorithmId) {
    if (session->busy()) return nullptr;
    delete session;
    session = nullptr;
  }
  if (session == nullptr) session = new (std::nothrow) lane_session(*job.algorithm, job.algorithmId, *this);
  return session != nullptr && session->usable() ? session : nullptr;
}

// Wakes as many sleeping workers as there are jobs waiting for them.
void engine::state::nudge() {
  unsigned long long waiting = ring.queued();
  if (waiting > 0 && pool.anyAsleep()) pool.wake(waiting);
}

// The caller hashes the oldest job itself, until it is done or `deadline`
// (null: none) passes. Jobs are claimed in order: a queued oldest job is
// the next to claim.
void engine::state::hashHere(hash_job& job, const clock_type::time_point* deadline) {
  if (job.now() == phase::queued && ring.claim() == &job && lanesFor(job) &&
      sessionFor(callerLanes, job) != nullptr && begin(job))
    callerLanes->add(job);
  if (job.now() == phase::inLanes) {
    while (job.now() != phase::done && (deadline == nullptr || clock_type::now() < *deadline) &&
           callerLanes->step()) {
    }
    return;
  }
  if (job.now() != phase::claimed && job.now() != phase::hashing) return;
  if (callerBuffer == nullptr) callerBuffer = newReadBuffer();
  if (callerBuffer == nullptr) {
    end(job, ENOMEM);
  } else if (job.now() == phase::hashing || begin(job)) {
    hashAlone(job, callerBuffer, deadline);
  }
}

// Hashes `job` on as one stream, and ends it unless `deadline` came first.
void engine::state::hashAlone(hash_job& job, unsigned char* buffer, const clock_type::time_point* deadline) {
  int failure = job_hash::hashOn(job, buffer, readBufferSize, pool.stopFlag(), deadline);
  if (failure != job_hash::unfinished) end(job, failure);
}

// A worker's whole job: side by side with others, alone, or cut into
// pieces for others to help with.
void engine::state::runClaimed(hash_job& job, unsigned char* buffer, lane_session*& lanes) {
  if (lanesFor(job) && sessionFor(lanes, job) != nullptr) {
    if (!begin(job)) return;
    lanes->add(job);
    while (lanes->step()) {
    }
    return;
  }
  if (!begin(job)) return;
  if (workers > 1 && pieces::split(job, ring.stateRoom())) {
    shareOut(job, buffer);
  } else {
    hashAlone(job, buffer, nullptr);
  }
}

// Offers the pieces of the split `job` to every worker, sleeping or yet to
// start, and takes its own share.
void engine::state::shareOut(hash_job& job, unsigned char* buffer) {
  ring.splitOpened();
  pool.announce();
  if (pool.anyAsleep()) {
    pool.wake(INT_MAX);
  } else {
    while (pool.running() < workers && pool.running() < static_cast<int>(job.pieces.count) && pool.spawn()) {
    }
  }
  hashPieces(job, job.file, buffer);
  leave(job, buffer);
}

// Takes pieces of a split job until none is left, through `reader`.
void engine::state::hashPieces(hash_job& job, file_reader& reader, unsigned char* buffer) {
  if (pieces::hashSome(job, reader, buffer, readBufferSize, pool.stopFlag())) ring.splitClosed();
}

// A thread leaves a split job; the last one out joins the pieces, hashes
// what the file grew by, and ends the job.
void engine::state::leave(hash_job& job, unsigned char* buffer) {
  if (!pieces::leave(job)) return;
  if (pieces::close(job)) ring.splitClosed();
  int failure = pieces::failure(job);
  if (failure == 0 && stopping()) failure = EINTR;
  if (failure != 0) {
    end(job, failure);
    return;
  }
  pieces::join(job);
  hashAlone(job, buffer, nullptr);
}

// Joins the oldest split job with pieces left, if there is one.
bool engine::state::help(unsigned char* buffer, file_reader& reader) {
  hash_job* job = ring.joinSplit();
  if (job == nullptr) return false;
  reader.borrow(job->file);
  hashPieces(*job, reader, buffer);
  reader.close();
  leave(*job, buffer);
  return true;
}

void engine::state::workerMain(void* self, unsigned char* buffer) {
  state& s = *static_cast<state*>(self);
  file_reader helperReader;  // a split job's file, borrowed
  lane_session* lanes = nullptr;
  for (;;) {
    unsigned seen = s.pool.announced();
    if (s.stopping()) break;
    if (s.help(buffer, helperReader)) continue;
    if (hash_job* job = s.ring.claim()) {
      s.runClaimed(*job, buffer, lanes);
      continue;
    }
    s.pool.idle(seen);
  }
  delete lanes;
}
