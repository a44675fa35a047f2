#include <cstring>
#include <cwchar>
#include <map>

#include <zorvik/hasher.h>

#include "support.h"

using namespace hashtest;

namespace {

std::string md5Of(const unsigned char* data, size_t length) {
  MD5_CTX context;
  unsigned char digest[16];
  MD5Init(&context);
  MD5Update(&context, data, static_cast<unsigned int>(length));
  MD5Final(digest, &context);
  return hex(digest, 16);
}

bool allZero(const void* p, size_t n) {
  const unsigned char* bytes = static_cast<const unsigned char*>(p);
  for (size_t i = 0; i < n; ++i)
    if (bytes[i] != 0) return false;
  return true;
}

}  // namespace

// RFC 1321, appendix A.5.
TEST(Md5, RfcTestSuite) {
  const struct {
    const char* message;
    const char* digest;
  } suite[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  md5hasher h;
  for (const auto& c : suite) {
    auto data = bytesOf(c.message);
    h.init();
    h.update(data.data(), static_cast<unsigned int>(data.size()));
    h.finalize();
    EXPECT_EQ(narrow(h.hash_string()), c.digest) << '"' << c.message << '"';
    EXPECT_EQ(md5Of(data.data(), data.size()), c.digest);
  }
}

// Around the padding boundary (56) and the block boundary (64): one feed,
// byte by byte, and two feeds split at every point give the committed digest.
TEST(Md5, SplitsAroundBlockAndPaddingBoundaries) {
  std::map<size_t, std::string> expected;
  for (const auto& v : readVectors("md5.txt")) expected[v.length] = v.digest;

  for (size_t length : {55, 56, 63, 64, 65, 128}) {
    SCOPED_TRACE(length);
    ASSERT_EQ(expected.count(length), 1u);
    auto data = pattern251(length);
    EXPECT_EQ(md5Of(data.data(), length), expected[length]);

    MD5_CTX context;
    unsigned char digest[16];
    MD5Init(&context);
    for (size_t i = 0; i < length; ++i) MD5Update(&context, &data[i], 1);
    MD5Final(digest, &context);
    EXPECT_EQ(hex(digest, 16), expected[length]) << "byte by byte";

    for (size_t split = 0; split <= length; ++split) {
      MD5Init(&context);
      MD5Update(&context, data.data(), static_cast<unsigned int>(split));
      MD5Update(&context, data.data() + split, static_cast<unsigned int>(length - split));
      MD5Final(digest, &context);
      EXPECT_EQ(hex(digest, 16), expected[length]) << "split at " << split;
    }
  }
}

TEST(Md5, ContextClearedAfterFinalDigestKept) {
  auto data = bytesOf("abc");
  MD5_CTX context;
  unsigned char digest[16];
  MD5Init(&context);
  MD5Update(&context, data.data(), 3);
  MD5Final(digest, &context);
  EXPECT_TRUE(allZero(&context, sizeof context));
  EXPECT_EQ(hex(digest, 16), "900150983cd24fb0d6963f7d28e17f72");

  md5hasher h;
  h.init();
  h.update(data.data(), 3);
  h.finalize();
  EXPECT_EQ(hex(h.hash(), 16), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(hex(h.hash(), 16), "900150983cd24fb0d6963f7d28e17f72");  // read again
}

TEST(Md5, EmptyInputAndZeroLengthUpdates) {
  unsigned char byte = 0;
  md5hasher h;
  EXPECT_EQ(h.hash_size(), 16);  // also before init()
  h.init();
  h.update(&byte, 0);
  h.update(nullptr, 0);
  h.finalize();
  EXPECT_EQ(narrow(h.hash_string()), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(std::wcslen(h.hash_string()), 32u);
}

// The bit count is two words, low first; the carry into the high word must
// not be lost.
TEST(Md5, BitCountCarriesIntoHighWord) {
  MD5_CTX context;
  MD5Init(&context);
  context.count[0] = 0xFFFFFFF8u;  // as if 2^29 - 1 bytes had been fed
  unsigned char byte = 'x';
  MD5Update(&context, &byte, 1);
  EXPECT_EQ(context.count[0], 0u);
  EXPECT_EQ(context.count[1], 1u);

  MD5Init(&context);
  std::vector<unsigned char> data(100, 'y');
  MD5Update(&context, data.data(), 100);
  EXPECT_EQ(context.count[0], 800u);
  EXPECT_EQ(context.count[1], 0u);
  EXPECT_EQ(std::memcmp(context.buffer, data.data(), 36), 0);  // 100 % 64 bytes kept
}

TEST(Md5, BoundaryVectors) {
  auto vectors = readVectors("md5.txt");
  ASSERT_EQ(vectors.size(), 26u);
  md5hasher h;
  for (const auto& v : vectors) {
    auto data = pattern251(v.length);
    EXPECT_EQ(md5Of(data.data(), data.size()), v.digest) << "length " << v.length;

    // Odd piece sizes put every block at a different offset into the input.
    h.init();
    for (size_t pos = 0; pos < data.size(); pos += 8191)
      h.update(data.data() + pos, static_cast<unsigned int>(std::min<size_t>(8191, data.size() - pos)));
    h.finalize();
    EXPECT_EQ(hex(h.hash(), 16), v.digest) << "pieces, length " << v.length;
  }
}

TEST(Md5, MillionA) {
  std::vector<unsigned char> data(1000000, 'a');
  EXPECT_EQ(md5Of(data.data(), data.size()), "7707d6ae4e027c70eea2a935c2296f21");

  md5hasher h;
  h.init();
  for (size_t pos = 0; pos < data.size(); pos += 1000) h.update(data.data() + pos, 1000);
  h.finalize();
  EXPECT_EQ(narrow(h.hash_string()), "7707d6ae4e027c70eea2a935c2296f21");
}
