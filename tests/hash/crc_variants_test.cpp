// White-box: every CRC-32 variant built in, on the CPU's say-so, against the
// portable reference.
#include <cstdio>
#include <random>
#include <thread>

#include "hash/crc_impl.h"
#include "support.h"

namespace zorvik {
// Failure messages name the variant.
void PrintTo(const crcVariant& v, std::ostream* os) { *os << v.name; }
}  // namespace zorvik

namespace {

using zorvik::crcUpdatePortable;
using zorvik::crcVariant;

using hashtest::randomBytes;

class CrcVariant : public testing::TestWithParam<crcVariant> {
protected:
  void SetUp() override {
    if (!GetParam().available()) GTEST_SKIP() << GetParam().name << " not supported by this CPU";
  }

  // The portable variant only tells alignments modulo 4 apart (word or byte
  // steps); the accelerated ones are tried at all sixteen.
  size_t alignments() const { return GetParam().update == crcUpdatePortable ? 4 : 16; }
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

// The reference against the committed vectors, word path and byte path.
TEST(CrcVariants, PortableMatchesVectors) {
  auto vectors = hashtest::readVectors("crc32.txt");
  ASSERT_FALSE(vectors.empty());
  for (const auto& v : vectors) {
    std::vector<unsigned char> data(v.length + 4);
    auto pattern = hashtest::pattern251(v.length);
    for (size_t offset : {0, 1}) {
      std::copy(pattern.begin(), pattern.end(), data.begin() + offset);
      char text[9];
      std::snprintf(text, sizeof text, "%08X",
                    ~crcUpdatePortable(0xFFFFFFFFu, data.data() + offset, v.length));
      EXPECT_EQ(text, v.digest) << "length " << v.length << " offset " << offset;
    }
  }
}

TEST(CrcVariants, DispatcherAgreesWithReference) {
  auto data = randomBytes(100000, 7);
  EXPECT_EQ(zorvik::crcUpdate(0x12345678u, data.data(), data.size()),
            crcUpdatePortable(0x12345678u, data.data(), data.size()));
}

// The choice is made on the first call, which here comes from four threads
// at once (run under ThreadSanitizer in CI).
TEST(CrcVariants, FirstUseFromManyThreads) {
  auto data = randomBytes(65536, 8);
  const uint32_t want = crcUpdatePortable(0xFFFFFFFFu, data.data(), data.size());
  uint32_t got[4] = {};
  std::vector<std::thread> threads;
  for (auto& g : got)
    threads.emplace_back([&data, &g] { g = zorvik::crcUpdate(0xFFFFFFFFu, data.data(), data.size()); });
  for (auto& t : threads) t.join();
  for (uint32_t g : got) EXPECT_EQ(g, want);
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
    for (size_t align = 0; align < alignments(); ++align) {
      std::copy(data.begin(), data.begin() + length, shifted.begin() + align);
      ASSERT_EQ(update(reg, shifted.data() + align, length), want)
          << "length " << length << " align " << align;
    }
  }
}

// Random lengths up to 64 MiB at every alignment, against references
// computed once for all variants (the reference is slow in sanitizer builds).
TEST_P(CrcVariant, LargeBuffersAtEveryAlignment) {
  if (GetParam().update == crcUpdatePortable) GTEST_SKIP() << "the reference itself";
  constexpr size_t max = size_t(64) << 20;
  struct large {
    std::vector<unsigned char> data = randomBytes(max, 3);
    size_t lengths[2];
    uint32_t want[2];
    large() {
      std::mt19937_64 rng(4);
      lengths[0] = max - rng() % 4096;
      lengths[1] = 4096 + rng() % (max / 4);
      for (int i = 0; i < 2; ++i) want[i] = crcUpdatePortable(0xFFFFFFFFu, data.data(), lengths[i]);
    }
  };
  static const large cases;

  std::vector<unsigned char> work(max + 16);
  for (int i = 0; i < 2; ++i) {
    size_t length = cases.lengths[i];
    for (size_t align = 0; align < alignments(); ++align) {
      std::memcpy(work.data() + align, cases.data.data(), length);
      ASSERT_EQ(GetParam().update(0xFFFFFFFFu, work.data() + align, length), cases.want[i])
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

// Pieces hashed apart join into the CRC-32 of the whole, at every split
// and for lengths past 4 GiB (only the length matters to the join).
TEST(CrcCombine, JoinsPiecesHashedApart) {
  auto finished = [](const unsigned char* data, size_t length) {
    return ~zorvik::crcUpdate(0xFFFFFFFFu, data, length);
  };
  const unsigned char digits[] = "123456789";
  for (size_t split = 0; split <= 9; ++split)
    EXPECT_EQ(zorvik::crcCombine(finished(digits, split), finished(digits + split, 9 - split), 9 - split),
              0xCBF43926u) << split;
  auto data = randomBytes(100000, 7);
  uint32_t whole = finished(data.data(), data.size());
  for (size_t split : {1, 63, 4096, 65537, 99999})
    EXPECT_EQ(zorvik::crcCombine(finished(data.data(), split),
                                 finished(data.data() + split, data.size() - split), data.size() - split),
              whole) << split;
  // Five GiB of zeros after "123456789", as one piece and as a join.
  std::vector<unsigned char> zeros(1 << 20, 0);
  uint32_t reg = zorvik::crcUpdate(0xFFFFFFFFu, digits, 9);
  for (int i = 0; i < 5 * 1024; ++i) reg = zorvik::crcUpdate(reg, zeros.data(), zeros.size());
  uint32_t zeroCrc = 0xFFFFFFFFu;
  for (int i = 0; i < 5 * 1024; ++i) zeroCrc = zorvik::crcUpdate(zeroCrc, zeros.data(), zeros.size());
  EXPECT_EQ(zorvik::crcCombine(0xCBF43926u, ~zeroCrc, 5ULL << 30), ~reg);
}
