#include <zorvik/base64.h>

#include <algorithm>
#include <array>
#include <cstddef>

namespace {

constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr int outside = 64;

constexpr std::array<int, 256> makeDecodeTable() {
  std::array<int, 256> table{};
  for (int& value : table) value = outside;
  for (int i = 0; i < 64; ++i) table[static_cast<unsigned char>(alphabet[i])] = i;
  return table;
}

constexpr std::array<int, 256> decodeTable = makeDecodeTable();
static_assert(decodeTable['A'] == 0 && decodeTable['/'] == 63 && decodeTable['='] == outside);

int valueOf(char c) { return decodeTable[static_cast<unsigned char>(c)]; }

// The character at `index` of `text`, whose first `run` characters are
// known not to be NUL; positions past the terminator read as NUL, so nothing
// beyond it is touched.
char charAt(const char* text, size_t run, size_t index) {
  for (size_t i = run; i < index; ++i)
    if (text[i] == '\0') return '\0';
  return text[index];
}

}  // namespace

int Base64Encode(unsigned char* in, char* out, int len) {
  char* start = out;
  int i = 0;
  for (; len - i >= 3; i += 3) {
    unsigned b0 = in[i], b1 = in[i + 1], b2 = in[i + 2];
    *out++ = alphabet[b0 >> 2];
    *out++ = alphabet[((b0 << 4) & 0x30) | (b1 >> 4)];
    *out++ = alphabet[((b1 << 2) & 0x3C) | (b2 >> 6)];
    *out++ = alphabet[b2 & 0x3F];
  }
  if (len - i == 1) {
    unsigned b0 = in[i];
    *out++ = alphabet[b0 >> 2];
    *out++ = alphabet[(b0 & 3) << 4];
    *out++ = '=';
    *out++ = '=';
  } else if (len - i == 2) {
    unsigned b0 = in[i], b1 = in[i + 1];
    *out++ = alphabet[b0 >> 2];
    *out++ = alphabet[((b0 & 3) << 4) | (b1 >> 4)];
    *out++ = alphabet[(b1 << 2) & 0x3C];
    *out++ = '=';
  }
  return static_cast<int>(out - start);
}

int Base64Decode(char* in, unsigned char* out, int len) {
  if (len <= 0) return 0;

  while (*in == ' ' || *in == '\t') ++in;
  size_t n = 0;
  while (valueOf(in[n]) < outside) ++n;

  // Counted over the whole run first, so that the capacity only cuts the
  // result and never adds the filler bytes of an incomplete last group.
  size_t total = (n + 3) / 4 * 3;
  if (n % 4 != 0) total -= valueOf(charAt(in, n, n / 4 * 4 + 2)) == outside ? 2 : 1;
  const size_t count = std::min(total, static_cast<size_t>(len));

  size_t written = 0;
  auto put = [&](int byte) {
    if (written < count) out[written++] = static_cast<unsigned char>(byte & 0xFF);
  };
  for (size_t group = 0; group < n && written < count; group += 4) {
    int v0 = valueOf(in[group]);
    int v1 = valueOf(charAt(in, n, group + 1));
    char c2 = charAt(in, n, group + 2);
    int v2 = valueOf(c2);
    int v3 = valueOf(charAt(in, n, group + 3));
    put((v0 << 2) | (v1 >> 4));
    if (c2 != '=') {
      put((v1 << 4) | (v2 >> 2));
      put((v2 << 6) | v3);
    }
  }

  // A result that fills the capacity has no room for a terminator.
  if (count < static_cast<size_t>(len)) out[count] = '\0';
  return static_cast<int>(count);
}
