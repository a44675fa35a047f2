#include <zorvik/base64.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

constexpr unsigned char canary = 0xA5;
constexpr int guard = 16;

// Decodes `text` into a buffer of `capacity` bytes followed by canaries and
// checks that none of them was touched.
int decodeGuarded(const std::string& text, int capacity, std::vector<unsigned char>* bytes) {
  std::vector<unsigned char> buffer(capacity + guard, canary);
  std::string input = text;
  int count = Base64Decode(input.data(), buffer.data(), capacity);
  for (int i = capacity; i < capacity + guard; ++i)
    EXPECT_EQ(buffer[i], canary) << "written at " << i << " with capacity " << capacity;
  buffer.resize(capacity);
  *bytes = buffer;
  return count;
}

TEST(Base64, EncodesWithPadding) {
  const struct {
    std::string in;
    std::string out;
  } cases[] = {
      {"", ""},
      {"a", "YQ=="},
      {"ab", "YWI="},
      {"abc", "YWJj"},
      {"abcd", "YWJjZA=="},
      {std::string("\xFF\x00\xFB", 3), "/wD7"},
  };
  for (const auto& c : cases) {
    std::string in = c.in;
    char out[16];
    memset(out, '#', sizeof out);
    int count = Base64Encode(reinterpret_cast<unsigned char*>(in.data()), out, int(in.size()));
    EXPECT_EQ(std::string(out, count), c.out);
    EXPECT_EQ(out[count], '#') << "no terminator is written";
  }
}

struct decodeCase {
  std::string text;
  std::string bytes;  // what capacity 10 yields
};

const decodeCase decodeCases[] = {
    {"YWJj", "abc"},
    {"YWI=", "ab"},
    {"YQ==", "a"},
    {"YWI", "ab"},
    {"YQ", "a"},
    {" \t \tYWJj", "abc"},
    {"YW Jj", "a"},
    {"YWJj\nYWJj", "abc"},
    {"YWI=YWJj", "ab"},
    {"", ""},
    {"=", ""},
    {"\nYWJj", ""},
    {"YWJj\x80YWJj", "abc"},
    {"YW\xFFJj", "a"},
    {"YWJjZA==", "abcd"},
    // A lone character in the last group still counts for one byte.
    {"YWJjZ", "abcd"},
    {"YWJjZ==", "abcd"},
    {"YWJjZ=A", std::string("abcd\0", 5)},
};

TEST(Base64, DecodesTheRunOfAlphabetCharacters) {
  for (const decodeCase& c : decodeCases) {
    SCOPED_TRACE(c.text);
    std::vector<unsigned char> out;
    int count = decodeGuarded(c.text, 10, &out);
    ASSERT_EQ(count, int(c.bytes.size()));
    EXPECT_EQ(std::string(out.begin(), out.begin() + count), c.bytes);
    EXPECT_EQ(out[count], 0) << "a shorter result is terminated";
  }
}

TEST(Base64, NeverWritesAtOrPastTheCapacity) {
  for (const decodeCase& c : decodeCases) {
    std::vector<unsigned char> full;
    int fullCount = decodeGuarded(c.text, 10, &full);
    for (int capacity = 0; capacity <= 10; ++capacity) {
      SCOPED_TRACE(c.text + " capacity " + std::to_string(capacity));
      std::vector<unsigned char> out;
      int count = decodeGuarded(c.text, capacity, &out);
      EXPECT_EQ(count, std::min(capacity, fullCount));
      EXPECT_TRUE(std::equal(out.begin(), out.begin() + count, full.begin()));
      if (count < capacity) {
        EXPECT_EQ(out[count], 0);
      }
    }
  }
}

TEST(Base64, CapacityLimitsTheResult) {
  std::vector<unsigned char> out;
  EXPECT_EQ(decodeGuarded("YWJjZA==", 2, &out), 2);
  EXPECT_EQ(std::string(out.begin(), out.end()), "ab");
  EXPECT_EQ(decodeGuarded("YWJjZA==", 3, &out), 3);
  EXPECT_EQ(std::string(out.begin(), out.end()), "abc");
  EXPECT_EQ(decodeGuarded("YWJj", 0, &out), 0);
}

TEST(Base64, EightByteValuesRoundTrip) {
  std::mt19937_64 random(12345);
  std::vector<uint64_t> values = {0, 1, UINT64_MAX, 0x8000000000000000ull, 0x0123456789ABCDEFull};
  for (int i = 0; i < 200; ++i) values.push_back(random());
  for (uint64_t value : values) {
    SCOPED_TRACE(value);
    unsigned char in[8];
    memcpy(in, &value, 8);
    char text[13];
    ASSERT_EQ(Base64Encode(in, text, 8), 12);
    text[12] = '\0';
    EXPECT_EQ(text[11], '=');
    EXPECT_NE(text[10], '=');
    std::vector<unsigned char> out;
    ASSERT_EQ(decodeGuarded(text, 8, &out), 8);
    uint64_t back;
    memcpy(&back, out.data(), 8);
    EXPECT_EQ(back, value);
  }
}

TEST(Base64, AnyBytesRoundTrip) {
  std::mt19937 random(7);
  for (int length = 0; length < 70; ++length) {
    std::vector<unsigned char> in(length);
    for (auto& b : in) b = static_cast<unsigned char>(random());
    std::string text(4 * ((length + 2) / 3) + 1, '\0');
    int chars = Base64Encode(in.data(), text.data(), length);
    ASSERT_EQ(chars, 4 * ((length + 2) / 3));
    std::vector<unsigned char> out;
    ASSERT_EQ(decodeGuarded(text, length + 1, &out), length);
    EXPECT_TRUE(std::equal(in.begin(), in.end(), out.begin())) << "length " << length;
  }
}

}  // namespace
