// The AVX-512 lane kernel built over software intrinsics, through the checks
// of the variants built in: against MD5Init/MD5Update/MD5Final and the
// portable lane code. The large inputs are smaller, as emulation is slow.
#include "md5_lanes_checks.h"

namespace zorvik {
void md5LanesAvx512Emulated(md5_lanes* s, const unsigned char* const* data, const size_t* blocks,
                            int lanes);
}  // namespace zorvik

TEST(Md5LanesAvx512Emulated, EveryLengthInEveryLane) {
  hashtest::checkEveryLengthInEveryLane(zorvik::md5LanesAvx512Emulated, 4096);
}

TEST(Md5LanesAvx512Emulated, LargeInputsInPieces) {
  const hashtest::md5LargeInputs big(size_t(4) << 20);
  big.checkInPieces(zorvik::md5LanesAvx512Emulated, 20000);
}
