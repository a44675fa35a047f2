// The AVX-512 SHA-256 kernel built over software intrinsics, against the
// library's single stream: each lane gets a whole message, padded here as
// FIPS 180-4 pads it, so that its chaining value at the end is the digest.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "hash/algorithm.h"
#include "hash/sha256_lanes.h"
#include "support.h"

namespace zorvik {
void sha256LanesAvx512Emulated(sha256_lanes* s, const unsigned char* const* data, const size_t* blocks,
                               int lanes);
}  // namespace zorvik

namespace {

std::vector<unsigned char> padded(const std::string& message) {
  std::vector<unsigned char> bytes(message.begin(), message.end());
  bytes.push_back(0x80);
  while (bytes.size() % 64 != 56) bytes.push_back(0);
  unsigned long long bits = static_cast<unsigned long long>(message.size()) * 8;
  for (int shift = 56; shift >= 0; shift -= 8) bytes.push_back(static_cast<unsigned char>(bits >> shift));
  return bytes;
}

std::string single(const std::string& message) {
  const zorvik::algorithm& a = *zorvik::findAlgorithm(zorvik::sha256Id);
  alignas(64) unsigned char state[512];
  unsigned char digest[32];
  EXPECT_TRUE(a.init(state));
  a.update(state, reinterpret_cast<const unsigned char*>(message.data()), message.size());
  a.final(state, digest);
  return hashtest::hex(digest, sizeof digest);
}

// Lane `lane`'s chaining value, big-endian.
std::string chainingValue(const zorvik::sha256_lanes& s, int lane) {
  unsigned char bytes[32];
  for (int k = 0; k < 8; ++k)
    for (int b = 0; b < 4; ++b) bytes[4 * k + b] = static_cast<unsigned char>(s.h[k][lane] >> (24 - 8 * b));
  return hashtest::hex(bytes, sizeof bytes);
}

TEST(Sha256LanesAvx512Emulated, PaddedMessagesInEveryLaneCountAndSplit) {
  std::mt19937 rng(180);
  const size_t edges[] = {0, 3, 55, 56, 63, 64, 119, 120, 1000};
  for (int count = 1; count <= 16; ++count) {
    std::vector<std::string> messages;
    std::vector<std::vector<unsigned char>> blocks;
    for (int i = 0; i < count; ++i) {
      std::string m(i % 2 == 0 ? edges[(count + i) % std::size(edges)] : rng() % 700, '\0');
      for (char& c : m) c = static_cast<char>(rng());
      messages.push_back(m);
      blocks.push_back(padded(m));
    }
    zorvik::sha256_lanes s{};
    const unsigned char* data[16];
    size_t first[16], second[16];
    for (int i = 0; i < count; ++i) {
      zorvik::sha256LanesInit(&s, i);
      size_t whole = blocks[i].size() / 64;
      first[i] = whole < static_cast<size_t>(i % 3) ? whole : static_cast<size_t>(i % 3);
      second[i] = whole - first[i];
      data[i] = blocks[i].data();
    }
    zorvik::sha256LanesAvx512Emulated(&s, data, first, count);
    for (int i = 0; i < count; ++i) data[i] += first[i] * 64;
    zorvik::sha256LanesAvx512Emulated(&s, data, second, count);
    for (int i = 0; i < count; ++i)
      EXPECT_EQ(chainingValue(s, i), single(messages[i])) << count << " lanes, lane " << i;
  }
}

}  // namespace
