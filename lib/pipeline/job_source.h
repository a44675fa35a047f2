#pragma once

#include "pipeline/hash_job.h"

// Where a lane session takes its jobs from and hands them back: all it may
// ask of the engine.
class job_source {
public:
  // The next queued job when it is of algorithm `id`, claimed and begun;
  // null when the next is of another algorithm or none is queued.
  virtual hash_job* nextOf(int id) = 0;
  // Ends `job` with the errno `failure` (0: hashed).
  virtual void end(hash_job& job, int failure) = 0;
  virtual bool stopping() const = 0;

protected:
  ~job_source() = default;
};
