#include <zorvik/hasher.h>

#include "hash/algorithm.h"

// The register is the entry's state; finalize leaves the finished value in
// it, which hash() exposes.

crc::~crc() {}

void crc::init() { zorvik::crc32Algorithm().init(&_crc); }

void crc::update(unsigned char* data, unsigned int length) {
  zorvik::crc32Algorithm().update(&_crc, data, length);
}

void crc::finalize() {
  zorvik::crc32Algorithm().final(&_crc, reinterpret_cast<unsigned char*>(&_crc));
}

// The register's own bytes, least significant first on this target.
const unsigned char* crc::hash() const {
  return reinterpret_cast<const unsigned char*>(&_crc);
}

int crc::hash_size() const { return zorvik::crc32Algorithm().digestSize; }
