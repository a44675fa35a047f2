// Base64Decode with a capacity the input chooses: nothing written at or past
// it, a count within it that a larger capacity would only extend; and
// Base64Encode followed by Base64Decode gives the bytes back.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <zorvik/base64.h>

#include "fuzz_support.h"

namespace {

constexpr size_t guard = 64;
constexpr unsigned char canary = 0xA5;

int decodeGuarded(const std::string& text, int capacity, std::vector<unsigned char>* out) {
  std::string input = text;
  out->assign(static_cast<size_t>(capacity) + guard, canary);
  int count = Base64Decode(input.data(), out->data(), capacity);
  for (size_t i = static_cast<size_t>(capacity); i < out->size(); ++i) FUZZ_CHECK((*out)[i] == canary);
  FUZZ_CHECK(input == text);
  FUZZ_CHECK(count >= 0 && count <= capacity);
  if (count < capacity) FUZZ_CHECK((*out)[count] == 0);
  return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  int capacity = (data[0] | data[1] << 8) & 0x0FFF;
  std::string text(reinterpret_cast<const char*>(data) + 2, size - 2);
  text = text.c_str();  // up to the first NUL, as the decoder reads it

  std::vector<unsigned char> limited, full;
  int count = decodeGuarded(text, capacity, &limited);
  int fullCount = decodeGuarded(text, static_cast<int>(text.size()) + 4, &full);
  FUZZ_CHECK(count == std::min(capacity, fullCount));
  FUZZ_CHECK(std::equal(limited.begin(), limited.begin() + count, full.begin()));

  std::vector<unsigned char> bytes(data, data + size);
  std::string encoded(4 * ((size + 2) / 3), '\0');
  int length = Base64Encode(bytes.data(), encoded.data(), static_cast<int>(size));
  FUZZ_CHECK(static_cast<size_t>(length) == encoded.size());
  std::vector<unsigned char> back;
  FUZZ_CHECK(decodeGuarded(" \t" + encoded, static_cast<int>(size), &back) == static_cast<int>(size));
  FUZZ_CHECK(std::equal(bytes.begin(), bytes.end(), back.begin()));
  return 0;
}
