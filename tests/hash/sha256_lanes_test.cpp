// White-box: SHA-256's lanes, where this CPU runs them, against its single
// stream (libcrypto) and FIPS 180-4's long vector: lanes of differing lengths
// and alignments, advanced in one call or in two, handed over mid-stream.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "hash/algorithm.h"
#include "support.h"

namespace {

using zorvik::algorithm;
using zorvik::lane_kernel;
using hashtest::hex;

struct state_room {
  alignas(64) unsigned char bytes[512];
};

std::string single(const algorithm& a, const unsigned char* data, size_t length) {
  state_room s;
  unsigned char digest[64];
  EXPECT_TRUE(a.init(s.bytes));
  a.update(s.bytes, data, length);
  a.final(s.bytes, digest);
  return hex(digest, static_cast<size_t>(a.digestSize));
}

// Hashes each input in its own lane: whole blocks through the kernel, split
// at `split` blocks into two calls, the rest after the hand-over.
std::vector<std::string> throughLanes(const algorithm& a, const std::vector<std::string>& inputs,
                                      size_t split) {
  const lane_kernel& k = *a.lanes;
  std::vector<unsigned char> states(k.statesSize + 64);
  void* lanes = states.data() + (64 - reinterpret_cast<uintptr_t>(states.data()) % 64) % 64;
  int count = static_cast<int>(inputs.size());
  const unsigned char* data[16];
  size_t first[16], second[16];
  for (int i = 0; i < count; ++i) {
    k.start(lanes, i);
    size_t blocks = inputs[i].size() / k.block;
    first[i] = blocks < split ? blocks : split;
    second[i] = blocks - first[i];
    data[i] = reinterpret_cast<const unsigned char*>(inputs[i].data());
  }
  k.advance(lanes, data, first, count);
  for (int i = 0; i < count; ++i) data[i] += first[i] * k.block;
  k.advance(lanes, data, second, count);
  std::vector<std::string> digests;
  for (int i = 0; i < count; ++i) {
    size_t whole = (first[i] + second[i]) * k.block;
    state_room s;
    unsigned char digest[64];
    EXPECT_TRUE(a.init(s.bytes));
    k.handOver(lanes, i, whole, s.bytes);
    a.update(s.bytes, reinterpret_cast<const unsigned char*>(inputs[i].data()) + whole,
             inputs[i].size() - whole);
    a.final(s.bytes, digest);
    digests.push_back(hex(digest, static_cast<size_t>(a.digestSize)));
  }
  return digests;
}

class Sha256Lanes : public testing::Test {
protected:
  void SetUp() override {
    a = zorvik::findAlgorithm(zorvik::sha256Id);
    ASSERT_NE(a, nullptr);
    if (a->lanes == nullptr) GTEST_SKIP() << "SHA-256 lanes do not pay on this CPU";
  }
  const algorithm* a = nullptr;
};

TEST_F(Sha256Lanes, EveryLaneCountLengthAndAlignmentMatchesTheSingleStream) {
  std::mt19937 rng(256);
  const size_t edges[] = {0, 1, 55, 56, 63, 64, 65, 119, 120, 127, 128, 129, 4096, 4097};
  for (int count = 1; count <= 16; ++count) {
    for (size_t split : {size_t{0}, size_t{1}, size_t{3}, size_t{1000}}) {
      std::vector<std::string> inputs;
      for (int i = 0; i < count; ++i) {
        size_t length = i % 2 == 0 ? edges[(count + i) % std::size(edges)] : rng() % 3000;
        // A leading byte dropped: the lane's data starts unaligned.
        std::string text(length + 1, '\0');
        for (char& c : text) c = static_cast<char>(rng());
        inputs.push_back(text.substr(1));
      }
      std::vector<std::string> got = throughLanes(*a, inputs, split);
      for (int i = 0; i < count; ++i) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(inputs[i].data());
        EXPECT_EQ(got[i], single(*a, bytes, inputs[i].size()))
            << count << " lanes, split " << split << ", lane " << i << ", " << inputs[i].size() << " bytes";
      }
    }
  }
}

// FIPS 180-4's million "a": 15,625 blocks in lanes, nothing left over.
TEST_F(Sha256Lanes, MillionAsInEveryLane) {
  std::vector<std::string> inputs(16, std::string(1000000, 'a'));
  for (const std::string& digest : throughLanes(*a, inputs, 7))
    EXPECT_EQ(digest, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

}  // namespace
