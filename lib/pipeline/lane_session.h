#pragma once

#include <cstddef>

#include "hash/algorithm.h"
#include "pipeline/hash_job.h"
#include "pipeline/job_source.h"

// Jobs of one algorithm hashed side by side, one SIMD lane each: a thread
// takes as many queued jobs as the lanes hold, takes the next span of each
// (cached data where it lies, else a piece read into the lane's buffer),
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
    // Cached data in place, instead of the buffer: its whole blocks, of
    // them hashed.
    file_span mapped;
    size_t mappedEnd = 0, mappedUsed = 0;
    unsigned long long whole = 0;    // bytes through the lane kernel
    bool ended = false;              // the file has no more bytes
    bool single = false;             // on in its single-stream state
    bool waiting = false;            // its data must come from a disk that spins

    const unsigned char* data() const { return mapped.mapped ? mapped.data + mappedUsed : buffer + used; }
    size_t ready() const { return mapped.mapped ? mappedEnd - mappedUsed : filled - used; }
    void consume(size_t count) { (mapped.mapped ? mappedUsed : used) += count; }
  };

  int takeJobs();
  void readPieces();
  bool fill(lane& l, bool mayWait);
  void advance();
  void runKernel(const unsigned char** data, size_t* blocks);
  void endFinished();
  void close(lane& l, int failure);
  static void unmap(lane& l);

  const zorvik::algorithm& _algorithm;
  const zorvik::lane_kernel& _kernel;
  int _id;
  job_source& _source;
  int _width;
  lane _lanes[zorvik::maxLanes];
  void* _states;
  void* _saved;  // the states before a kernel call over mapped data
  unsigned char* _memory;
};
