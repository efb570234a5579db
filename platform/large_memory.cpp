#include "platform/large_memory.h"

#include <new>

#include <sys/mman.h>

namespace strata::platform {

void* AllocateLarge(std::size_t bytes) {
  void* memory = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) throw std::bad_alloc();
  return memory;
}

void FreeLarge(void* memory, std::size_t bytes) noexcept {
  if (memory != nullptr) ::munmap(memory, bytes);
}

}  // namespace strata::platform
