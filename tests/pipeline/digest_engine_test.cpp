// Every algorithm through the engine, with 1 and 2 workers: the whole digest
// in `digest`, its size, and `hash` as programs built against the earlier
// header read it (the digest when it fits, zeros when it does not). A run
// of CRC-32 and MD5 alone leaves libcrypto unloaded.
#include <dlfcn.h>

#include <zorvik/engine.h>
#include <zorvik/error.h>

#include <cstdio>
#include <string>
#include <vector>

#include "pipeline_support.h"

namespace {

const int allAlgorithms[] = {engine::crc32,  engine::md5,     engine::sha1,  engine::sha256,
                             engine::sha512, engine::blake2b, engine::xxh64, engine::xxh128};

// The digest hasher over the file's bytes, which the entries' own tests
// check against published values.
std::vector<unsigned char> digestOf(const std::string& path, int algorithm) {
  digest h(algorithm);
  h.init();
  FILE* f = fopen(path.c_str(), "rb");
  std::vector<unsigned char> buffer(1 << 16);
  for (size_t n; f != nullptr && (n = fread(buffer.data(), 1, buffer.size(), f)) > 0;)
    h.update(buffer.data(), static_cast<unsigned int>(n));
  if (f != nullptr) fclose(f);
  h.finalize();
  return std::vector<unsigned char>(h.hash(), h.hash() + h.hash_size());
}

// Around a block, a read and a mapping window, and one missing file.
struct corpus {
  scratchDir dir;
  std::vector<std::string> paths;
  std::vector<unsigned long long> sizes;
  std::string missing;

  corpus() {
    for (unsigned long long size : {0ULL, 1ULL, 63ULL, 64ULL, 65ULL, 129ULL, 8193ULL, (4ULL << 20) + 1, 6000000ULL}) {
      paths.push_back(dir.file("f" + std::to_string(paths.size())));
      sizes.push_back(size);
      makeFile(paths.back(), size);
    }
    missing = dir.file("missing");
  }
};

corpus& files() {
  static corpus c;
  return c;
}

// Checks one result of `algorithm` for the file `path` of `size` bytes.
void expectResult(const engine::result* r, const std::string& path, unsigned long long size, int algorithm) {
  ASSERT_NE(r, nullptr);
  ASSERT_EQ(r->code, 0) << path;
  EXPECT_EQ(r->size, size);
  ASSERT_EQ(r->digestSize, engine::digestSize(algorithm));
  std::vector<unsigned char> expected = digestOf(path, algorithm);
  ASSERT_EQ(expected.size(), static_cast<size_t>(r->digestSize));
  EXPECT_EQ(std::vector<unsigned char>(r->digest, r->digest + r->digestSize), expected) << path;
  unsigned char hash[16] = {};
  if (expected.size() <= sizeof hash) memcpy(hash, expected.data(), expected.size());
  EXPECT_EQ(memcmp(r->hash, hash, sizeof hash), 0) << "hash: the digest when it fits, else zeros";
  for (size_t i = expected.size(); i < sizeof r->digest; ++i) ASSERT_EQ(r->digest[i], 0) << "after the digest";
}

class DigestEngine : public ::testing::TestWithParam<int> {};

TEST_P(DigestEngine, EveryAlgorithmGivesItsWholeDigest) {
  corpus& c = files();
  engine hashing(GetParam());
  for (int algorithm : allAlgorithms) {
    SCOPED_TRACE(algorithm);
    for (const std::string& path : c.paths) ASSERT_EQ(hashing.submit(widen(path).c_str(), algorithm, 0, nullptr), 0);
    ASSERT_EQ(hashing.submit(widen(c.missing).c_str(), algorithm, 0, nullptr), 0);
    for (size_t i = 0; i < c.paths.size(); ++i) expectResult(hashing.take(-1), c.paths[i], c.sizes[i], algorithm);
    const engine::result* r = hashing.take(-1);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->code, error::file_not_found);
    EXPECT_EQ(r->digestSize, engine::digestSize(algorithm));
  }
}

// Jobs of every algorithm side by side: the slots of the ring hold one
// kind of state after another.
TEST_P(DigestEngine, AlgorithmsMixedInOneRun) {
  corpus& c = files();
  engine hashing(GetParam());
  for (int round = 0; round < 3; ++round)
    for (size_t i = 0; i < c.paths.size(); ++i)
      for (int algorithm : allAlgorithms)
        ASSERT_EQ(hashing.submit(widen(c.paths[i]).c_str(), algorithm, 0, nullptr), 0);
  for (int round = 0; round < 3; ++round)
    for (size_t i = 0; i < c.paths.size(); ++i)
      for (int algorithm : allAlgorithms) expectResult(hashing.take(-1), c.paths[i], c.sizes[i], algorithm);
}

INSTANTIATE_TEST_SUITE_P(Workers, DigestEngine, ::testing::Values(1, 2));

TEST(DigestEngineSizes, OfEveryAlgorithm) {
  const int sizes[] = {4, 16, 20, 32, 64, 64, 8, 16};
  for (int algorithm : allAlgorithms) EXPECT_EQ(engine::digestSize(algorithm), sizes[algorithm]) << algorithm;
  EXPECT_EQ(engine::digestSize(-1), 0);
  EXPECT_EQ(engine::digestSize(1000), 0);
}

bool cryptoLoaded() {
  void* handle = dlopen(ZORVIK_LIBCRYPTO_SONAME, RTLD_NOW | RTLD_NOLOAD);
  if (handle != nullptr) dlclose(handle);
  return handle != nullptr;
}

// A library user hashing CRC-32 and MD5 never has libcrypto loaded; the
// first SHA-256 job loads it.
TEST(DigestEngineLibraries, CrcAndMd5LeaveLibcryptoUnloaded) {
  if (cryptoLoaded()) GTEST_SKIP() << "libcrypto was loaded before this test: run it alone to see";
  corpus& c = files();
  {
    engine hashing(2);
    for (int algorithm : {engine::crc32, engine::md5}) {
      for (const std::string& path : c.paths) ASSERT_EQ(hashing.submit(widen(path).c_str(), algorithm, 0, nullptr), 0);
      for (size_t i = 0; i < c.paths.size(); ++i) ASSERT_EQ(hashing.take(-1)->code, 0);
    }
    crc plain;
    digest viaDigest(engine::md5);
    unsigned char byte = 1;
    for (hasher* h : {static_cast<hasher*>(&plain), static_cast<hasher*>(&viaDigest)}) {
      h->init();
      h->update(&byte, 1);
      h->finalize();
    }
  }
  EXPECT_FALSE(cryptoLoaded());
  engine hashing(1);
  ASSERT_EQ(hashing.submit(widen(c.paths[1]).c_str(), engine::sha256, 0, nullptr), 0);
  ASSERT_EQ(hashing.take(-1)->code, 0);
  EXPECT_TRUE(cryptoLoaded()) << "the check above sees a loaded libcrypto";
}

// A program may end while an engine of its statics still holds workers
// that hashed with libcrypto: libcrypto must not be torn down by an exit
// handler before them. (The sanitizer builds see what it would leave.)
TEST(DigestEngineLibraries, ExitWithAnEngineStillAlive) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  std::string path = files().paths[7];
  EXPECT_EXIT(
      {
        static engine hashing(2);
        for (int algorithm : {engine::sha256, engine::blake2b}) {
          if (hashing.submit(widen(path).c_str(), algorithm, 0, nullptr) != 0) exit(2);
        }
        for (int i = 0; i < 2; ++i) {
          const engine::result* r = hashing.take(-1);
          if (r == nullptr || r->code != 0) exit(3);
        }
        exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
