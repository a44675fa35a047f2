// White-box: every multi-buffer MD5 variant built in, on the CPU's say-so,
// against RFC 1321 MD5 (the committed vectors and MD5Init/MD5Update/MD5Final)
// and against the portable lane code.
#include <random>
#include <thread>

#include "hash/md5_lanes.h"
#include "hash/md5_lanes_impl.h"
#include "md5_lanes_checks.h"

namespace zorvik {
// Failure messages name the variant.
void PrintTo(const md5LaneVariant& v, std::ostream* os) { *os << v.name; }
}  // namespace zorvik

namespace {

using namespace zorvik;
using hashtest::checkEveryLengthInEveryLane;
using hashtest::laneDigests;
using hashtest::md5LargeInputs;

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

// Every length 0-4096 in every lane position, from unaligned starts.
TEST_P(Md5LaneVariant, EveryLengthInEveryLane) {
  checkEveryLengthInEveryLane(GetParam().update, 4096);
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

// Random inputs up to 64 MiB in uneven pieces, against the portable code.
TEST_P(Md5LaneVariant, LargeInputsInPieces) {
  static const md5LargeInputs big(size_t(64) << 20);
  big.checkInPieces(GetParam().update, 300000);
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
