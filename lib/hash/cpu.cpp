#include "hash/cpu.h"

#if defined(__x86_64__)
#include <cpuid.h>

#include <cstdint>

namespace zorvik {

namespace {

// XGETBV without -mxsave: this file is built for the baseline CPU.
uint64_t readXcr0() {
  uint32_t eax, edx;
  __asm__("xgetbv" : "=a"(eax), "=d"(edx) : "c"(0));
  return (uint64_t(edx) << 32) | eax;
}

}  // namespace

bool canUseClmul() {
  unsigned eax, ebx, ecx, edx;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
  return (ecx & bit_PCLMUL) && (ecx & bit_SSE4_1);
}

bool canUseVpclmul() {
  unsigned eax, ebx, ecx, edx;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
  if (!(ecx & bit_PCLMUL) || !(ecx & bit_OSXSAVE)) return false;
  // XMM, YMM, opmask, upper ZMM0-15 and ZMM16-31 state enabled by the OS.
  if ((readXcr0() & 0xE6) != 0xE6) return false;
  if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) return false;
  return (ebx & bit_AVX512F) && (ebx & bit_AVX512BW) && (ebx & bit_AVX512VL) &&
         (ecx & bit_VPCLMULQDQ);
}

bool canUseAvx2() {
  unsigned eax, ebx, ecx, edx;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
  if (!(ecx & bit_AVX) || !(ecx & bit_OSXSAVE)) return false;
  // XMM and YMM state enabled by the OS.
  if ((readXcr0() & 0x6) != 0x6) return false;
  if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) return false;
  return ebx & bit_AVX2;
}

bool canUseAvx512() {
  unsigned eax, ebx, ecx, edx;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
  if (!(ecx & bit_OSXSAVE)) return false;
  // XMM, YMM, opmask, upper ZMM0-15 and ZMM16-31 state enabled by the OS.
  if ((readXcr0() & 0xE6) != 0xE6) return false;
  if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) return false;
  return ebx & bit_AVX512F;
}

bool isIntel() {
  unsigned eax, ebx, ecx, edx;
  if (!__get_cpuid(0, &eax, &ebx, &ecx, &edx)) return false;
  return ebx == 0x756e6547 && edx == 0x49656e69 && ecx == 0x6c65746e;  // "GenuineIntel"
}

}  // namespace zorvik
#endif
