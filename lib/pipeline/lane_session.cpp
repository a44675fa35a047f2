#include "pipeline/lane_session.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

using namespace engine_detail;

namespace {

// What a lane reads at a time: the pieces of all lanes together stay in the
// cache until they are hashed.
constexpr size_t lanePiece = 64 * 1024;
constexpr size_t block = 64;

}  // namespace

lane_session::lane_session(engine::state& owner)
    : _owner(owner), _kernel(zorvik::md5LanesBest()), _width(_kernel.width), _states{},
      _memory(nullptr) {
  if (_width > zorvik::md5MaxLanes) _width = zorvik::md5MaxLanes;
  void* memory = nullptr;
  if (posix_memalign(&memory, 4096, static_cast<size_t>(_width) * (lanePiece + block)) != 0) return;
  _memory = static_cast<unsigned char*>(memory);
  for (int i = 0; i < _width; ++i) _lanes[i].buffer = _memory + static_cast<size_t>(i) * (lanePiece + block);
}

lane_session::~lane_session() { free(_memory); }

void lane_session::add(engine_job& job) {
  job.inLanes = true;
  if (!_owner.begin(job, false)) return;  // could not be opened: over already
  for (int i = 0; i < _width; ++i) {
    lane& l = _lanes[i];
    if (l.job != nullptr) continue;
    unsigned char* buffer = l.buffer;
    l = lane{};
    l.buffer = buffer;
    l.job = &job;
    zorvik::md5LanesInit(&_states, i);
    return;
  }
}

bool lane_session::step() {
  for (int i = 0; i < _width; ++i) {
    if (_lanes[i].job != nullptr) continue;
    engine_job* next = _owner.claim(engine::md5);
    if (next == nullptr) break;
    add(*next);
  }
  int active = 0;
  for (int i = 0; i < _width; ++i) active += _lanes[i].job != nullptr;
  if (active == 0) return false;
  if (_owner.stopping()) {
    for (int i = 0; i < _width; ++i)
      if (_lanes[i].job != nullptr) close(_lanes[i], EINTR);
    return false;
  }

  // Alone, a file goes faster through the single-stream transform.
  if (active == 1) {
    for (int i = 0; i < _width; ++i) {
      lane& l = _lanes[i];
      if (l.job == nullptr || l.single) continue;
      zorvik::md5LaneToContext(_states, i, l.whole, &l.job->md5);
      l.single = true;
    }
  }

  // A lane with less than a block left reads its next piece; on a disk that
  // spins, only what the page cache holds, unless every lane waits for it.
  bool allWaiting = true;
  lane* earliest = nullptr;
  for (int i = 0; i < _width; ++i) {
    lane& l = _lanes[i];
    if (l.job == nullptr) continue;
    if (!l.ended && l.filled - l.used < block && !fill(l, false)) continue;
    if (l.job == nullptr) continue;
    if (!l.waiting) {
      allWaiting = false;
    } else if (earliest == nullptr || l.job->sequence < earliest->job->sequence) {
      earliest = &l;
    }
  }
  if (allWaiting && earliest != nullptr) fill(*earliest, true);

  const unsigned char* data[zorvik::md5MaxLanes] = {};
  size_t blocks[zorvik::md5MaxLanes] = {};
  bool any = false;
  for (int i = 0; i < _width; ++i) {
    lane& l = _lanes[i];
    if (l.job == nullptr || l.waiting) continue;
    if (l.single) {
      MD5Update(&l.job->md5, l.buffer + l.used, static_cast<unsigned int>(l.filled - l.used));
      l.used = l.filled;
      __atomic_store_n(&l.job->hashed, l.job->offset, __ATOMIC_RELAXED);
      continue;
    }
    blocks[i] = (l.filled - l.used) / block;
    data[i] = l.buffer + l.used;
    any = any || blocks[i] > 0;
  }
  if (any) _kernel.update(&_states, data, blocks, _width);
  for (int i = 0; i < _width; ++i) {
    lane& l = _lanes[i];
    if (l.job == nullptr) continue;
    if (!l.single && blocks[i] > 0) {
      l.used += blocks[i] * block;
      l.whole += blocks[i] * block;
      __atomic_store_n(&l.job->hashed, l.whole, __ATOMIC_RELAXED);
    }
    if (!l.ended || (!l.single && l.filled - l.used >= block)) continue;
    // The end of the file: its last partial block and the padding go
    // through the single-stream functions. Ending before the size it had
    // at open, it shrank meanwhile.
    if (!l.single) {
      zorvik::md5LaneToContext(_states, i, l.whole, &l.job->md5);
      MD5Update(&l.job->md5, l.buffer + l.used, static_cast<unsigned int>(l.filled - l.used));
    }
    close(l, l.job->offset < l.job->file.size() ? EIO : 0);
  }
  return true;
}

// Reads the lane's next piece after what is left of its last one; false
// when the read failed and the job is over.
bool lane_session::fill(lane& l, bool mayWait) {
  engine_job& job = *l.job;
  size_t left = l.filled - l.used;
  memmove(l.buffer, l.buffer + l.used, left);
  l.filled = left;
  l.used = 0;
  if (g_engineBeforeRead != nullptr) g_engineBeforeRead(job.sequence);
  long n = job.file.readAt(l.buffer + l.filled, lanePiece, job.offset, orderOf(job.sequence, 0), mayWait);
  l.waiting = n == -EAGAIN && !mayWait;
  if (l.waiting) return true;
  if (n < 0) {
    close(l, static_cast<int>(-n));
    return false;
  }
  l.filled += static_cast<size_t>(n);
  job.offset += static_cast<unsigned long long>(n);
  l.ended = n == 0 || job.file.endedWith(static_cast<size_t>(n), lanePiece, job.offset);
  return true;
}

void lane_session::close(lane& l, int failure) {
  _owner.finish(*l.job, failure);
  l.job = nullptr;
}
