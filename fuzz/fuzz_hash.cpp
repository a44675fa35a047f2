// CRC-32 and MD5 must not depend on how the input is cut into updates, and
// every CRC-32 variant this CPU runs must agree with the portable one, at
// any alignment. The entries backed by libcrypto and libxxhash, fed cut at
// points the input chooses, must give those libraries' one-shot digests.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include <openssl/evp.h>
#include <xxhash.h>
#include <zorvik/hasher.h>

#include "hash/algorithm.h"
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

// The library's own digest of `data` in one call, in list order.
std::vector<unsigned char> oneShot(int id, const std::vector<unsigned char>& data) {
  std::vector<unsigned char> out(EVP_MAX_MD_SIZE);
  const EVP_MD* md = id == zorvik::sha1Id     ? EVP_sha1()
                     : id == zorvik::sha256Id ? EVP_sha256()
                     : id == zorvik::sha512Id ? EVP_sha512()
                     : id == zorvik::blake2bId ? EVP_blake2b512()
                                               : nullptr;
  if (md != nullptr) {
    unsigned int length = 0;
    FUZZ_CHECK(EVP_Digest(data.data(), data.size(), out.data(), &length, md, nullptr) == 1);
    out.resize(length);
  } else if (id == zorvik::xxh64Id) {
    XXH64_canonical_t canonical;
    XXH64_canonicalFromHash(&canonical, XXH64(data.data(), data.size(), 0));
    out.assign(canonical.digest, canonical.digest + sizeof canonical.digest);
  } else {
    XXH128_canonical_t canonical;
    XXH128_canonicalFromHash(&canonical, XXH3_128bits(data.data(), data.size()));
    out.assign(canonical.digest, canonical.digest + sizeof canonical.digest);
  }
  return out;
}

// Feeds `data` to entry `id` and to its digest hasher, cut at `cuts`.
void checkCuts(int id, std::vector<unsigned char>& data, const std::vector<size_t>& cuts) {
  const zorvik::algorithm& a = *zorvik::findAlgorithm(id);
  alignas(64) unsigned char state[1024];
  std::vector<unsigned char> viaEntry(static_cast<size_t>(a.digestSize));
  FUZZ_CHECK(a.stateSize <= sizeof state && a.init(state));
  digest viaHasher(id);
  viaHasher.init();
  size_t at = 0;
  for (size_t cut : cuts) {
    a.update(state, data.data() + at, cut - at);
    viaHasher.update(data.data() + at, static_cast<unsigned>(cut - at));
    at = cut;
  }
  a.update(state, data.data() + at, data.size() - at);
  viaHasher.update(data.data() + at, static_cast<unsigned>(data.size() - at));
  a.final(state, viaEntry.data());
  if (a.release != nullptr) a.release(state);
  viaHasher.finalize();
  std::vector<unsigned char> expected = oneShot(id, data);
  FUZZ_CHECK(viaEntry == expected);
  FUZZ_CHECK(std::vector<unsigned char>(viaHasher.hash(), viaHasher.hash() + viaHasher.hash_size()) == expected);
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

  // Up to four cuts, where the input's first bytes point.
  std::vector<size_t> cuts;
  for (size_t i = 0; i + 1 < input.size() && cuts.size() < 4; i += 2)
    cuts.push_back((input[i] | input[i + 1] << 8) % (input.size() + 1));
  std::sort(cuts.begin(), cuts.end());
  for (int id : {zorvik::sha1Id, zorvik::sha256Id, zorvik::sha512Id, zorvik::blake2bId, zorvik::xxh64Id,
                 zorvik::xxh128Id})
    checkCuts(id, input, cuts);

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
