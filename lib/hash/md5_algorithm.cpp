// MD5's entry: RFC 1321's functions over MD5_CTX, and the lane kernel this
// CPU runs best. Digests of pieces do not join, so MD5 files are not split.
#include <climits>

#include <zorvik/hasher.h>

#include "hash/algorithm.h"
#include "hash/md5_lanes.h"

namespace zorvik {

namespace {

MD5_CTX* context(void* state) { return static_cast<MD5_CTX*>(state); }

bool init(void* state) {
  MD5Init(context(state));
  return true;
}

void update(void* state, const unsigned char* data, size_t length) {
  for (size_t step; length > 0; data += step, length -= step) {
    step = length < UINT_MAX ? length : size_t{UINT_MAX} & ~size_t{63};
    MD5Update(context(state), data, static_cast<unsigned int>(step));
  }
}

void final(void* state, unsigned char* digest) { MD5Final(digest, context(state)); }

md5_lanes* lanes(void* states) { return static_cast<md5_lanes*>(states); }

void start(void* states, int lane) { md5LanesInit(lanes(states), lane); }

void advance(void* states, const unsigned char* const* data, const size_t* blocks, int count) {
  static const md5LanesFn best = md5LanesBest().update;  // once, thread-safe
  best(lanes(states), data, blocks, count);
}

void handOver(const void* states, int lane, unsigned long long bytes, void* state) {
  md5LaneToContext(*static_cast<const md5_lanes*>(states), lane, bytes, context(state));
}

const lane_kernel& laneKernel() {
  static const lane_kernel kernel = {
      md5LanesBest().width < maxLanes ? md5LanesBest().width : maxLanes,
      64, sizeof(md5_lanes), start, advance, handOver,
  };
  return kernel;
}

}  // namespace

const algorithm& md5Algorithm() {
  static const algorithm entry = {
      "md5", 16, sizeof(MD5_CTX), alignof(MD5_CTX), init, update, final, nullptr, nullptr,
      &laneKernel(),
  };
  return entry;
}

}  // namespace zorvik
