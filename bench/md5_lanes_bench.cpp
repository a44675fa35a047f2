// Multi-buffer MD5: the aggregate throughput of 16 streams through each lane
// variant built in, against the same 16 streams one after another through
// the single-stream transform, at 64 KiB, 1 MiB and 64 MiB per stream (the
// last misses the caches). Each variant is also fed 4 and 8 lanes per call,
// the 16 streams in groups, to show where its width lies.
//
//   md5_lanes_bench --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
#include <cstdlib>
#include <cstring>
#include <string>

#include <benchmark/benchmark.h>

#include "hash/md5_lanes.h"
#include "hash/md5_transform.h"

namespace {

constexpr int streams = 16;
constexpr size_t maxSize = size_t(64) << 20;

// One buffer per stream, 64-byte aligned, pseudo-random contents.
unsigned char* const* buffers() {
  static unsigned char* data[streams] = {};
  if (data[0] == nullptr) {
    uint64_t x = 0x9E3779B97F4A7C15u;
    for (auto& p : data) {
      p = static_cast<unsigned char*>(std::aligned_alloc(64, maxSize));
      for (size_t i = 0; i < maxSize; i += 8) {
        x ^= x << 13, x ^= x >> 7, x ^= x << 17;
        std::memcpy(p + i, &x, 8);
      }
    }
  }
  return data;
}

void applySizes(benchmark::internal::Benchmark* b) {
  for (int64_t size : {int64_t(64) << 10, int64_t(1) << 20, int64_t(maxSize)}) b->Args({size});
  b->ArgNames({"bytes"});
}

void applySizesAndLanes(benchmark::internal::Benchmark* b) {
  for (int64_t size : {int64_t(64) << 10, int64_t(1) << 20, int64_t(maxSize)})
    for (int64_t lanes : {4, 8, 16}) b->Args({size, lanes});
  b->ArgNames({"bytes", "lanes"});
}

void sequential(benchmark::State& state) {
  const size_t size = size_t(state.range(0));
  unsigned char* const* data = buffers();
  uint32_t md5[streams][4] = {};
  for (auto _ : state) {
    for (int i = 0; i < streams; ++i) zorvik::md5Transform(md5[i], data[i], size / 64);
    benchmark::DoNotOptimize(md5);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * streams * int64_t(size));
}

void lanes(benchmark::State& state, const zorvik::md5LaneVariant& v) {
  if (!v.available()) {
    state.SkipWithError("not supported by this CPU");
    return;
  }
  const size_t size = size_t(state.range(0));
  const int perCall = int(state.range(1));
  unsigned char* const* data = buffers();
  const unsigned char* at[streams];
  size_t blocks[streams];
  zorvik::md5_lanes md5[streams / 4];  // one per call
  for (int i = 0; i < streams; ++i) {
    at[i] = data[i];
    blocks[i] = size / 64;
    zorvik::md5LanesInit(&md5[i / perCall], i % perCall);
  }
  for (auto _ : state) {
    for (int first = 0; first < streams; first += perCall)
      v.update(&md5[first / perCall], at + first, blocks + first, perCall);
    benchmark::DoNotOptimize(md5);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * streams * int64_t(size));
}

}  // namespace

int main(int argc, char** argv) {
  buffers();
  benchmark::RegisterBenchmark("md5_lanes/sequential_md5Transform", sequential)->Apply(applySizes);
  for (const zorvik::md5LaneVariant& v : zorvik::md5LaneVariants())
    benchmark::RegisterBenchmark((std::string("md5_lanes/") + v.name).c_str(),
                                 [&v](benchmark::State& state) { lanes(state, v); })
        ->Apply(applySizesAndLanes);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
