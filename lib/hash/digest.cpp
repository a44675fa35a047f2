// The hasher of every registry entry: the entry's state lives in the
// object; one that holds a library's context keeps it from one stream to
// the next where the entry can restart it.
#include <cstring>

#include <zorvik/hasher.h>

#include "hash/algorithm.h"

namespace {

// The entry of `id`, when its state fits the room of a digest object.
const zorvik::algorithm* entryOf(int id, size_t room) {
  const zorvik::algorithm* a = zorvik::findAlgorithm(id);
  return a != nullptr && a->stateSize <= room ? a : nullptr;
}

}  // namespace

digest::digest(int algorithm)
    : _algorithm(algorithm), _size(0), _failed(false), _open(false), _held(false), _digest{} {
  if (const zorvik::algorithm* a = entryOf(algorithm, sizeof _state)) _size = a->digestSize;
}

digest::~digest() { letGo(); }

// Frees what the entry's init took.
void digest::letGo() {
  if (_held) zorvik::findAlgorithm(_algorithm)->release(_state);
  _held = false;
}

void digest::init() {
  const zorvik::algorithm* a = entryOf(_algorithm, sizeof _state);
  memset(_digest, 0, sizeof _digest);
  _open = false;
  if (a == nullptr) return;
  if (_held && a->restart != nullptr) {
    _open = a->restart(_state);
  } else {
    letGo();
    _open = a->init(_state);
    _held = _open && a->release != nullptr;
  }
  _failed = !_open;
}

void digest::update(unsigned char* data, unsigned int length) {
  if (_open) zorvik::findAlgorithm(_algorithm)->update(_state, data, length);
}

void digest::finalize() {
  if (!_open) return;
  const zorvik::algorithm* a = zorvik::findAlgorithm(_algorithm);
  a->final(_state, _digest);
  _open = false;
  if (a->restart == nullptr) letGo();
}

const unsigned char* digest::hash() const { return _digest; }

int digest::hash_size() const { return _size; }

bool digest::usable() const { return _size > 0 && !_failed; }

int digest::algorithm() const { return _algorithm; }
