#pragma once

#include <cstddef>
#include <cstdint>

namespace zorvik {

// Runs the MD5 block transform (RFC 1321, section 3.4) over `blocks`
// consecutive 64-byte blocks at `data`, which need no alignment.
void md5Transform(uint32_t state[4], const unsigned char* data, size_t blocks);

}  // namespace zorvik
