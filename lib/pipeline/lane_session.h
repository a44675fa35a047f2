#pragma once

#include <cstddef>

#include "hash/algorithm.h"
#include "pipeline/hash_job.h"
#include "pipeline/job_source.h"

// Jobs of one algorithm hashed side by side, one SIMD lane each: a thread
// takes as many queued jobs as the lanes hold, reads a piece of each,
// advances every lane over the blocks it has, and fills the lane of a file
// that ended with the next queued job. Each file ends in its single-stream
// state, and a file left alone in its lanes goes on in it.
class lane_session {
public:
  // For `a`, which has lanes; jobs come from `source`.
  lane_session(const zorvik::algorithm& a, int id, job_source& source);
  ~lane_session();
  lane_session(const lane_session&) = delete;
  lane_session& operator=(const lane_session&) = delete;

  // False when there was no memory for the lanes: hash one job at a time.
  bool usable() const { return _memory != nullptr; }
  int algorithmId() const { return _id; }
  // Whether a lane holds a job.
  bool busy() const;
  // Takes `job` (begun) into a free lane.
  void add(hash_job& job);
  // One round over the lanes, taking queued jobs into free ones; false when
  // no lane holds a job any more.
  bool step();

private:
  struct lane {
    hash_job* job = nullptr;
    unsigned char* buffer = nullptr;
    size_t filled = 0, used = 0;     // bytes in the buffer; of them hashed
    unsigned long long whole = 0;    // bytes through the lane kernel
    bool ended = false;              // the file has no more bytes
    bool single = false;             // on in its single-stream state
    bool waiting = false;            // its data must come from a disk that spins
  };

  int takeJobs();
  void readPieces();
  bool fill(lane& l, bool mayWait);
  void advance();
  void endFinished();
  void close(lane& l, int failure);

  const zorvik::algorithm& _algorithm;
  const zorvik::lane_kernel& _kernel;
  int _id;
  job_source& _source;
  int _width;
  lane _lanes[zorvik::maxLanes];
  void* _states;
  unsigned char* _memory;
};
