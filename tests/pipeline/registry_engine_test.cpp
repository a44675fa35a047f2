// An algorithm the library does not have, added as one registry entry by
// this test and hashed by the engine: with 1, 2 and 5 workers, side by side
// in lanes, and cut into pieces. Its variants keep their state inline, on
// the heap, at 64-byte alignment, fail to start, or do not join.
#include <zorvik/engine.h>
#include <zorvik/error.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "hash/algorithm.h"
#include "pipeline_support.h"

namespace {

// h = h * P + (byte + 1), modulo 2^64: order matters, zeros count, and the
// hash of A then B is hash(A) * P^|B| + hash(B).
constexpr uint64_t P = 0x100000001B3ULL;

uint64_t polyUpdate(uint64_t h, const unsigned char* data, size_t length) {
  for (size_t i = 0; i < length; ++i) h = h * P + data[i] + 1;
  return h;
}

uint64_t power(unsigned long long n) {
  uint64_t result = 1, base = P;
  for (; n != 0; n >>= 1, base *= base)
    if ((n & 1) != 0) result *= base;
  return result;
}

enum class kind { inlineState, heapState, aligned64, failingInit, unjoinable };

struct counters {
  std::atomic<int> inits{0}, releases{0}, heapLive{0}, misaligned{0}, advances{0};
};

template <kind K>
counters& count() {
  static counters c;
  return c;
}

template <kind K>
uint64_t& value(void* state) {
  if (K == kind::aligned64 && reinterpret_cast<uintptr_t>(state) % 64 != 0) ++count<K>().misaligned;
  if (K == kind::heapState) return **static_cast<uint64_t**>(state);
  return *static_cast<uint64_t*>(state);
}

template <kind K>
bool init(void* state) {
  ++count<K>().inits;
  if (K == kind::failingInit) return false;
  if (K == kind::heapState) {
    auto* cell = static_cast<uint64_t*>(malloc(sizeof(uint64_t)));
    if (cell == nullptr) return false;
    *static_cast<uint64_t**>(state) = cell;
    ++count<K>().heapLive;
  }
  value<K>(state) = 0;
  return true;
}

template <kind K>
void update(void* state, const unsigned char* data, size_t length) {
  value<K>(state) = polyUpdate(value<K>(state), data, length);
}

template <kind K>
void final(void* state, unsigned char* digest) {
  uint64_t h = value<K>(state);
  memcpy(digest, &h, sizeof h);
}

template <kind K>
void release(void* state) {
  ++count<K>().releases;
  if (K == kind::heapState) {
    free(*static_cast<uint64_t**>(state));
    --count<K>().heapLive;
  }
}

template <kind K>
void join(void* whole, const void* piece, unsigned long long length) {
  value<K>(whole) = value<K>(whole) * power(length) + value<K>(const_cast<void*>(piece));
}

// Four lanes of one 64-bit value each, in a block aligned as the registry
// promises.
template <kind K>
void start(void* states, int lane) {
  if (reinterpret_cast<uintptr_t>(states) % zorvik::maxStateAlign != 0) ++count<K>().misaligned;
  static_cast<uint64_t*>(states)[lane] = 0;
}

template <kind K>
void advance(void* states, const unsigned char* const* data, const size_t* blocks, int lanes) {
  ++count<K>().advances;
  for (int i = 0; i < lanes; ++i)
    if (blocks[i] > 0) static_cast<uint64_t*>(states)[i] = polyUpdate(static_cast<uint64_t*>(states)[i], data[i], blocks[i] * 64);
}

template <kind K>
void handOver(const void* states, int lane, unsigned long long, void* state) {
  value<K>(state) = static_cast<const uint64_t*>(states)[lane];
}

template <kind K>
const zorvik::algorithm& entry() {
  static const zorvik::lane_kernel lanes = {4, 64, 4 * sizeof(uint64_t), start<K>, advance<K>, handOver<K>};
  static const zorvik::algorithm a = {
      "poly",
      8,
      K == kind::aligned64 ? 64 : sizeof(uint64_t),
      K == kind::aligned64 ? 64 : alignof(uint64_t),
      init<K>,
      update<K>,
      final<K>,
      K == kind::heapState || K == kind::aligned64 ? release<K> : nullptr,
      K == kind::unjoinable ? nullptr : join<K>,
      &lanes,
  };
  return a;
}

template <kind K>
int idOf() {
  static const int id = zorvik::registerAlgorithm(entry<K>());
  return id;
}

uint64_t expectedHash(const std::string& path) {
  FILE* f = fopen(path.c_str(), "rb");
  std::vector<unsigned char> buffer(1 << 20);
  uint64_t h = 0;
  for (size_t n; (n = fread(buffer.data(), 1, buffer.size(), f)) > 0;) h = polyUpdate(h, buffer.data(), n);
  fclose(f);
  return h;
}

// Files around blocks, reads and windows; a run of small ones for the lanes;
// a missing one; and, last, so that no job of its kind queued behind it
// draws it into lanes, one big enough to be cut.
struct corpus {
  scratchDir dir;
  std::vector<std::string> paths;
  std::vector<unsigned long long> sizes;
  std::vector<uint64_t> hashes;
  size_t missing = 0;

