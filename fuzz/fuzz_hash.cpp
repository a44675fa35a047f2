// CRC-32 and MD5 must not depend on how the input is cut into updates, and
// every CRC-32 variant this CPU runs must agree with the portable one, at
// any alignment.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include <zorvik/hasher.h>

#include "hash/crc_impl.h"
#include "fuzz_support.h"

namespace {

// Bit by bit, independent of every table.
uint32_t crcBitwise(uint32_t reg, const unsigned char* data, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    reg ^= data[i];
    for (int bit = 0; bit < 8; ++bit) reg = (reg >> 1) ^ (0xEDB88320u & (0u - (reg & 1u)));
  }
  return reg;
}

template <class H>
std::vector<unsigned char> hashSplit(std::vector<unsigned char>& data, size_t split, size_t step) {
  H h;
  h.init();
  size_t at = 0;
  if (split <= data.size()) {
    h.update(data.data(), static_cast<unsigned>(split));
    at = split;
  }
  while (at < data.size()) {
    size_t n = std::min(step, data.size() - at);
    h.update(data.data() + at, static_cast<unsigned>(n));
    at += n;
  }
  h.finalize();
  return std::vector<unsigned char>(h.hash(), h.hash() + h.hash_size());
}

template <class H>
void checkSplits(std::vector<unsigned char>& data, size_t split) {
  std::vector<unsigned char> whole = hashSplit<H>(data, data.size(), data.size() + 1);
  FUZZ_CHECK(hashSplit<H>(data, split, data.size() + 1) == whole);
  FUZZ_CHECK(hashSplit<H>(data, 0, 1) == whole);
  FUZZ_CHECK(hashSplit<H>(data, split, 3) == whole);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  size_t split = (data[0] | data[1] << 8) % (size - 1);
  size_t offset = data[0] & 15;
  std::vector<unsigned char> input(data + 2, data + size);
  if (input.size() > 4096) input.resize(4096);  // byte by byte stays quick

  checkSplits<crc>(input, split);
  checkSplits<md5hasher>(input, split);

  // The variants take the raw register; the portable one is the reference.
  std::vector<unsigned char> shifted(offset + input.size());
  std::copy(input.begin(), input.end(), shifted.begin() + offset);
  const unsigned char* at = shifted.data() + offset;
  uint32_t reg = 0xFFFFFFFFu ^ (static_cast<uint32_t>(data[1]) << 24);
  uint32_t reference = crcBitwise(reg, at, input.size());
  FUZZ_CHECK(zorvik::crcUpdatePortable(reg, at, input.size()) == reference);
  crc viaClass;
  viaClass.init();
  viaClass.update(input.data(), static_cast<unsigned>(input.size()));
  viaClass.finalize();
  uint32_t classResult;
  memcpy(&classResult, viaClass.hash(), 4);
  FUZZ_CHECK(classResult == ~zorvik::crcUpdatePortable(0xFFFFFFFFu, input.data(), input.size()));
  for (const zorvik::crcVariant& variant : zorvik::crcVariants()) {
    if (!variant.available()) continue;
    FUZZ_CHECK(variant.update(reg, at, input.size()) == reference);
    size_t cut = split < input.size() ? split : input.size();
    FUZZ_CHECK(variant.update(variant.update(reg, at, cut), at + cut, input.size() - cut) == reference);
  }
  return 0;
}
