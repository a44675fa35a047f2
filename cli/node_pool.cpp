#include "node_pool.h"

#include <cstdlib>
#include <cstring>
#include <new>

void node_pool::init(int initialCount, int growthCount, bool locking, bool zeroFill,
                     int slotSize) {
  _slotSize = slotSize;
  _initialCount = slotsFor(initialCount);
  _growthCount = slotsFor(growthCount);
  _locking = locking;
  _zeroFill = zeroFill;
  if (_locking) pthread_mutex_init(&_mutex, nullptr);
  _total = 0;
  _blocks = nullptr;
  _free = nullptr;
  _untouched = nullptr;
  _blockEnd = nullptr;
  grow(_initialCount);
}

int node_pool::slotsFor(int count) const {
  if (count > 0) return count;
  long room = -static_cast<long>(count) * 4096 - static_cast<long>(sizeof(void*));
  long slots = room / _slotSize;
  return slots > 0 ? static_cast<int>(slots) : 1;
}

void node_pool::grow(int count) {
  size_t bytes = static_cast<size_t>(count) * _slotSize + sizeof(void*);
  char* block = static_cast<char*>(malloc(bytes));
  if (block == nullptr) return;
  _total += count;
  _untouched = block + sizeof(void*);
  _blockEnd = _untouched + static_cast<size_t>(count) * _slotSize;
  memcpy(block, &_blocks, sizeof _blocks);
  _blocks = block;
}

void* node_pool::alloc() {
  if (_locking) pthread_mutex_lock(&_mutex);
  void* slot = _free;
  if (slot != nullptr) {
    memcpy(&_free, slot, sizeof _free);
  } else {
    if (_untouched == _blockEnd) grow(_growthCount);
    if (_untouched != _blockEnd) {
      slot = _untouched;
      _untouched += _slotSize;
    }
  }
  if (_locking) pthread_mutex_unlock(&_mutex);
  if (slot != nullptr && _zeroFill) memset(slot, 0, _slotSize);
  return slot;
}

void node_pool::free(void* slot) {
  if (slot == nullptr) return;
  void* none = nullptr;
  memcpy(slot, &none, sizeof none);
  if (_locking) pthread_mutex_lock(&_mutex);
  memcpy(slot, &_free, sizeof _free);
  _free = slot;
  if (_locking) pthread_mutex_unlock(&_mutex);
}

void node_pool::release_all() {
  if (_locking) pthread_mutex_lock(&_mutex);
  while (_blocks != nullptr) {
    void* next;
    memcpy(&next, _blocks, sizeof next);
    ::free(_blocks);
    _blocks = next;
  }
  _free = nullptr;
  _untouched = nullptr;
  _blockEnd = nullptr;
  if (_locking) {
    pthread_mutex_unlock(&_mutex);
    pthread_mutex_destroy(&_mutex);
    _locking = 0;
  }
}

path_node::path_node(const char* text, dev_t dev, ino_t ino)
    : path(nullptr), next(nullptr), device(dev), inode(ino) {
  if (text == nullptr) return;
  size_t length = strlen(text) + 1;
  if (length <= sizeof inlineText) {
    memcpy(inlineText, text, length);
    path = inlineText;
  } else {
    path = new (std::nothrow) char[length];
    if (path != nullptr) memcpy(path, text, length);
  }
}

path_node::~path_node() {
  if (path != nullptr && path != inlineText) delete[] path;
}

void* path_node::operator new(std::size_t) noexcept { return programPool().alloc(); }

void path_node::operator delete(void* slot) noexcept { programPool().free(slot); }

void path_list::release() {
  while (head != nullptr) {
    path_node* node = head;
    head = node->next;
    delete node;
  }
  tail = &head;
}
