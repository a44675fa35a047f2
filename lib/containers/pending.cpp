#include "pending.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <new>

#include <zorvik/text.h>

namespace {

// A node with `digits` (when not null) and room for a path of `length`
// bytes after it, in one allocation.
container::processed_file* newEntry(size_t length, const char* hashText, const char* digits) {
  size_t digitsRoom = digits != nullptr ? strlen(digits) + 1 : 0;
  void* memory = malloc(sizeof(container::processed_file) + digitsRoom + length + 1);
  if (memory == nullptr) return nullptr;
  auto* entry = new (memory) container::processed_file{};
  char* after = reinterpret_cast<char*>(entry + 1);
  if (digits != nullptr) memcpy(after, digits, digitsRoom);
  entry->path = after + digitsRoom;
  strncpy(entry->hashText, hashText, sizeof entry->hashText - 1);
  entry->hashText[sizeof entry->hashText - 1] = '\0';
  return entry;
}

// newEntry() for the wide `path`; a path with a character above 0xFF gets
// a null `path`.
container::processed_file* newWideEntry(const wchar_t* path, const char* hashText, const char* digits) {
  size_t length = wcslen(path);
  container::processed_file* entry = newEntry(length, hashText, digits);
  if (entry != nullptr && wideToBytes(entry->path, path, length + 1) < 0) entry->path = nullptr;
  return entry;
}

}  // namespace

container::processed_file* newPendingEntry(const char* path, const char* hashText) {
  size_t length = strlen(path);
  container::processed_file* entry = newEntry(length, hashText, nullptr);
  if (entry != nullptr) memcpy(entry->path, path, length + 1);
  return entry;
}

container::processed_file* newPendingEntry(const wchar_t* path, const char* hashText) {
  return newWideEntry(path, hashText, nullptr);
}

container::processed_file* newDigestEntry(const wchar_t* path, const char* digits) {
  return newWideEntry(path, "", digits);
}

const char* digitsOf(const container::processed_file& entry) {
  return reinterpret_cast<const char*>(&entry + 1);
}

void releasePending(container::processed_file* head) {
  while (head != nullptr) {
    container::processed_file* next = head->next;
    free(head);
    head = next;
  }
}
