#include <cstdio>
#include <cstring>

#include <zorvik/hasher.h>

#include "support.h"

using namespace hashtest;

namespace {

uint32_t valueOf(const crc& c) {
  uint32_t v;
  std::memcpy(&v, c.hash(), 4);
  return v;
}

uint32_t crcOf(unsigned char* data, size_t length) {
  crc c;
  c.init();
  c.update(data, static_cast<unsigned int>(length));
  c.finalize();
  return valueOf(c);
}

std::string upperHex(uint32_t v) {
  char text[9];
  std::snprintf(text, sizeof text, "%08X", v);
  return text;
}

const char check[] = "123456789";

}  // namespace

TEST(Crc, CheckValueWholeAndByteByByte) {
  auto data = bytesOf(check);
  EXPECT_EQ(crcOf(data.data(), data.size()), 0xCBF43926u);

  crc c;
  c.init();
  for (unsigned char& b : data) c.update(&b, 1);
  c.finalize();
  EXPECT_EQ(valueOf(c), 0xCBF43926u);
}

// Offsets 0 and 4 with 8 bytes take the word path, the others the byte path;
// the feeds below switch between the two within one hash.
TEST(Crc, CheckValueFromEveryStartOffset) {
  alignas(16) unsigned char buffer[32];
  for (size_t offset = 0; offset < 8; ++offset) {
    SCOPED_TRACE(offset);
    unsigned char* p = buffer + offset;
    std::memcpy(p, check, 9);
    EXPECT_EQ(crcOf(p, 9), 0xCBF43926u);

    const size_t splits[] = {1, 4, 5, 8};
    for (size_t split : splits) {
      crc c;
      c.init();
      c.update(p, static_cast<unsigned int>(split));
      c.update(p + split, static_cast<unsigned int>(9 - split));
      c.finalize();
      EXPECT_EQ(valueOf(c), 0xCBF43926u) << "split " << split;
    }
  }
}

TEST(Crc, WordStepsEqualByteSteps) {
  alignas(16) unsigned char buffer[64];
  for (size_t i = 0; i < sizeof buffer; ++i) buffer[i] = static_cast<unsigned char>(i * 37 + 11);
  for (size_t offset = 0; offset < 8; ++offset) {
    for (size_t length = 0; length <= 40; ++length) {
      crc bytewise;
      bytewise.init();
      for (size_t i = 0; i < length; ++i) bytewise.update(buffer + offset + i, 1);
      bytewise.finalize();
      EXPECT_EQ(crcOf(buffer + offset, length), valueOf(bytewise))
          << "offset " << offset << " length " << length;
    }
  }
}

TEST(Crc, EmptyInputAndZeroLengthUpdates) {
  alignas(4) unsigned char word[4] = {1, 2, 3, 4};
  crc c;
  c.init();
  c.update(word, 0);      // aligned address, length 0: word path
  c.update(word + 1, 0);  // unaligned: byte path
  c.finalize();
  EXPECT_EQ(valueOf(c), 0u);
  EXPECT_EQ(narrow(c.hash_string()), "00000000");
}

TEST(Crc, HashStringShowsMemoryOrder) {
  auto data = bytesOf(check);
  crc c;
  c.init();
  c.update(data.data(), static_cast<unsigned int>(data.size()));
  c.finalize();
  EXPECT_EQ(narrow(c.hash_string()), "2639f4cb");   // bytes as they lie
  EXPECT_EQ(upperHex(valueOf(c)), "CBF43926");      // the SFV text of the value
}

TEST(Crc, HashStringRotatesFourBuffers) {
  crc c;
  const unsigned char values[5][4] = {
      {1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}, {13, 14, 15, 16}, {17, 18, 19, 20}};
  const wchar_t* texts[5];
  for (int i = 0; i < 5; ++i) texts[i] = c.hash_string(values[i]);

  EXPECT_EQ(texts[4], texts[0]);
  for (int i = 0; i < 4; ++i)
    for (int j = i + 1; j < 4; ++j) EXPECT_NE(texts[i], texts[j]);
  EXPECT_EQ(narrow(texts[1]), "05060708");  // the last four stay valid
  EXPECT_EQ(narrow(texts[3]), "0d0e0f10");
  EXPECT_EQ(narrow(texts[4]), "11121314");
}

// The length comes from the object, also for bytes passed in.
TEST(Crc, HashStringTakesLengthFromHashSize) {
  const unsigned char sixteen[16] = {0xde, 0xad, 0xbe, 0xef, 0xff, 0xff, 0xff, 0xff,
                                     0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
  crc c;
  EXPECT_EQ(c.hash_size(), 4);  // also before init()
  EXPECT_EQ(narrow(c.hash_string(sixteen)), "deadbeef");
}

TEST(Crc, ObjectServesManyFiles) {
  auto data = bytesOf(check);
  crc c;
  for (int round = 0; round < 3; ++round) {
    c.init();
    c.update(data.data(), static_cast<unsigned int>(data.size()));
    c.finalize();
    EXPECT_EQ(valueOf(c), 0xCBF43926u);
  }
}

TEST(Crc, BoundaryVectors) {
  auto vectors = readVectors("crc32.txt");
  ASSERT_EQ(vectors.size(), 26u);
  for (const auto& v : vectors) {
    auto data = pattern251(v.length);
    EXPECT_EQ(upperHex(crcOf(data.data(), data.size())), v.digest) << "length " << v.length;

    // As the reader delivers it: 8192-byte pieces.
    crc c;
    c.init();
    for (size_t pos = 0; pos < data.size(); pos += 8192)
      c.update(data.data() + pos, static_cast<unsigned int>(std::min<size_t>(8192, data.size() - pos)));
    c.finalize();
    EXPECT_EQ(upperHex(valueOf(c)), v.digest) << "pieces, length " << v.length;
  }
}

TEST(Crc, MillionA) {
  std::vector<unsigned char> data(1000000, 'a');
  EXPECT_EQ(crcOf(data.data(), data.size()), 0xDC25BFBCu);
}
