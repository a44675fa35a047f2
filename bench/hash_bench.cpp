// Hash throughput: every CRC-32 variant built in and MD5, beside the
// yardsticks ISA-L crc32_gzip_refl, zlib crc32 and OpenSSL MD5; and the
// entries backed by libcrypto and libxxhash beside those libraries' own
// single-buffer update, to show the entry adds nothing. At the sizes the
// pipeline uses (64 B, the reader's 8 KiB piece, the 4 MiB mapping window,
// 64 MiB to miss the caches), from an aligned start and at +3.
//
//   hash_bench --benchmark_min_time=0.5
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include <benchmark/benchmark.h>

#if ZORVIK_BENCH_OPENSSL
// Both declare an MD5_CTX; OpenSSL's is renamed for this file.
#define OPENSSL_SUPPRESS_DEPRECATED  // MD5_Update is the yardstick for MD5Update
#define MD5_CTX openssl_MD5_CTX
#include <openssl/evp.h>
#include <openssl/md5.h>
#undef MD5_CTX
#endif
#define XXH_STATIC_LINKING_ONLY
#include <xxhash.h>
#if ZORVIK_XXH_DISPATCH
#define XXH_DISPATCH_DISABLE_REPLACE
#include <xxh_x86dispatch.h>
#endif
#if ZORVIK_BENCH_ISAL
#include <isa-l/crc.h>
#endif
#if ZORVIK_BENCH_ISAL_VARIANTS
// ISA-L's PCLMULQDQ (by8) and VPCLMULQDQ (by16_10) versions; same contract
// as crc32_gzip_refl.
extern "C" uint32_t crc32_gzip_refl_by8(uint32_t crc, const unsigned char* buf, uint64_t len);
extern "C" uint32_t crc32_gzip_refl_by16_10(uint32_t crc, const unsigned char* buf, uint64_t len);
#endif
#if ZORVIK_BENCH_ZLIB
#include <zlib.h>
#endif

#include <zorvik/hasher.h>

#include "hash/algorithm.h"
#include "hash/crc_impl.h"

namespace {

constexpr size_t maxSize = size_t(64) << 20;

// One buffer for all runs, 64-byte aligned, random contents.
unsigned char* buffer() {
  static unsigned char* data = [] {
    auto* p = static_cast<unsigned char*>(std::aligned_alloc(64, maxSize + 64));
    std::mt19937_64 rng(1);
    for (size_t i = 0; i < maxSize + 64; i += 8) {
      uint64_t r = rng();
      std::memcpy(p + i, &r, 8);
    }
    return p;
  }();
  return data;
}

// Runs `hash(data, size)` over the buffer at range(0) bytes from offset range(1).
template <typename Fn>
void run(benchmark::State& state, Fn hash) {
  const size_t size = size_t(state.range(0));
  const unsigned char* data = buffer() + state.range(1);
  for (auto _ : state) benchmark::DoNotOptimize(hash(data, size));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(size));
}

void applySizes(benchmark::internal::Benchmark* b) {
  for (int64_t size : {int64_t(64), int64_t(8192), int64_t(4) << 20, int64_t(maxSize)})
    for (int64_t offset : {0, 3}) b->Args({size, offset});
  b->ArgNames({"bytes", "offset"});
}

