// MD5 message digest with the interface of RFC 1321's reference code
// (MD5Init, MD5Update, MD5Final over MD5_CTX).
#include <bit>
#include <cstring>

#include <zorvik/hasher.h>

#include "hash/md5_transform.h"

// The count and the digest are written as little-endian words by copying.
static_assert(std::endian::native == std::endian::little);

namespace {

constexpr unsigned char padding[64] = {0x80};

}  // namespace

extern "C" void MD5Init(MD5_CTX* context) {
  context->count[0] = context->count[1] = 0;
  context->state[0] = 0x67452301;
  context->state[1] = 0xefcdab89;
  context->state[2] = 0x98badcfe;
  context->state[3] = 0x10325476;
}

extern "C" void MD5Update(MD5_CTX* context, const unsigned char* input, unsigned int length) {
  unsigned int index = (context->count[0] >> 3) & 0x3F;

  // The bit count is kept modulo 2^64 in two words, low word first.
  uint32_t low = context->count[0] + (uint32_t(length) << 3);
  if (low < context->count[0]) ++context->count[1];
  context->count[0] = low;
  context->count[1] += uint32_t(length) >> 29;

  unsigned int partLen = 64 - index;
  unsigned int i = 0;
  if (length >= partLen) {
    if (index != 0) {  // complete the held-back block first
      std::memcpy(context->buffer + index, input, partLen);
      zorvik::md5Transform(context->state, context->buffer, 1);
      i = partLen;
    }
    // Complete blocks are transformed where they lie, never copied.
    unsigned int blocks = (length - i) / 64;
    zorvik::md5Transform(context->state, input + i, blocks);
    i += blocks * 64;
    index = 0;
  }
  if (length > i) std::memcpy(context->buffer + index, input + i, length - i);  // input may be null when 0
}

extern "C" void MD5Final(unsigned char* digest, MD5_CTX* context) {
  unsigned char bits[8];
  std::memcpy(bits, context->count, 8);  // low word first, little-endian

  unsigned int index = (context->count[0] >> 3) & 0x3F;
  unsigned int padLen = (index < 56) ? (56 - index) : (120 - index);
  MD5Update(context, padding, padLen);
  MD5Update(context, bits, 8);

  std::memcpy(digest, context->state, 16);
  std::memset(context, 0, sizeof *context);
}