  corpus() {
    std::vector<unsigned long long> wanted = {0, 1, 63, 64, 65, 524289, 4194305, 10000000};
    for (int i = 0; i < 12; ++i) wanted.push_back(1000 + 4099ULL * i);
    wanted.push_back(~0ULL);
    wanted.push_back((96ULL << 20) + 12345);
    for (size_t i = 0; i < wanted.size(); ++i) {
      paths.push_back(dir.file("f" + std::to_string(i)));
      sizes.push_back(wanted[i]);
      if (wanted[i] == ~0ULL) {
        missing = i;
        hashes.push_back(0);
        continue;
      }
      makeFile(paths.back(), wanted[i], wanted[i] > (64ULL << 20));
      hashes.push_back(expectedHash(paths.back()));
    }
  }
};

corpus& files() {
  static corpus c;
  return c;
}

struct variant {
  const char* name;
  int id;
  counters& seen;
  bool fails, joins;
};

class RegistryEngine : public ::testing::TestWithParam<int> {};

TEST(Registry, AddsAnEntryAfterTheBuiltInOnes) {
  EXPECT_EQ(zorvik::findAlgorithm(engine::crc32), &zorvik::crc32Algorithm());
  EXPECT_EQ(zorvik::findAlgorithm(engine::md5), &zorvik::md5Algorithm());
  int id = idOf<kind::inlineState>();
  EXPECT_GT(id, engine::md5);
  EXPECT_EQ(zorvik::findAlgorithm(id), &entry<kind::inlineState>());
  EXPECT_EQ(zorvik::findAlgorithm(id + 100), nullptr);
  // An entry asking for more than a result or a state slot holds is refused.
  zorvik::algorithm tooWide = entry<kind::inlineState>();
  tooWide.digestSize = zorvik::maxDigestSize + 1;
  EXPECT_EQ(zorvik::registerAlgorithm(tooWide), -1);
}

// Hashes `paths` with algorithm `id` on `workers` workers and checks every
// result against `c`.
void hashAll(const corpus& c, const std::vector<size_t>& which, int id, int workers, bool fails) {
  engine hashing(workers);
  for (size_t i : which) ASSERT_EQ(hashing.submit(widen(c.paths[i]).c_str(), id, 0, nullptr), 0);
  for (size_t i : which) {
    const engine::result* r = hashing.take(-1);
    ASSERT_NE(r, nullptr);
    if (fails) {
      EXPECT_EQ(r->code, error::unknown_error) << c.paths[i];
    } else if (i == c.missing) {
      EXPECT_EQ(r->code, error::file_not_found);
    } else {
      ASSERT_EQ(r->code, 0) << c.paths[i];
      EXPECT_EQ(r->size, c.sizes[i]) << c.paths[i];
      uint64_t h;
      memcpy(&h, r->hash, sizeof h);
      EXPECT_EQ(h, c.hashes[i]) << c.paths[i];
    }
  }
}

TEST_P(RegistryEngine, EveryVariantWithAnyNumberOfWorkers) {
  const int workers = GetParam();
  corpus& c = files();
  variant variants[] = {
      {"inline", idOf<kind::inlineState>(), count<kind::inlineState>(), false, true},
      {"heap", idOf<kind::heapState>(), count<kind::heapState>(), false, true},
      {"aligned64", idOf<kind::aligned64>(), count<kind::aligned64>(), false, true},
      {"failing init", idOf<kind::failingInit>(), count<kind::failingInit>(), true, true},
      {"unjoinable", idOf<kind::unjoinable>(), count<kind::unjoinable>(), false, false},
  };
  std::vector<size_t> all, big = {c.paths.size() - 1};
  for (size_t i = 0; i < c.paths.size(); ++i) all.push_back(i);
  for (variant& v : variants) {
    SCOPED_TRACE(std::string(v.name) + ", workers " + std::to_string(workers));
    ASSERT_GE(v.id, 0);
    int advancesBefore = v.seen.advances;
    hashAll(c, all, v.id, workers, v.fails);
    // On the caller's thread, every job is queued when it claims the first:
    // the small ones surely meet in lanes. Workers may claim them one by one.
    if (workers == 1 && !v.fails) {
      EXPECT_GT(v.seen.advances - advancesBefore, 0) << "no lane was used";
    }
    // The big file alone: cut by workers when its algorithm joins.
    int initsBefore = v.seen.inits;
    hashAll(c, big, v.id, workers, v.fails);
    EXPECT_EQ(v.seen.inits - initsBefore - 1, workers > 1 && v.joins && !v.fails ? 4 : 0)
        << "96 MiB in pieces of 32 MiB";
    EXPECT_EQ(v.seen.heapLive.load(), 0);
    EXPECT_EQ(v.seen.misaligned.load(), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Workers, RegistryEngine, ::testing::Values(1, 2, 5));

// Jobs dropped at shutdown, some under way on the caller's thread, give
// back what their states took.
TEST(RegistryShutdown, StatesOfDroppedJobsAreReleased) {
  corpus& c = files();
  int id = idOf<kind::heapState>();
  for (int workers : {1, 3}) {
    {
      engine hashing(workers);
      for (int round = 0; round < 3; ++round) {
        for (const std::string& path : c.paths) ASSERT_EQ(hashing.submit(widen(path).c_str(), id, 0, nullptr), 0);
      }
      ASSERT_NE(hashing.take(-1), nullptr);
      hashing.take(0);  // the caller may leave a job half hashed
    }
    EXPECT_EQ(count<kind::heapState>().heapLive.load(), 0) << workers;
  }
}

}  // namespace
