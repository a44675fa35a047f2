#include <sys/mman.h>

#include "pipeline/exported/window_memory.h"

#include "pipeline/exported/ring.h"

namespace window_memory {

bool refuse = false;

namespace {
constexpr unsigned long long blockSize =
    static_cast<unsigned long long>(ring::windowBuffers) * ring::windowSize;
}

unsigned char* allocate() {
  if (refuse) return nullptr;
  void* block = mmap(nullptr, blockSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (block == MAP_FAILED) return nullptr;
  // Fewer, larger pages: every first touch of a page is a fault.
  madvise(block, blockSize, MADV_HUGEPAGE);
  return static_cast<unsigned char*>(block);
}

void release(unsigned char* block) {
  if (block != nullptr) munmap(block, blockSize);
}

}  // namespace window_memory
