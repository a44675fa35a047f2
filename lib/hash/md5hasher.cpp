#include <zorvik/hasher.h>

md5hasher::~md5hasher() {}

void md5hasher::init() { MD5Init(&_context); }

void md5hasher::update(unsigned char* data, unsigned int length) {
  MD5Update(&_context, data, length);
}

void md5hasher::finalize() { MD5Final(_digest, &_context); }

const unsigned char* md5hasher::hash() const { return _digest; }

int md5hasher::hash_size() const { return 16; }
