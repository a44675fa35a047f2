#include "pending.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <new>

#include <zorvik/text.h>

namespace {

// An entry with room for a path of `length` bytes after it.
container::processed_file* newEntry(size_t length, const char* hashText) {
  void* memory = malloc(sizeof(container::processed_file) + length + 1);
  if (memory == nullptr) return nullptr;
  auto* entry = new (memory) container::processed_file{};
  entry->path = reinterpret_cast<char*>(entry + 1);
  strncpy(entry->hashText, hashText, sizeof entry->hashText - 1);
  entry->hashText[sizeof entry->hashText - 1] = '\0';
  return entry;
}

}  // namespace

container::processed_file* newPendingEntry(const char* path, const char* hashText) {
  size_t length = strlen(path);
  container::processed_file* entry = newEntry(length, hashText);
  if (entry != nullptr) memcpy(entry->path, path, length + 1);
  return entry;
}

container::processed_file* newPendingEntry(const wchar_t* path, const char* hashText) {
  size_t length = wcslen(path);
  container::processed_file* entry = newEntry(length, hashText);
  if (entry != nullptr && wideToBytes(entry->path, path, length + 1) < 0) entry->path = nullptr;
  return entry;
}

void releasePending(container::processed_file* head) {
  while (head != nullptr) {
    container::processed_file* next = head->next;
    free(head);
    head = next;
  }
}
