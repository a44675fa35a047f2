#include "pipeline/lane_session.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

// What a lane reads at a time: the pieces of all lanes together stay in the
// cache until they are hashed.
constexpr size_t laneRead = 64 * 1024;

}  // namespace

lane_session::lane_session(const zorvik::algorithm& a, int id, job_source& source)
    : _algorithm(a), _kernel(*a.lanes), _id(id), _source(source), _width(_kernel.width),
      _states(nullptr), _memory(nullptr) {
  size_t stride = laneRead + _kernel.block;
  void* states = nullptr;
  if (posix_memalign(&states, zorvik::maxStateAlign, _kernel.statesSize) != 0) return;
  _states = states;
  void* memory = nullptr;
  if (posix_memalign(&memory, 4096, static_cast<size_t>(_width) * stride) != 0) return;
  _memory = static_cast<unsigned char*>(memory);
  for (int i = 0; i < _width; ++i) _lanes[i].buffer = _memory + static_cast<size_t>(i) * stride;
}

lane_session::~lane_session() {
  free(_memory);
  free(_states);
}

bool lane_session::busy() const {
  for (int i = 0; i < _width; ++i)
    if (_lanes[i].job != nullptr) return true;
  return false;
}

void lane_session::add(hash_job& job) {
  for (int i = 0; i < _width; ++i) {
    lane& l = _lanes[i];
    if (l.job != nullptr) continue;
    unsigned char* buffer = l.buffer;
    l = lane{};
    l.buffer = buffer;
    l.job = &job;
    job.moveTo(hash_job::phase::inLanes);
    _kernel.start(_states, i);
    return;
  }
}

bool lane_session::step() {
  int active = takeJobs();
  if (active == 0) return false;
  if (_source.stopping()) {
    for (int i = 0; i < _width; ++i)
      if (_lanes[i].job != nullptr) close(_lanes[i], EINTR);
    return false;
  }
  // Alone, a file goes faster in its single-stream state.
  if (active == 1) {
    for (int i = 0; i < _width; ++i) {
      lane& l = _lanes[i];
      if (l.job == nullptr || l.single) continue;
      _kernel.handOver(_states, i, l.whole, l.job->hashState);
      l.single = true;
    }
  }
  readPieces();
  advance();
  endFinished();
  return true;
}

// Takes queued jobs into free lanes; the lanes holding a job.
int lane_session::takeJobs() {
  int active = 0;
  for (int i = 0; i < _width; ++i) {
    if (_lanes[i].job == nullptr)
      if (hash_job* next = _source.nextOf(_id)) add(*next);
    active += _lanes[i].job != nullptr;
  }
  return active;
}

// A lane with less than a block left reads its next piece; on a disk that
// spins, only what the page cache holds, unless every lane waits for it.
void lane_session::readPieces() {
  bool allWaiting = true;
  lane* earliest = nullptr;
  for (int i = 0; i < _width; ++i) {
    lane& l = _lanes[i];
    if (l.job == nullptr) continue;
    if (!l.ended && l.filled - l.used < _kernel.block && !fill(l, false)) continue;
    if (!l.waiting) {
      allWaiting = false;
    } else if (earliest == nullptr || l.job->sequence < earliest->job->sequence) {
      earliest = &l;
    }
  }
  if (allWaiting && earliest != nullptr) fill(*earliest, true);
}

// Reads the lane's next piece after what is left of its last one; false
// when the read failed and the job is over.
bool lane_session::fill(lane& l, bool mayWait) {
  hash_job& job = *l.job;
  size_t left = l.filled - l.used;
  memmove(l.buffer, l.buffer + l.used, left);
  l.filled = left;
  l.used = 0;
  file_span span = job.file.next({job.offset, span_request::wholeFile, l.buffer + l.filled, laneRead,
                                  0, false, mayWait});
  l.waiting = span.waits;
  if (span.failure != 0) {
    close(l, span.failure);
    return false;
  }
  l.filled += span.length;
  job.offset += span.length;
  l.ended = span.last;
  return true;
}

// Moves every lane on over the data it has: whole blocks through the lane
// kernel, or all of it in a single-stream state.
void lane_session::advance() {
  const unsigned char* data[zorvik::maxLanes] = {};
  size_t blocks[zorvik::maxLanes] = {};
  bool any = false;
  for (int i = 0; i < _width; ++i) {
    lane& l = _lanes[i];
    if (l.job == nullptr || l.waiting) continue;
    if (l.single) {
      _algorithm.update(l.job->hashState, l.buffer + l.used, l.filled - l.used);
      l.used = l.filled;
      l.job->hashed.store(l.job->offset, std::memory_order_relaxed);
      continue;
    }
    blocks[i] = (l.filled - l.used) / _kernel.block;
    data[i] = l.buffer + l.used;
    any = any || blocks[i] > 0;
  }
  if (any) _kernel.advance(_states, data, blocks, _width);
  for (int i = 0; i < _width; ++i) {
    lane& l = _lanes[i];
    if (l.job == nullptr || l.single || blocks[i] == 0) continue;
    l.used += blocks[i] * _kernel.block;
    l.whole += blocks[i] * _kernel.block;
    l.job->hashed.store(l.whole, std::memory_order_relaxed);
  }
}

// Ends the jobs whose files ended: the last partial block goes through the
// single-stream state.
void lane_session::endFinished() {
  for (int i = 0; i < _width; ++i) {
    lane& l = _lanes[i];
    if (l.job == nullptr || !l.ended || (!l.single && l.filled - l.used >= _kernel.block)) continue;
    if (!l.single) {
      _kernel.handOver(_states, i, l.whole, l.job->hashState);
      _algorithm.update(l.job->hashState, l.buffer + l.used, l.filled - l.used);
    }
    close(l, 0);
  }
}

void lane_session::close(lane& l, int failure) {
  hash_job* job = l.job;
  l.job = nullptr;
  _source.end(*job, failure);
}
