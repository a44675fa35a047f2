#include "pending.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <new>

#include <zorvik/text.h>

container::processed_file* newPendingEntry(const wchar_t* path, const char* hashText) {
  size_t length = wcslen(path);
  void* memory = malloc(sizeof(container::processed_file) + length + 1);
  if (memory == nullptr) return nullptr;
  auto* entry = new (memory) container::processed_file{};
  entry->path = reinterpret_cast<char*>(entry + 1);
  if (wideToBytes(entry->path, path, length + 1) < 0) entry->path = nullptr;
  strncpy(entry->hashText, hashText, sizeof entry->hashText - 1);
  entry->hashText[sizeof entry->hashText - 1] = '\0';
  return entry;
}

void releasePending(container::processed_file* head) {
  while (head != nullptr) {
    container::processed_file* next = head->next;
    free(head);
    head = next;
  }
}
