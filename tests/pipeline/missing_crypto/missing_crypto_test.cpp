// With a libcrypto that lacks its functions (ctest points LD_LIBRARY_PATH
// at a stand-in), every SHA and BLAKE2b job ends with Unknown error naming
// the missing library, the digest hasher says it is not usable, and the
// algorithms that do not need libcrypto hash on.
#include <dlfcn.h>

#include <zorvik/engine.h>
#include <zorvik/error.h>

#include <cerrno>

#include "../pipeline_support.h"

namespace {

// Whether the libcrypto the loader finds is the stand-in.
bool standInFound() {
  void* handle = dlopen(ZORVIK_LIBCRYPTO_SONAME, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) return true;  // none at all: as good for this test
  bool standIn = dlsym(handle, "EVP_MD_fetch") == nullptr;
  dlclose(handle);
  return standIn;
}

TEST(MissingCrypto, JobsEndWithAnErrorAndTheRestHashOn) {
  if (!standInFound()) GTEST_SKIP() << "the real libcrypto is found: run through ctest";
  scratchDir dir;
  std::string path = dir.file("data");
  makeFile(path, 100000);
  for (int workers : {1, 2}) {
    SCOPED_TRACE(workers);
    engine hashing(workers);
    const int algorithms[] = {engine::sha1, engine::crc32, engine::sha256, engine::xxh128,
                              engine::sha512, engine::blake2b, engine::md5, engine::xxh64};
    for (int algorithm : algorithms) ASSERT_EQ(hashing.submit(widen(path).c_str(), algorithm, 0, nullptr), 0);
    for (int algorithm : algorithms) {
      const engine::result* r = hashing.take(-1);
      ASSERT_NE(r, nullptr);
      bool needsCrypto = engine::digestSize(algorithm) >= 20;
      if (needsCrypto) {
        EXPECT_EQ(r->code, error::unknown_error) << algorithm;
        EXPECT_EQ(error::unknown_errno(), ELIBACC) << algorithm;
      } else {
        EXPECT_EQ(r->code, 0) << algorithm;
        EXPECT_EQ(r->size, 100000u);
      }
    }
  }
}

TEST(MissingCrypto, DigestHasherIsNotUsable) {
  if (!standInFound()) GTEST_SKIP() << "the real libcrypto is found: run through ctest";
  digest h(engine::sha256);
  EXPECT_TRUE(h.usable()) << "known before it is tried";
  EXPECT_EQ(h.hash_size(), 32);
  h.init();
  EXPECT_FALSE(h.usable());
  unsigned char byte = 'x';
  h.update(&byte, 1);
  h.finalize();
  EXPECT_EQ(h.hash_size(), 32);
  EXPECT_EQ(std::string(64, '0'), [&] {
    std::string text;
    for (const wchar_t* c = h.hash_string(); *c != 0; ++c) text += static_cast<char>(*c);
    return text;
  }()) << "no digest";
  digest other(engine::xxh64);
  other.init();
  EXPECT_TRUE(other.usable());
}

}  // namespace
