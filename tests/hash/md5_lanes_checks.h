#pragma once

// Checks of a multi-buffer MD5 function, shared by the tests of the variants
// built in and of a kernel built a second time over emulated intrinsics.
#include <algorithm>
#include <random>
#include <span>
#include <string>
#include <vector>

#include <zorvik/hasher.h>

#include "hash/md5_lanes.h"
#include "support.h"

namespace hashtest {

// Hashes each input in its own lane, all whole blocks in one call, then
// finishes every lane with the single-stream functions. Only as many data
// and block entries as lanes exist (so ASan sees a read past them), and a
// lane without a whole block gets a null pointer, which must not be read.
inline std::vector<std::string> laneDigests(zorvik::md5LanesFn update,
                                            const std::vector<std::span<const unsigned char>>& in) {
  using namespace zorvik;
  const int lanes = int(in.size());
  md5_lanes s;
  std::vector<const unsigned char*> data(lanes);
  std::vector<size_t> blocks(lanes);
  for (int i = 0; i < lanes; ++i) {
    md5LanesInit(&s, i);
    blocks[i] = in[i].size() / 64;
    data[i] = blocks[i] != 0 ? in[i].data() : nullptr;
  }
  update(&s, data.data(), blocks.data(), lanes);
  std::vector<std::string> out;
  for (int i = 0; i < lanes; ++i) {
    MD5_CTX context;
    unsigned char digest[16];
    const size_t whole = blocks[i] * 64;
    md5LaneToContext(s, i, whole, &context);
    MD5Update(&context, in[i].data() + whole, static_cast<unsigned>(in[i].size() - whole));
    MD5Final(digest, &context);
    out.push_back(hex(digest, 16));
  }
  return out;
}

// Every length 0 to maxLength in every lane position, lanes of different
// lengths ending at different times, each from its own unaligned start; the
// lengths rotate over the lanes instead of a full cross product. Lane i
// hashes a prefix of its own stream, whose digests come from
// MD5Update/MD5Final resumed from contexts saved at each block boundary.
inline void checkEveryLengthInEveryLane(zorvik::md5LanesFn update, size_t maxLength) {
  using zorvik::md5MaxLanes;
  const auto source = randomBytes(maxLength + md5MaxLanes, 1);
  std::vector<std::vector<MD5_CTX>> prefix(md5MaxLanes);
  for (size_t i = 0; i < md5MaxLanes; ++i) {
    MD5_CTX context;
    MD5Init(&context);
    prefix[i].push_back(context);
    for (size_t block = 0; block < maxLength / 64; ++block) {
      MD5Update(&context, source.data() + i + 64 * block, 64);
      prefix[i].push_back(context);
    }
  }
  auto want = [&](size_t i, size_t length) {
    MD5_CTX context = prefix[i][length / 64];
    unsigned char digest[16];
    MD5Update(&context, source.data() + i + length / 64 * 64, static_cast<unsigned>(length % 64));
    MD5Final(digest, &context);
    return hex(digest, 16);
  };

  for (size_t n = 0; n <= maxLength; ++n) {
    std::vector<std::vector<unsigned char>> storage(md5MaxLanes);
    std::vector<std::span<const unsigned char>> in;
    for (size_t i = 0; i < md5MaxLanes; ++i) {
      const size_t length = (n + 257 * i) % (maxLength + 1), offset = (n + i) % 16;
      storage[i].resize(offset + length);
      std::copy_n(source.begin() + i, length, storage[i].begin() + offset);
      in.emplace_back(storage[i].data() + offset, length);
    }
    const auto got = laneDigests(update, in);
    for (size_t i = 0; i < md5MaxLanes; ++i)
      ASSERT_EQ(got[i], want(i, in[i].size())) << "lane " << i << " length " << in[i].size();
  }
}

// Random inputs up to `max` bytes from unaligned starts, beside lanes of
// other lengths (up to 256 KiB) and idle ones, with the states the portable
// code reaches from the same random states in one call. Made once per test
// program, as the data is large.
class md5LargeInputs {
public:
  explicit md5LargeInputs(size_t max) : _data(randomBytes(max + 64, 3)) {
    using namespace zorvik;
    std::mt19937_64 rng(4);
    const struct {
      int lanes;
      size_t longest;  // in the last lane
    } shapes[] = {{16, max}, {9, max / 8}, {3, max / 64}};
    for (auto [lanes, longest] : shapes) {
      laneCase c{lanes, {}, {}, {}, {}};
      for (int i = 0; i < md5MaxLanes; ++i) {
        c.start.a[i] = uint32_t(rng()), c.start.b[i] = uint32_t(rng());
        c.start.c[i] = uint32_t(rng()), c.start.d[i] = uint32_t(rng());
        c.data[i] = _data.data() + 1 + rng() % 63;
        c.blocks[i] = rng() % 4 == 0 ? 0 : rng() % ((size_t(256) << 10) / 64);
      }
      c.blocks[lanes - 1] = longest / 64 - 1;
      c.want = c.start;
      md5LanesPortable(&c.want, c.data, c.blocks, lanes);
      _cases.push_back(c);
    }
  }

  // Feeds `update` the inputs in uneven pieces of up to mostBlocks blocks per
  // lane, as a caller would; lanes past `lanes` must keep their states.
  void checkInPieces(zorvik::md5LanesFn update, size_t mostBlocks) const {
    using namespace zorvik;
    std::mt19937_64 rng(5);
    for (const laneCase& c : _cases) {
      SCOPED_TRACE(c.lanes);
      md5_lanes s = c.start;
      std::vector<const unsigned char*> at(c.data, c.data + c.lanes);
      std::vector<size_t> left(c.blocks, c.blocks + c.lanes), piece(c.lanes);
      while (std::any_of(left.begin(), left.end(), [](size_t n) { return n != 0; })) {
        for (int i = 0; i < c.lanes; ++i)
          piece[i] = std::min<size_t>(left[i], rng() % 3 == 0 ? 0 : rng() % mostBlocks);
        update(&s, at.data(), piece.data(), c.lanes);
        for (int i = 0; i < c.lanes; ++i) at[i] += 64 * piece[i], left[i] -= piece[i];
      }
      for (int i = 0; i < md5MaxLanes; ++i) {
        const md5_lanes& want = i < c.lanes ? c.want : c.start;
        EXPECT_EQ(s.a[i], want.a[i]) << "lane " << i;
        EXPECT_EQ(s.b[i], want.b[i]) << "lane " << i;
        EXPECT_EQ(s.c[i], want.c[i]) << "lane " << i;
        EXPECT_EQ(s.d[i], want.d[i]) << "lane " << i;
      }
    }
  }

private:
  struct laneCase {
    int lanes;
    zorvik::md5_lanes start, want;
    const unsigned char* data[zorvik::md5MaxLanes];
    size_t blocks[zorvik::md5MaxLanes];
  };
  std::vector<unsigned char> _data;
  std::vector<laneCase> _cases;
};

}  // namespace hashtest
