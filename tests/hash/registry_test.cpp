// The built-in registry entries on their own: each gives the published check
// values through init/update/final, CRC-32's streams join, and MD5's lanes
// hand a stream over to the single-stream state at any block.
#include <cstring>
#include <vector>

#include <zorvik/hasher.h>

#include "hash/algorithm.h"
#include "support.h"

using namespace hashtest;

namespace {

std::string hashWith(const zorvik::algorithm& a, const std::vector<unsigned char>& data, size_t split) {
  alignas(64) unsigned char state[256];
  unsigned char digest[zorvik::maxDigestSize];
  EXPECT_TRUE(a.init(state));
  a.update(state, data.data(), split);
  a.update(state, data.data() + split, data.size() - split);
  a.final(state, digest);
  if (a.release != nullptr) a.release(state);
  return hex(digest, static_cast<size_t>(a.digestSize));
}

TEST(Registry, BuiltInEntriesGiveTheCheckValues) {
  const std::vector<unsigned char> nine = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  const struct {
    int id;
    const char* name;
    int digestSize;
    const char* digest;  // of "123456789", in memory order
    bool joins, lanes;
  } entries[] = {
      {zorvik::crc32Id, "crc32", 4, "2639f4cb", true, false},
      {zorvik::md5Id, "md5", 16, "25f9e794323b453885f5181f1b624d0b", false, true},
  };
  for (const auto& e : entries) {
    const zorvik::algorithm* a = zorvik::findAlgorithm(e.id);
    ASSERT_NE(a, nullptr);
    EXPECT_STREQ(a->name, e.name);
    EXPECT_EQ(a->digestSize, e.digestSize);
    EXPECT_LE(a->stateSize, 256u);
    for (size_t split = 0; split <= nine.size(); ++split) EXPECT_EQ(hashWith(*a, nine, split), e.digest) << split;
    EXPECT_EQ(a->join != nullptr, e.joins) << e.name;
    EXPECT_EQ(a->lanes != nullptr, e.lanes) << e.name;
  }
}

// A stream that hashed A, joined with one that hashed B alone, is the one
// that hashed A then B; the piece's stream is left as it was.
TEST(Registry, Crc32StreamsJoin) {
  const zorvik::algorithm& crc = zorvik::crc32Algorithm();
  std::vector<unsigned char> data = randomBytes(100000, 7);
  for (size_t split : {size_t{0}, size_t{1}, size_t{4096}, size_t{99999}, size_t{100000}}) {
    uint32_t whole, first, second;
    crc.init(&whole);
    crc.update(&whole, data.data(), data.size());
    crc.init(&first);
    crc.update(&first, data.data(), split);
    crc.init(&second);
    crc.update(&second, data.data() + split, data.size() - split);
    uint32_t piece = second;
    crc.join(&first, &second, data.size() - split);
    EXPECT_EQ(first, whole) << split;
    EXPECT_EQ(second, piece);
  }
}

TEST(Registry, Md5LanesHandOverAtAnyBlock) {
  const zorvik::algorithm& md5 = zorvik::md5Algorithm();
  const zorvik::lane_kernel& k = *md5.lanes;
  ASSERT_GE(k.width, 1);
  ASSERT_LE(k.width, zorvik::maxLanes);
  std::vector<unsigned char> data = pattern251(64 * 9 + 13);
  std::vector<unsigned char> states(k.statesSize + zorvik::maxStateAlign);
  void* block = states.data() + (zorvik::maxStateAlign - reinterpret_cast<uintptr_t>(states.data()) % zorvik::maxStateAlign);
  // Lane i hands over after i blocks through the kernel.
  const unsigned char* at[zorvik::maxLanes];
  size_t blocks[zorvik::maxLanes];
  for (int i = 0; i < k.width; ++i) {
    k.start(block, i);
    at[i] = data.data();
    blocks[i] = static_cast<size_t>(i % 10);
  }
  k.advance(block, at, blocks, k.width);
  for (int i = 0; i < k.width; ++i) {
    MD5_CTX state;
    size_t done = blocks[i] * k.block;
    k.handOver(block, i, done, &state);
    md5.update(&state, data.data() + done, data.size() - done);
    unsigned char digest[16];
    md5.final(&state, digest);
    EXPECT_EQ(hex(digest, 16), hashWith(md5, data, 0)) << "lane " << i;
  }
}

}  // namespace
