#include <cstring>

#include "hash/crc_impl.h"
#include "hash/crc_table.h"

namespace zorvik {

uint32_t crcUpdatePortable(uint32_t reg, const unsigned char* data, size_t length) {
  if ((reinterpret_cast<uintptr_t>(data) & 3) == 0 && (length & 3) == 0) {
    for (size_t i = 0; i < length; i += 4) {
      uint32_t word;
      std::memcpy(&word, data + i, 4);  // one aligned load
      reg ^= word;
      reg = (reg >> 8) ^ crcTable[reg & 0xFF];
      reg = (reg >> 8) ^ crcTable[reg & 0xFF];
      reg = (reg >> 8) ^ crcTable[reg & 0xFF];
      reg = (reg >> 8) ^ crcTable[reg & 0xFF];
    }
    return reg;
  }
  return crcBytes(reg, data, length);
}

}  // namespace zorvik
