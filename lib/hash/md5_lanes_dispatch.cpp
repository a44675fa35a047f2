#if defined(__AVX2__) || defined(__AVX512F__)
#error "md5_lanes_dispatch.cpp must be built for the baseline CPU"
#endif

#include "hash/cpu.h"
#include "hash/md5_lanes.h"

namespace zorvik {

namespace {

// The widths are where each variant's aggregate speed stops growing
// (bench/md5_lanes_bench.cpp).
constexpr md5LaneVariant variants[] = {
    {"portable", 8, md5LanesPortable, alwaysAvailable},
#if ZORVIK_HAVE_MD5_AVX2
    {"avx2", 16, md5LanesAvx2, canUseAvx2},
#endif
#if ZORVIK_HAVE_MD5_AVX512
    {"avx512", 16, md5LanesAvx512, canUseAvx512},
#endif
};

const md5LaneVariant& selectBest() {
  const md5LaneVariant* best = &variants[0];
  for (const md5LaneVariant& v : variants)
    if (v.available()) best = &v;
  return *best;
}

}  // namespace

std::span<const md5LaneVariant> md5LaneVariants() { return variants; }

const md5LaneVariant& md5LanesBest() {
  static const md5LaneVariant& best = selectBest();  // once, thread-safe
  return best;
}

}  // namespace zorvik
