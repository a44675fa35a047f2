// White-box: every CRC-32 variant built in, on the CPU's say-so, against the
// portable reference.
#include <random>

#include "hash/crc_impl.h"
#include "support.h"

namespace {

using zorvik::crcUpdatePortable;
using zorvik::crcVariant;

std::vector<unsigned char> randomBytes(size_t n, uint32_t seed) {
  std::mt19937_64 rng(seed);
  std::vector<unsigned char> out(n);
  for (size_t i = 0; i < n; i += 8) {
    uint64_t r = rng();
    std::memcpy(out.data() + i, &r, std::min<size_t>(8, n - i));
  }
  return out;
}

class CrcVariant : public testing::TestWithParam<crcVariant> {
protected:
  void SetUp() override {
    if (!GetParam().available()) GTEST_SKIP() << GetParam().name << " not supported by this CPU";
  }
};

std::string variantName(const testing::TestParamInfo<crcVariant>& info) {
  return info.param.name;
}

}  // namespace

TEST(CrcVariants, PortableIsAlwaysBuiltAndFirst) {
  auto variants = zorvik::crcVariants();
  ASSERT_FALSE(variants.empty());
  EXPECT_STREQ(variants[0].name, "portable");
  EXPECT_TRUE(variants[0].available());
}

TEST(CrcVariants, DispatcherAgreesWithReference) {
  auto data = randomBytes(100000, 7);
  EXPECT_EQ(zorvik::crcUpdate(0x12345678u, data.data(), data.size()),
            crcUpdatePortable(0x12345678u, data.data(), data.size()));
}

// All lengths 0-4096 at every alignment 0-15, from a random register.
TEST_P(CrcVariant, EveryLengthAndAlignment) {
  auto update = GetParam().update;
  auto data = randomBytes(4096 + 16, 1);
  std::mt19937 rng(2);
  for (size_t length = 0; length <= 4096; ++length) {
    uint32_t reg = rng();
    uint32_t want = crcUpdatePortable(reg, data.data(), length);
    std::vector<unsigned char> shifted(length + 16);
    for (size_t align = 0; align < 16; ++align) {
      std::copy(data.begin(), data.begin() + length, shifted.begin() + align);
      ASSERT_EQ(update(reg, shifted.data() + align, length), want)
          << "length " << length << " align " << align;
    }
  }
}

// Random lengths up to 64 MiB at every alignment. The portable variant only
// tells the four alignments modulo 4 apart, so it skips the rest.
TEST_P(CrcVariant, LargeBuffersAtEveryAlignment) {
  constexpr size_t max = size_t(64) << 20;
  auto data = randomBytes(max, 3);
  std::vector<unsigned char> work(max + 16);
  std::mt19937_64 rng(4);
  const size_t lengths[] = {max, max - 1 - rng() % 4096, 4096 + rng() % (max / 2)};
  const size_t alignments = GetParam().update == crcUpdatePortable ? 4 : 16;
  for (size_t length : lengths) {
    uint32_t want = crcUpdatePortable(0xFFFFFFFFu, data.data(), length);
    for (size_t align = 0; align < alignments; ++align) {
      std::memcpy(work.data() + align, data.data(), length);
      ASSERT_EQ(GetParam().update(0xFFFFFFFFu, work.data() + align, length), want)
          << "length " << length << " align " << align;
    }
  }
}

// The register carries from call to call: any split, including empty pieces,
// gives the register of the whole.
TEST_P(CrcVariant, ChainsAcrossSplitFeeds) {
  auto update = GetParam().update;
  auto data = randomBytes(20000, 5);
  const uint32_t start = 0xFFFFFFFFu;
  uint32_t whole = crcUpdatePortable(start, data.data(), data.size());

  for (size_t split = 0; split <= 1200; ++split) {
    uint32_t reg = update(start, data.data(), split);
    ASSERT_EQ(update(reg, data.data() + split, data.size() - split), whole) << "split " << split;
  }

  std::mt19937 rng(6);
  for (int round = 0; round < 200; ++round) {
    uint32_t reg = start;
    size_t pos = 0;
    while (pos < data.size()) {
      size_t piece = std::min<size_t>(data.size() - pos, rng() % (round < 100 ? 300 : 9000));
      reg = update(reg, data.data() + pos, piece);
      pos += piece;
    }
    ASSERT_EQ(reg, whole) << "round " << round;
  }
}

INSTANTIATE_TEST_SUITE_P(Built, CrcVariant, testing::ValuesIn(zorvik::crcVariants().begin(),
                                                              zorvik::crcVariants().end()),
                         variantName);
