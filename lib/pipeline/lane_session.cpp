#include "pipeline/lane_session.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "pipeline/fault_guard.h"

namespace {

// What a lane reads at a time, and the most a lane advances by in one call:
// the pieces of all lanes together stay in the cache until they are hashed,
// and lanes advance over cached data in step.
constexpr size_t laneRead = 64 * 1024;

}  // namespace

lane_session::lane_session(const zorvik::algorithm& a, int id, job_source& source)
    : _algorithm(a), _kernel(*a.lanes), _id(id), _source(source), _width(_kernel.width),
      _states(nullptr), _saved(nullptr), _memory(nullptr) {
  size_t stride = laneRead + _kernel.block;
  void* states = nullptr;
  if (posix_memalign(&states, zorvik::maxStateAlign, 2 * _kernel.statesSize) != 0) return;
  _states = states;
  _saved = static_cast<unsigned char*>(states) + _kernel.statesSize;
  void* memory = nullptr;
  if (posix_memalign(&memory, 4096, static_cast<size_t>(_width) * stride) != 0) return;
  _memory = static_cast<unsigned char*>(memory);
  for (int i = 0; i < _width; ++i) _lanes[i].buffer = _memory + static_cast<size_t>(i) * stride;
}

lane_session::~lane_session() {
  for (int i = 0; i < _width; ++i) unmap(_lanes[i]);
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

// A lane with less than a block left takes its next span; on a disk that
// spins, only what the page cache holds, unless every lane waits for it.
void lane_session::readPieces() {
  bool allWaiting = true;
  lane* earliest = nullptr;
  for (int i = 0; i < _width; ++i) {
    lane& l = _lanes[i];
    if (l.job == nullptr) continue;
    if (!l.ended && l.ready() < _kernel.block && !fill(l, false)) continue;
    if (!l.waiting) {
      allWaiting = false;
    } else if (earliest == nullptr || l.job->sequence < earliest->job->sequence) {
      earliest = &l;
    }
  }
  if (allWaiting && earliest != nullptr) fill(*earliest, true);
}

// Takes the lane's next span after what is left of its last one; false
// when the read failed and the job is over. Cached data is taken in place
// while no partial block waits in the buffer; only its whole blocks are
// hashed there, and the bytes after them are read again with the rest.
bool lane_session::fill(lane& l, bool mayWait) {
  hash_job& job = *l.job;
  unmap(l);
  size_t left = l.filled - l.used;
  memmove(l.buffer, l.buffer + l.used, left);
  l.filled = left;
  l.used = 0;
  file_span span = job.file.next({job.offset, span_request::wholeFile, l.buffer + l.filled, laneRead,
                                  0, left == 0, mayWait});
  l.waiting = span.waits;
  if (span.failure != 0) {
    close(l, span.failure);
    return false;
  }
  if (span.mapped) {
    l.mapped = span;
    l.mappedEnd = span.length / _kernel.block * _kernel.block;
    job.offset += l.mappedEnd;
    return true;
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
  for (int i = 0; i < _width; ++i) {
    lane& l = _lanes[i];
    if (l.job == nullptr || l.waiting) continue;
    // Mapped data is taken as much at a time as a lane reads.
    size_t count = l.mapped.mapped && l.ready() > laneRead ? laneRead : l.ready();
    if (l.single) {
      int failure = 0;
      if (l.mapped.mapped)
        failure = file_reader::feed(l.mapped, l.mappedUsed, count, _algorithm, l.job->hashState);
      else
        _algorithm.update(l.job->hashState, l.data(), count);
      if (failure != 0) {
        close(l, failure);
        continue;
      }
      l.consume(count);
      l.job->hashed.store(l.job->offset - l.ready(), std::memory_order_relaxed);
      continue;
    }
    blocks[i] = count / _kernel.block;
    data[i] = l.data();
  }
  runKernel(data, blocks);
  for (int i = 0; i < _width; ++i) {
    lane& l = _lanes[i];
    if (l.job == nullptr || l.single || blocks[i] == 0) continue;
    l.consume(blocks[i] * _kernel.block);
    l.whole += blocks[i] * _kernel.block;
    l.job->hashed.store(l.whole, std::memory_order_relaxed);
  }
}

namespace {

struct kernel_call {
  const zorvik::lane_kernel* kernel;
  void* states;
  const unsigned char** data;
  const size_t* blocks;
  int lanes;
};

void callKernel(void* context) {
  auto* call = static_cast<kernel_call*>(context);
  call->kernel->advance(call->states, call->data, call->blocks, call->lanes);
}

}  // namespace

// Advances the lanes by `blocks`. Over mapped data, a file cut short under
// its mapping raises a bus error mid-call: the states go back to where they
// were, that lane's job ends, and the others advance again.
void lane_session::runKernel(const unsigned char** data, size_t* blocks) {
  for (;;) {
    const unsigned char* low = nullptr;
    const unsigned char* high = nullptr;
    bool any = false;
    for (int i = 0; i < _width; ++i) {
      if (blocks[i] == 0) continue;
      any = true;
      if (!_lanes[i].mapped.mapped) continue;
      const unsigned char* end = data[i] + blocks[i] * _kernel.block;
      if (low == nullptr || data[i] < low) low = data[i];
      if (high == nullptr || end > high) high = end;
    }
    if (!any) return;
    if (low == nullptr) {
      _kernel.advance(_states, data, blocks, _width);
      return;
    }
    memcpy(_saved, _states, _kernel.statesSize);
    kernel_call call = {&_kernel, _states, data, blocks, _width};
    const unsigned char* at = nullptr;
    if (guardedRun(low, high, callKernel, &call, &at)) return;
    memcpy(_states, _saved, _kernel.statesSize);
    // The lane whose mapping it struck; every mapped one, should none match.
    bool matched = false;
    for (int pass = 0; pass < 2 && !matched; ++pass) {
      for (int i = 0; i < _width; ++i) {
        lane& l = _lanes[i];
        if (blocks[i] == 0 || !l.mapped.mapped) continue;
        if (pass == 0 && (at < l.mapped.data || at >= l.mapped.data + l.mapped.length)) continue;
        blocks[i] = 0;
        close(l, EIO);
        matched = true;
      }
    }
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
  unmap(l);
  hash_job* job = l.job;
  l.job = nullptr;
  _source.end(*job, failure);
}

void lane_session::unmap(lane& l) {
  file_reader::release(l.mapped);
  l.mapped = file_span{};
  l.mappedEnd = l.mappedUsed = 0;
}
