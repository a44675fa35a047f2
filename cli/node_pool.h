#pragma once

#include <pthread.h>
#include <sys/types.h>

#include <cstddef>

// Fixed-size slots handed out from large blocks and given back all at once.
// A slot on the free list holds the link to the next free slot in its first
// word. A new block's slots are handed out in address order as they are
// asked for, so its pages are touched only when used.
class node_pool {
public:
  // Counts of 0 or below ask for as many slots as fit into that many
  // 4096-byte pages, less the block's link word (at least one slot).
  void init(int initialCount, int growthCount, bool locking, bool zeroFill, int slotSize);
  // A slot, or null when the pool is empty and cannot grow.
  void* alloc();
  // Returns `slot` to the free list; null is ignored.
  void free(void* slot);
  // Gives every block back; a second call finds nothing to free.
  void release_all();

  int slotsPerBlock(bool growth) const { return growth ? _growthCount : _initialCount; }
  int total() const { return _total; }

private:
  void grow(int count);
  int slotsFor(int count) const;

  int _initialCount;
  int _growthCount;
  int _slotSize;
  void* _blocks;
  void* _free;
  char* _untouched;  // the newest block's slots never handed out
  char* _blockEnd;
  int _total;
  int _locking;
  int _zeroFill;
  pthread_mutex_t _mutex;
};

// One path met while gathering, with the identity stat gave it; nodes live
// in the program's pool.
struct path_node {
  path_node(const char* text, dev_t dev, ino_t ino);
  ~path_node();
  path_node(const path_node&) = delete;
  path_node& operator=(const path_node&) = delete;

  // No throwing: a null result makes the new-expression yield null, which
  // the callers report as running out of memory.
  static void* operator new(std::size_t size) noexcept;
  static void operator delete(void* slot) noexcept;

  // True when a path was given but no room for its copy could be had.
  bool lostPath(const char* text) const { return text != nullptr && path == nullptr; }

  char inlineText[128];
  char* path;
  path_node* next;
  dev_t device;
  ino_t inode;
};

// The program's pool: 4096 slots a block, no locking, no zero fill; built
// before main() and released at exit.
node_pool& programPool();

// A singly linked list of nodes with constant-time append.
struct path_list {
  path_node* head = nullptr;
  path_node** tail = &head;

  void append(path_node* node) {
    *tail = node;
    tail = &node->next;
  }
  // Unlinks and deletes every node, from the head on.
  void release();
};
