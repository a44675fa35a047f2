// White-box: every multi-buffer MD5 variant built in, on the CPU's say-so,
// against RFC 1321 MD5 (the committed vectors and MD5Init/MD5Update/MD5Final)
// and against the portable lane code.
#include <algorithm>
#include <random>
#include <thread>

#include <zorvik/hasher.h>

#include "hash/md5_lanes.h"
#include "hash/md5_lanes_impl.h"
#include "support.h"

namespace zorvik {
// Failure messages name the variant.
void PrintTo(const md5LaneVariant& v, std::ostream* os) { *os << v.name; }
}  // namespace zorvik

namespace {

using namespace zorvik;
using hashtest::hex;

std::vector<unsigned char> randomBytes(size_t n, uint32_t seed) {
  std::mt19937_64 rng(seed);
  std::vector<unsigned char> out(n);
  for (size_t i = 0; i < n; i += 8) {
    uint64_t r = rng();
    std::memcpy(out.data() + i, &r, std::min<size_t>(8, n - i));
  }
  return out;
}

// Hashes each input in its own lane, all whole blocks in one call, then
// finishes every lane with the single-stream functions. Only as many data
// and block entries as lanes exist (so ASan sees a read past them), and a
// lane without a whole block gets a null pointer, which must not be read.
std::vector<std::string> laneDigests(md5LanesFn update,
                                     const std::vector<std::span<const unsigned char>>& in) {
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

class Md5LaneVariant : public testing::TestWithParam<md5LaneVariant> {
protected:
  void SetUp() override {
    if (!GetParam().available()) GTEST_SKIP() << GetParam().name << " not supported by this CPU";
  }
};

std::string variantName(const testing::TestParamInfo<md5LaneVariant>& info) {
  return info.param.name;
}

}  // namespace

// Software vpternlogd with the kernel's immediates against RFC 1321's
// definitions, written out here on their own.
TEST(Md5Lanes, TernlogImmediatesGiveTheRoundFunctions) {
  std::mt19937 rng(9);
  for (int round = 0; round < 1000; ++round) {
    const uint32_t x = rng(), y = rng(), z = rng();
    ASSERT_EQ(ternlog(x, y, z, md5ImmF), (x & y) | (~x & z));
    ASSERT_EQ(ternlog(x, y, z, md5ImmG), (x & z) | (y & ~z));
    ASSERT_EQ(ternlog(x, y, z, md5ImmH), x ^ y ^ z);
    ASSERT_EQ(ternlog(x, y, z, md5ImmI), y ^ (x | ~z));
  }
}

TEST(Md5Lanes, PortableFirstBestIsLastAvailable) {
  auto variants = md5LaneVariants();
  ASSERT_FALSE(variants.empty());
  EXPECT_STREQ(variants[0].name, "portable");
  EXPECT_TRUE(variants[0].available());
  const md5LaneVariant* last = nullptr;
  for (const md5LaneVariant& v : variants)
    if (v.available()) last = &v;
  // The choice is made on the first call, here from four threads at once
  // (run under ThreadSanitizer in CI).
  const md5LaneVariant* got[4] = {};
  std::vector<std::thread> threads;
  for (auto& g : got) threads.emplace_back([&g] { g = &md5LanesBest(); });
  for (auto& t : threads) t.join();
  for (auto* g : got) EXPECT_EQ(g, last);
}

// Every length 0-4096 in every lane position, lanes of different lengths
// ending at different times, each from its own unaligned start; the lengths
// rotate over the lanes instead of a full cross product. Lane i hashes a
// prefix of its own stream, whose digests come from MD5Update/MD5Final
// resumed from contexts saved at each block boundary.
TEST_P(Md5LaneVariant, EveryLengthInEveryLane) {
  constexpr size_t maxLength = 4096;
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
    const auto got = laneDigests(GetParam().update, in);
    for (size_t i = 0; i < md5MaxLanes; ++i)
      ASSERT_EQ(got[i], want(i, in[i].size())) << "lane " << i << " length " << in[i].size();
  }
}

