// A digest list read to the end as the list of the algorithm its first
// byte picks; every entry read is written to a new list and must read back
// the same. Guessing the list's type must give a known type.
#include <cstddef>
#include <cstdint>
#include <string>

#include <zorvik/engine.h>

#include "round_trip.h"

namespace {

// The algorithms with such lists, and their digest sizes.
const struct {
  int id;
  size_t digestSize;
} algorithms[] = {{engine::md5, 16},     {engine::sha1, 20},  {engine::sha256, 32}, {engine::sha512, 64},
                  {engine::blake2b, 64}, {engine::xxh64, 8}, {engine::xxh128, 16}};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string inPath = scratchDirectory().file("list");
  static const std::string outPath = scratchDirectory().file("again");
  if (size == 0) return 0;
  const auto& picked = algorithms[data[0] % (sizeof algorithms / sizeof algorithms[0])];
  const int algorithm = picked.id;

  writeFile(inPath, data + 1, size - 1);
  int guessed = 99;
  bool byLength = false;
  FUZZ_CHECK(container::guessType(widen(inPath), &guessed, &byLength) == 0);
  FUZZ_CHECK(guessed == -1 || (guessed >= engine::md5 && guessed <= engine::xxh128));
  FUZZ_CHECK(!byLength || guessed != -1);

  roundTrip([algorithm] { return new digestlist(algorithm); }, picked.digestSize, inPath, outPath);
  return 0;
}
