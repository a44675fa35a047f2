#pragma once

// Run-time checks for the instruction sets of the CRC-32 variants. The
// dispatcher and the tests use the same checks, so a test never runs a
// variant the CPU would fault on.
namespace zorvik {

inline bool alwaysAvailable() { return true; }

#if defined(__x86_64__)
bool canUseClmul();    // PCLMULQDQ and SSE4.1
bool canUseVpclmul();  // VPCLMULQDQ, AVX-512 F/BW/VL, and the OS saves ZMM state
#endif

}  // namespace zorvik
