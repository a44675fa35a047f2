#pragma once

// Run-time checks for the instruction sets of the CRC-32 and multi-buffer MD5
// variants. The dispatchers and the tests use the same checks, so a test never
// runs a variant the CPU would fault on.
namespace zorvik {

inline bool alwaysAvailable() { return true; }

#if defined(__x86_64__)
bool canUseClmul();    // PCLMULQDQ and SSE4.1
bool canUseVpclmul();  // VPCLMULQDQ, AVX-512 F/BW/VL, and the OS saves ZMM state
bool canUseAvx2();     // AVX2, and the OS saves YMM state
bool canUseAvx512();   // AVX-512 F, and the OS saves opmask and ZMM state
bool isIntel();        // made by Intel: AVX-512 at full width where present
#endif

}  // namespace zorvik
