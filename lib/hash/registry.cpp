// The registry: the built-in entries at their fixed ids, then whatever a
// test adds. Entries are never removed, so a pointer found stays valid.
#include <atomic>

#include "hash/algorithm.h"

namespace zorvik {

namespace {

constexpr int capacity = 16;

struct table {
  // Only addresses: no entry's library is touched here.
  table() {
    entries[crc32Id] = &crc32Algorithm();
    entries[md5Id] = &md5Algorithm();
    entries[sha1Id] = &sha1Algorithm();
    entries[sha256Id] = &sha256Algorithm();
    entries[sha512Id] = &sha512Algorithm();
    entries[blake2bId] = &blake2bAlgorithm();
    entries[xxh64Id] = &xxh64Algorithm();
    entries[xxh128Id] = &xxh128Algorithm();
    count.store(builtInCount, std::memory_order_release);
  }
  const algorithm* entries[capacity] = {};
  // Entries are written before the count that shows them: release by
  // registerAlgorithm, acquire by the readers.
  std::atomic<int> count{0};
};

bool acceptable(const algorithm& a) {
  bool alignOk = a.stateAlign != 0 && (a.stateAlign & (a.stateAlign - 1)) == 0 &&
                 a.stateAlign <= maxStateAlign;
  bool lanesOk = a.lanes == nullptr || (a.lanes->width >= 1 && a.lanes->width <= maxLanes &&
                                        a.lanes->block > 0);
  return a.digestSize > 0 && a.digestSize <= maxDigestSize && a.stateSize > 0 && alignOk &&
         lanesOk && a.init != nullptr && a.update != nullptr && a.final != nullptr;
}

table& registry() {
  static table built;  // once, thread-safe
  return built;
}

}  // namespace

const algorithm* findAlgorithm(int id) {
  table& t = registry();
  if (id < 0 || id >= t.count.load(std::memory_order_acquire)) return nullptr;
  return t.entries[id];
}

int registerAlgorithm(const algorithm& entry) {
  table& t = registry();
  int id = t.count.load(std::memory_order_relaxed);
  if (id >= capacity || !acceptable(entry)) return -1;
  t.entries[id] = &entry;
  t.count.store(id + 1, std::memory_order_release);
  return id;
}

size_t largestState() {
  table& t = registry();
  size_t largest = 0;
  for (int i = 0, n = t.count.load(std::memory_order_acquire); i < n; ++i)
    if (t.entries[i]->stateSize > largest) largest = t.entries[i]->stateSize;
  return largest;
}

}  // namespace zorvik