// The committed vectors: the short ones through every lane position, the
// 4 MiB ones once each beside them; every lane from its own unaligned start.
TEST_P(Md5LaneVariant, CommittedVectors) {
  auto vectors = hashtest::readVectors("md5.txt");
  ASSERT_EQ(vectors.size(), 26u);
  std::vector<hashtest::vectorLine> shorter, longer;
  for (const auto& v : vectors) (v.length <= 8193 ? shorter : longer).push_back(v);
  ASSERT_EQ(longer.size(), 3u);

  for (size_t turn = 0; turn < shorter.size(); ++turn) {
    std::vector<hashtest::vectorLine> put;
    for (size_t i = 0; i < md5MaxLanes; ++i) put.push_back(shorter[(turn + i) % shorter.size()]);
    if (turn < longer.size()) put[5 * turn] = longer[turn];  // lanes 0, 5, 10
    std::vector<std::vector<unsigned char>> storage(md5MaxLanes);
    std::vector<std::span<const unsigned char>> in;
    for (size_t i = 0; i < md5MaxLanes; ++i) {
      const size_t offset = 1 + i % 15;
      storage[i].resize(offset);
      auto pattern = hashtest::pattern251(put[i].length);
      storage[i].insert(storage[i].end(), pattern.begin(), pattern.end());
      in.emplace_back(storage[i].data() + offset, put[i].length);
    }
    const auto got = laneDigests(GetParam().update, in);
    for (size_t i = 0; i < md5MaxLanes; ++i)
      EXPECT_EQ(got[i], put[i].digest) << "lane " << i << " length " << put[i].length;
  }
}

// Random inputs up to 64 MiB from unaligned starts, beside lanes of other
// lengths and idle ones, fed in uneven pieces as a caller would, against the
// portable code in one call from the same random states; lanes past `lanes`
// keep theirs.
TEST_P(Md5LaneVariant, LargeInputsInPieces) {
  constexpr size_t max = size_t(64) << 20;
  struct laneCase {
    int lanes;
    md5_lanes start, want;
    const unsigned char* data[md5MaxLanes];
    size_t blocks[md5MaxLanes];
  };
  struct large {
    std::vector<unsigned char> data = randomBytes(max + 64, 3);
    std::vector<laneCase> cases;
    large() {
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
          c.data[i] = data.data() + 1 + rng() % 63;
          c.blocks[i] = rng() % 4 == 0 ? 0 : rng() % ((size_t(256) << 10) / 64);
        }
        c.blocks[lanes - 1] = longest / 64 - 1;
        c.want = c.start;
        md5LanesPortable(&c.want, c.data, c.blocks, lanes);
        cases.push_back(c);
      }
    }
  };
  static const large big;

  std::mt19937_64 rng(5);
  for (const laneCase& c : big.cases) {
    SCOPED_TRACE(c.lanes);
    md5_lanes s = c.start;
    std::vector<const unsigned char*> at(c.data, c.data + c.lanes);
    std::vector<size_t> left(c.blocks, c.blocks + c.lanes), piece(c.lanes);
    while (std::any_of(left.begin(), left.end(), [](size_t n) { return n != 0; })) {
      for (int i = 0; i < c.lanes; ++i)
        piece[i] = std::min<size_t>(left[i], rng() % 3 == 0 ? 0 : rng() % 300000);
      GetParam().update(&s, at.data(), piece.data(), c.lanes);
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

// The bit count goes on past 2^32 into the high word, and wraps at 2^64.
TEST(Md5Lanes, ContextBitCountTakesBothWords) {
  md5_lanes s;
  md5LanesInit(&s, 3);
  MD5_CTX context;
  md5LaneToContext(s, 3, (1ull << 32) + 64, &context);
  EXPECT_EQ(context.count[0], 512u);
  EXPECT_EQ(context.count[1], 8u);
  md5LaneToContext(s, 3, (1ull << 61) + 128, &context);
  EXPECT_EQ(context.count[0], 1024u);
  EXPECT_EQ(context.count[1], 0u);
  EXPECT_EQ(context.state[0], 0x67452301u);
  EXPECT_EQ(context.state[3], 0x10325476u);
}

INSTANTIATE_TEST_SUITE_P(Built, Md5LaneVariant,
                         testing::ValuesIn(md5LaneVariants().begin(), md5LaneVariants().end()),
                         variantName);
