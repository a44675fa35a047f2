#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <algorithm>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace hashtest {

// `n` random bytes, the same for the same seed.
inline std::vector<unsigned char> randomBytes(size_t n, uint32_t seed) {
  std::mt19937_64 rng(seed);
  std::vector<unsigned char> out(n);
  for (size_t i = 0; i < n; i += 8) {
    uint64_t r = rng();
    std::memcpy(out.data() + i, &r, std::min<size_t>(8, n - i));
  }
  return out;
}

// Byte i is i % 251: no power-of-two period to hide a lane or block mix-up.
inline std::vector<unsigned char> pattern251(size_t length) {
  std::vector<unsigned char> out(length);
  for (size_t i = 0; i < length; ++i) out[i] = static_cast<unsigned char>(i % 251);
  return out;
}

struct vectorLine {
  size_t length;
  std::string digest;
};

// Reads the "length digest" lines that tests/vectors/gen_vectors.py wrote.
inline std::vector<vectorLine> readVectors(const char* name) {
  std::vector<vectorLine> out;
  std::ifstream in(std::string(ZORVIK_VECTORS_DIR) + "/" + name);
  vectorLine line;
  while (in >> line.length >> line.digest) out.push_back(line);
  return out;
}

inline std::string narrow(const wchar_t* text) {
  std::string out;
  for (; *text; ++text) out += static_cast<char>(*text);
  return out;
}

inline std::string hex(const unsigned char* bytes, size_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    out += digits[bytes[i] >> 4];
    out += digits[bytes[i] & 15];
  }
  return out;
}

inline std::vector<unsigned char> bytesOf(const char* text) {
  return std::vector<unsigned char>(text, text + std::strlen(text));
}

}  // namespace hashtest
