// The input cut into up to 16 lanes of different lengths: every multi-buffer
// MD5 variant this CPU runs, fed in two pieces, must leave the states the
// portable one leaves in one call, and each lane, finished by MD5Update and
// MD5Final, must give the digest MD5Init/MD5Update/MD5Final give for it.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include <zorvik/hasher.h>

#include "hash/md5_lanes.h"
#include "fuzz_support.h"

namespace {

using zorvik::md5_lanes;

bool sameStates(const md5_lanes& x, const md5_lanes& y) { return memcmp(&x, &y, sizeof x) == 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  // Byte 0: the lane count and the start offset; then one byte per lane,
  // for its length and where its feed is cut; the rest is the lanes' bytes.
  const int lanes = 1 + data[0] % zorvik::md5MaxLanes;
  const size_t offset = data[0] >> 4;
  if (size < size_t(1 + lanes)) return 0;
  const uint8_t* header = data + 1;
  const uint8_t* rest = data + 1 + lanes;
  size_t left = size - 1 - lanes;

  // Each lane in a block of its own, so that ASan sees any read past it.
  std::vector<std::vector<unsigned char>> input(lanes);
  for (int i = 0; i < lanes; ++i) {
    size_t length = i + 1 == lanes ? left : std::min<size_t>(left, header[i] * 17u);
    input[i].assign(offset, 0);
    input[i].insert(input[i].end(), rest, rest + length);
    rest += length, left -= length;
  }

  md5_lanes start;
  for (int i = 0; i < zorvik::md5MaxLanes; ++i) {
    start.a[i] = 0x01010101u * i, start.b[i] = ~start.a[i];
    start.c[i] = 3 * i, start.d[i] = ~3u * i;
    if (i < lanes) zorvik::md5LanesInit(&start, i);
  }
  // A lane with no blocks in a call gets a null pointer: it must not be read.
  std::vector<const unsigned char*> whole(lanes), head(lanes), tail(lanes);
  std::vector<size_t> blocks(lanes), headBlocks(lanes), tailBlocks(lanes);
  for (int i = 0; i < lanes; ++i) {
    const unsigned char* p = input[i].data() + offset;
    blocks[i] = (input[i].size() - offset) / 64;
    headBlocks[i] = header[i] % (blocks[i] + 1);
    tailBlocks[i] = blocks[i] - headBlocks[i];
    whole[i] = blocks[i] != 0 ? p : nullptr;
    head[i] = headBlocks[i] != 0 ? p : nullptr;
    tail[i] = tailBlocks[i] != 0 ? p + 64 * headBlocks[i] : nullptr;
  }

  md5_lanes reference = start;
  zorvik::md5LanesPortable(&reference, whole.data(), blocks.data(), lanes);
  for (int i = lanes; i < zorvik::md5MaxLanes; ++i)
    FUZZ_CHECK(reference.a[i] == start.a[i] && reference.b[i] == start.b[i] &&
               reference.c[i] == start.c[i] && reference.d[i] == start.d[i]);

  for (const zorvik::md5LaneVariant& variant : zorvik::md5LaneVariants()) {
    if (!variant.available()) continue;
    md5_lanes s = start;
    variant.update(&s, head.data(), headBlocks.data(), lanes);
    variant.update(&s, tail.data(), tailBlocks.data(), lanes);
    FUZZ_CHECK(sameStates(s, reference));
  }

  for (int i = 0; i < lanes; ++i) {
    const unsigned char* bytes = input[i].data() + offset;
    const unsigned length = static_cast<unsigned>(input[i].size() - offset);
    MD5_CTX context;
    unsigned char viaLanes[16], oneGo[16];
    zorvik::md5LaneToContext(reference, i, 64 * blocks[i], &context);
    MD5Update(&context, bytes + 64 * blocks[i], length % 64);
    MD5Final(viaLanes, &context);
    MD5Init(&context);
    MD5Update(&context, bytes, length);
    MD5Final(oneGo, &context);
    FUZZ_CHECK(memcmp(viaLanes, oneGo, 16) == 0);
  }
  return 0;
}
