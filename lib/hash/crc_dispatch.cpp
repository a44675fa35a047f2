#if defined(__PCLMUL__) || defined(__AVX512F__)
#error "crc_dispatch.cpp must be built for the baseline CPU"
#endif

#include "hash/cpu.h"
#include "hash/crc_impl.h"

namespace zorvik {

namespace {

constexpr crcVariant variants[] = {
    {"portable", crcUpdatePortable, alwaysAvailable},
#if ZORVIK_HAVE_CLMUL
    {"clmul", crcUpdateClmul, canUseClmul},
#endif
#if ZORVIK_HAVE_VPCLMUL
    {"vpclmul", crcUpdateVpclmul, canUseVpclmul},
#endif
};

crcUpdateFn selectCrcUpdate() {
  crcUpdateFn best = crcUpdatePortable;
  for (const crcVariant& v : variants)
    if (v.available()) best = v.update;
  return best;
}

}  // namespace

std::span<const crcVariant> crcVariants() { return variants; }

uint32_t crcUpdate(uint32_t reg, const unsigned char* data, size_t length) {
  static const crcUpdateFn fn = selectCrcUpdate();  // once, thread-safe
  return fn(reg, data, length);
}

}  // namespace zorvik
