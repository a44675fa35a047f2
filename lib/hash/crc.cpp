#include <zorvik/hasher.h>

#include "hash/crc_impl.h"

crc::~crc() {}

void crc::init() { _crc = 0xFFFFFFFFu; }

void crc::update(unsigned char* data, unsigned int length) {
  _crc = zorvik::crcUpdate(_crc, data, length);
}

void crc::finalize() { _crc = ~_crc; }

// The register's own bytes, least significant first on this target.
const unsigned char* crc::hash() const {
  return reinterpret_cast<const unsigned char*>(&_crc);
}

int crc::hash_size() const { return 4; }
