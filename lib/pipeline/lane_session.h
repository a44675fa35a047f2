#pragma once

#include <cstddef>

#include "hash/md5_lanes.h"
#include "pipeline/engine_state.h"

// MD5 jobs hashed side by side, one SIMD lane each: a thread takes as many
// queued MD5 jobs as the lanes hold, reads a piece of each, advances every
// lane over the blocks it has, and fills the lane of a file that ended with
// the next queued job. Each file ends with the single-stream padding, and a
// file left alone in its lanes goes on with the single-stream transform.
class lane_session {
public:
  explicit lane_session(engine::state& owner);
  ~lane_session();
  lane_session(const lane_session&) = delete;
  lane_session& operator=(const lane_session&) = delete;

  // False when there was no memory for the lanes: hash one job at a time.
  bool usable() const { return _memory != nullptr; }
  // Takes `job` (claimed, not begun) into a lane.
  void add(engine_job& job);
  // One round over the lanes, taking queued MD5 jobs into free ones; false
  // when no lane holds a job any more.
  bool step();

private:
  struct lane {
    engine_job* job = nullptr;
    unsigned char* buffer = nullptr;
    size_t filled = 0, used = 0;     // bytes in the buffer; of them hashed
    unsigned long long whole = 0;    // bytes through the lane kernel
    bool ended = false;              // the file has no more bytes
    bool single = false;             // on with the single-stream transform
    bool waiting = false;            // its data must come from a disk that spins
  };

  bool fill(lane& l, bool mayWait);
  void close(lane& l, int failure);

  engine::state& _owner;
  const zorvik::md5LaneVariant& _kernel;
  int _width;
  lane _lanes[zorvik::md5MaxLanes];
  zorvik::md5_lanes _states;
  unsigned char* _memory;
};