void registerAll() {
  for (const zorvik::crcVariant& v : zorvik::crcVariants()) {
    benchmark::RegisterBenchmark(
        (std::string("crc32/") + v.name).c_str(),
        [v](benchmark::State& state) {
          if (!v.available()) {
            state.SkipWithError("not supported by this CPU");
            return;
          }
          run(state, [&](const unsigned char* p, size_t n) { return v.update(0xFFFFFFFFu, p, n); });
        })
        ->Apply(applySizes);
  }
  benchmark::RegisterBenchmark("crc32/dispatched", [](benchmark::State& state) {
    run(state, [](const unsigned char* p, size_t n) { return zorvik::crcUpdate(0xFFFFFFFFu, p, n); });
  })->Apply(applySizes);
#if ZORVIK_BENCH_ISAL
  benchmark::RegisterBenchmark("crc32/isal_gzip_refl", [](benchmark::State& state) {
    run(state, [](const unsigned char* p, size_t n) { return crc32_gzip_refl(0, p, n); });
  })->Apply(applySizes);
#endif
#if ZORVIK_BENCH_ISAL_VARIANTS
  benchmark::RegisterBenchmark("crc32/isal_by8", [](benchmark::State& state) {
    run(state, [](const unsigned char* p, size_t n) { return crc32_gzip_refl_by8(0, p, n); });
  })->Apply(applySizes);
  benchmark::RegisterBenchmark("crc32/isal_by16_10", [](benchmark::State& state) {
    run(state, [](const unsigned char* p, size_t n) { return crc32_gzip_refl_by16_10(0, p, n); });
  })->Apply(applySizes);
#endif
#if ZORVIK_BENCH_ZLIB
  benchmark::RegisterBenchmark("crc32/zlib", [](benchmark::State& state) {
    run(state, [](const unsigned char* p, size_t n) { return crc32_z(0, p, n); });
  })->Apply(applySizes);
#endif

  benchmark::RegisterBenchmark("md5/MD5Update", [](benchmark::State& state) {
    MD5_CTX context;
    MD5Init(&context);
    run(state, [&](const unsigned char* p, size_t n) {
      MD5Update(&context, p, static_cast<unsigned int>(n));
      return context.state[0];
    });
  })->Apply(applySizes);
#if ZORVIK_BENCH_OPENSSL
  benchmark::RegisterBenchmark("md5/openssl_MD5_Update", [](benchmark::State& state) {
    openssl_MD5_CTX context;
    MD5_Init(&context);
    run(state, [&](const unsigned char* p, size_t n) {
      MD5_Update(&context, p, n);
      return context.A;
    });
  })->Apply(applySizes);
#endif
}

// A registry entry's update on one live stream, as the engine calls it.
void registerEntry(int id) {
  const zorvik::algorithm& a = *zorvik::findAlgorithm(id);
  benchmark::RegisterBenchmark((std::string(a.name) + "/entry").c_str(), [&a](benchmark::State& state) {
    alignas(64) static unsigned char stream[1024];
    if (a.stateSize > sizeof stream || !a.init(stream)) {
      state.SkipWithError("the entry could not begin");
      return;
    }
    run(state, [&](const unsigned char* p, size_t n) {
      a.update(stream, p, n);
      return stream[0];
    });
    if (a.release != nullptr) a.release(stream);
  })->Apply(applySizes);
}

void registerFurther() {
  for (int id : {zorvik::sha1Id, zorvik::sha256Id, zorvik::sha512Id, zorvik::blake2bId, zorvik::xxh64Id,
                 zorvik::xxh128Id})
    registerEntry(id);
#if ZORVIK_BENCH_OPENSSL
  const struct {
    const char* row;
    const char* name;
  } evp[] = {{"sha1/openssl_EVP_DigestUpdate", "SHA1"},
             {"sha256/openssl_EVP_DigestUpdate", "SHA2-256"},
             {"sha512/openssl_EVP_DigestUpdate", "SHA2-512"},
             {"blake2b/openssl_EVP_DigestUpdate", "BLAKE2B-512"}};
  for (const auto& e : evp) {
    benchmark::RegisterBenchmark(e.row, [name = e.name](benchmark::State& state) {
      EVP_MD* md = EVP_MD_fetch(nullptr, name, nullptr);
      EVP_MD_CTX* context = EVP_MD_CTX_new();
      EVP_DigestInit_ex2(context, md, nullptr);
      run(state, [&](const unsigned char* p, size_t n) { return EVP_DigestUpdate(context, p, n); });
      EVP_MD_CTX_free(context);
      EVP_MD_free(md);
    })->Apply(applySizes);
  }
#endif
  benchmark::RegisterBenchmark("xxh64/XXH64_update", [](benchmark::State& state) {
    XXH64_state_t stream;
    XXH64_reset(&stream, 0);
    run(state, [&](const unsigned char* p, size_t n) { return XXH64_update(&stream, p, n); });
  })->Apply(applySizes);
  benchmark::RegisterBenchmark("xxh128/XXH3_128bits_update", [](benchmark::State& state) {
    alignas(64) static XXH3_state_t stream;
    XXH3_128bits_reset(&stream);
    run(state, [&](const unsigned char* p, size_t n) { return XXH3_128bits_update(&stream, p, n); });
  })->Apply(applySizes);
#if ZORVIK_XXH_DISPATCH
  benchmark::RegisterBenchmark("xxh128/XXH3_128bits_update_dispatch", [](benchmark::State& state) {
    alignas(64) static XXH3_state_t stream;
    XXH3_128bits_reset(&stream);
    run(state, [&](const unsigned char* p, size_t n) { return XXH3_128bits_update_dispatch(&stream, p, n); });
  })->Apply(applySizes);
#endif
}

}  // namespace

int main(int argc, char** argv) {
  buffer();
  registerAll();
  registerFurther();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
