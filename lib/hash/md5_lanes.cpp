// The lane states' way in and out: RFC 1321's initial values, and the hand-over
// of a stream to MD5Update/MD5Final for its last, partial block.
#include <cstring>

#include "hash/md5_lanes.h"

namespace zorvik {

void md5LanesInit(md5_lanes* s, int lane) {
  s->a[lane] = 0x67452301;
  s->b[lane] = 0xefcdab89;
  s->c[lane] = 0x98badcfe;
  s->d[lane] = 0x10325476;
}

void md5LaneToContext(const md5_lanes& s, int lane, unsigned long long bytes, MD5_CTX* ctx) {
  ctx->state[0] = s.a[lane];
  ctx->state[1] = s.b[lane];
  ctx->state[2] = s.c[lane];
  ctx->state[3] = s.d[lane];
  // The bit count modulo 2^64, low word first; with whole blocks hashed, no
  // input is held back in the buffer.
  const unsigned long long bits = bytes << 3;
  ctx->count[0] = uint32_t(bits);
  ctx->count[1] = uint32_t(bits >> 32);
  std::memset(ctx->buffer, 0, sizeof ctx->buffer);
}

}  // namespace zorvik
