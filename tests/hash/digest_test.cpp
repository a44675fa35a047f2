// The entries of the library-backed algorithms (SHA-1/256/512 and BLAKE2b
// through libcrypto, XXH64 and XXH128 through libxxhash) against published
// values and the committed boundary vectors, fed whole, split, byte by byte
// and from unaligned starts; and the `digest` hasher over every entry.
#include <cstring>
#include <map>

#include <zorvik/hasher.h>

#include "hash/algorithm.h"
#include "support.h"

using namespace hashtest;

namespace {

struct further {
  int id;
  const char* name;
  int digestSize;
  size_t stateAlign;
  const char* vectors;
};

const further algorithms[] = {
    {zorvik::sha1Id, "sha1", 20, alignof(void*), "sha1.txt"},
    {zorvik::sha256Id, "sha256", 32, alignof(void*), "sha256.txt"},
    {zorvik::sha512Id, "sha512", 64, alignof(void*), "sha512.txt"},
    {zorvik::blake2bId, "blake2b", 64, alignof(void*), "blake2b.txt"},
    {zorvik::xxh64Id, "xxh64", 8, 8, "xxh64.txt"},
    {zorvik::xxh128Id, "xxh128", 16, 64, "xxh128.txt"},
};

// A state as the engine's ring gives one: 64-byte aligned, room for any entry.
struct slot {
  alignas(64) unsigned char bytes[1024];
};

// Hashes `data` through entry `a`, cut at each of `cuts` (ascending).
std::string hashCut(const zorvik::algorithm& a, const unsigned char* data, size_t length,
                    std::initializer_list<size_t> cuts = {}) {
  slot state;
  unsigned char digest[zorvik::maxDigestSize] = {};
  EXPECT_TRUE(a.init(state.bytes));
  size_t at = 0;
  for (size_t cut : cuts) {
    a.update(state.bytes, data + at, cut - at);
    at = cut;
  }
  a.update(state.bytes, data + at, length - at);
  a.final(state.bytes, digest);
  if (a.release != nullptr) a.release(state.bytes);
  return hex(digest, static_cast<size_t>(a.digestSize));
}

std::string hashWith(digest& h, const std::vector<unsigned char>& data) {
  h.init();
  std::vector<unsigned char> copy = data;
  h.update(copy.data(), static_cast<unsigned int>(copy.size()));
  h.finalize();
  return narrow(h.hash_string());
}

TEST(Digests, EntriesAreSingleStreams) {
  for (const further& f : algorithms) {
    const zorvik::algorithm* a = zorvik::findAlgorithm(f.id);
    ASSERT_NE(a, nullptr) << f.name;
    EXPECT_STREQ(a->name, f.name);
    EXPECT_EQ(a->digestSize, f.digestSize) << f.name;
    EXPECT_EQ(a->stateAlign, f.stateAlign) << f.name;
    EXPECT_LE(a->stateSize, sizeof(slot)) << f.name;
    EXPECT_EQ(a->join, nullptr) << f.name << ": these digests do not join";
    // SHA-256 has lanes where the CPU runs them well (sha256_lanes_test.cpp).
    if (f.id != zorvik::sha256Id) {
      EXPECT_EQ(a->lanes, nullptr) << f.name;
    }
  }
}

// FIPS 180-2's examples, RFC 7693's appendix A, xxHash's values for the
// empty input and xxhsum's for "abc".
TEST(Digests, PublishedValues) {
  const struct {
    int id;
    const char* message;
    const char* digest;
  } published[] = {
      {zorvik::sha1Id, "", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
      {zorvik::sha1Id, "abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {zorvik::sha1Id, "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
      {zorvik::sha256Id, "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {zorvik::sha256Id, "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {zorvik::sha256Id, "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {zorvik::sha512Id, "",
       "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce"
       "47d0d13c5d85f2b0ff8318d2877eec2f63b931bd47417a81a538327af927da3e"},
      {zorvik::sha512Id, "abc",
       "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
       "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f"},
      {zorvik::sha512Id,
       "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrst"
       "nopqrstu",
       "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018"
       "501d289e4900f7e4331b99dec4b5433ac7d329eeb6dd26545e96e55b874be909"},
      {zorvik::blake2bId, "",
       "786a02f742015903c6c6fd852552d272912f4740e15847618a86e217f71f5419"
       "d25e1031afee585313896444934eb04b903a685b1448b755d56f701afe9be2ce"},
      {zorvik::blake2bId, "abc",
       "ba80a53f981c4d0d6a2797b69f12f6e94c212f14685ac4b74b12bb6fdbffa2d1"
       "7d87c5392aab792dc252d5de4533cc9518d38aa8dbf1925ab92386edd4009923"},
      {zorvik::xxh64Id, "", "ef46db3751d8e999"},
      {zorvik::xxh64Id, "abc", "44bc2cf5ad770999"},
      {zorvik::xxh128Id, "", "99aa06d3014798d86001c324468d497f"},
      {zorvik::xxh128Id, "abc", "06b05ab6733a618578af5f94892f3950"},
  };
  for (const auto& p : published) {
    SCOPED_TRACE(std::to_string(p.id) + " \"" + p.message + "\"");
    std::vector<unsigned char> data = bytesOf(p.message);
    EXPECT_EQ(hashCut(*zorvik::findAlgorithm(p.id), data.data(), data.size()), p.digest);
    digest h(p.id);
    EXPECT_EQ(hashWith(h, data), p.digest) << "through the hasher";
  }
}

// Every committed length in one feed, from every start offset 0 to 7; the
// shorter ones also byte by byte and cut at every point, in two and three.
TEST(Digests, BoundaryVectorsHowEverFed) {
  for (const further& f : algorithms) {
    const zorvik::algorithm& a = *zorvik::findAlgorithm(f.id);
    std::vector<vectorLine> lines = readVectors(f.vectors);
    ASSERT_GE(lines.size(), 40u) << f.vectors;
    for (const vectorLine& v : lines) {
      SCOPED_TRACE(std::string(f.name) + ", length " + std::to_string(v.length));
      std::vector<unsigned char> data = pattern251(v.length);
      std::vector<unsigned char> shifted(v.length + 8);
      for (size_t offset = 0; offset < 8; ++offset) {
        std::copy(data.begin(), data.end(), shifted.begin() + offset);
        EXPECT_EQ(hashCut(a, shifted.data() + offset, v.length), v.digest) << "offset " << offset;
      }
      if (v.length > 257) {
        EXPECT_EQ(hashCut(a, data.data(), v.length, {v.length / 3, v.length / 3 + 1, v.length - 1}), v.digest);
        continue;
      }
      slot state;
      unsigned char digest[zorvik::maxDigestSize];
      ASSERT_TRUE(a.init(state.bytes));
      for (size_t i = 0; i < v.length; ++i) a.update(state.bytes, &data[i], 1);
      a.final(state.bytes, digest);
      if (a.release != nullptr) a.release(state.bytes);
      EXPECT_EQ(hex(digest, static_cast<size_t>(a.digestSize)), v.digest) << "byte by byte";
      for (size_t cut = 0; cut <= v.length; ++cut) {
        EXPECT_EQ(hashCut(a, data.data(), v.length, {cut}), v.digest) << "cut at " << cut;
        EXPECT_EQ(hashCut(a, data.data(), v.length, {cut / 2, cut}), v.digest) << "cut at " << cut / 2 << ", " << cut;
      }
    }
  }
}

// One object hashes file after file (each entry's state is restarted or
// begun anew), also after an init that was never finalised; CRC-32 and MD5
// come out as crc and md5hasher lay them out.
TEST(DigestHasher, HashesOneInputAfterAnother) {
  const std::vector<unsigned char> nine = bytesOf("123456789");
  const std::vector<unsigned char> abc = bytesOf("abc");
  const struct {
    int id;
    int size;
    const char* ofNine;  // what crc/md5hasher, sha256sum, ... say
    const char* ofAbc;
  } cases[] = {
      {zorvik::crc32Id, 4, "2639f4cb", "c2412435"},
      {zorvik::md5Id, 16, "25f9e794323b453885f5181f1b624d0b", "900150983cd24fb0d6963f7d28e17f72"},
      {zorvik::sha256Id, 32, "15e2b0d3c33891ebb0f1ef609ec419420c20e320ce94c65fbc8c3312448eb225",
       "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {zorvik::xxh64Id, 8, "8cb841db40e6ae83", "44bc2cf5ad770999"},
      {zorvik::xxh128Id, 16, "33119477ede5dcd5e9716427681d5860", "06b05ab6733a618578af5f94892f3950"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    digest h(c.id);
    EXPECT_TRUE(h.usable());
    EXPECT_EQ(h.hash_size(), c.size);
    EXPECT_EQ(h.algorithm(), c.id);
    EXPECT_EQ(hex(h.hash(), static_cast<size_t>(c.size)), std::string(2 * static_cast<size_t>(c.size), '0'))
        << "zeros before the first digest";
    EXPECT_EQ(hashWith(h, nine), c.ofNine);
    EXPECT_EQ(hashWith(h, abc), c.ofAbc);
    h.init();  // never finalised: what it took is given back by the next init
    std::vector<unsigned char> copy = nine;
    h.update(copy.data(), 4);
    EXPECT_EQ(hashWith(h, nine), c.ofNine);
    h.init();  // and by the destructor
  }
  crc c;
  md5hasher m;
  digest dc(zorvik::crc32Id), dm(zorvik::md5Id);
  for (hasher* each : {static_cast<hasher*>(&c), static_cast<hasher*>(&dc), static_cast<hasher*>(&m),
                       static_cast<hasher*>(&dm)}) {
    std::vector<unsigned char> copy = nine;
    each->init();
    each->update(copy.data(), 9);
    each->finalize();
  }
  EXPECT_EQ(memcmp(c.hash(), dc.hash(), 4), 0);
  EXPECT_EQ(memcmp(m.hash(), dm.hash(), 16), 0);
}

TEST(DigestHasher, EveryBuiltInEntryFitsAndUnknownIdsDoNothing) {
  for (int id = 0; id < zorvik::builtInCount; ++id) {
    digest h(id);
    EXPECT_TRUE(h.usable()) << id;
    EXPECT_EQ(h.hash_size(), zorvik::findAlgorithm(id)->digestSize) << id;
  }
  for (int id : {-1, 1000}) {
    digest h(id);
    EXPECT_FALSE(h.usable()) << id;
    EXPECT_EQ(h.hash_size(), 0) << id;
    unsigned char byte = 'x';
    h.init();
    h.update(&byte, 1);
    h.finalize();
    EXPECT_FALSE(h.usable()) << id;
    EXPECT_STREQ(h.hash_string(), L"") << id;
  }
}

}  // namespace
