#include <zorvik/hasher.h>

#include "hash/algorithm.h"

md5hasher::~md5hasher() {}

void md5hasher::init() { zorvik::md5Algorithm().init(&_context); }

void md5hasher::update(unsigned char* data, unsigned int length) {
  zorvik::md5Algorithm().update(&_context, data, length);
}

void md5hasher::finalize() { zorvik::md5Algorithm().final(&_context, _digest); }

const unsigned char* md5hasher::hash() const { return _digest; }

int md5hasher::hash_size() const { return zorvik::md5Algorithm().digestSize; }
