// The count of heap allocations for compare_bench: every malloc, calloc and
// realloc of the process, whoever calls it (operator new and the C libraries
// of the other roads alike), passed on to glibc's allocator. Under
// AddressSanitizer, which owns the allocator, nothing is replaced and the
// count stays 0.
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "bench/CountingAllocator.h"

namespace {
std::atomic<std::uint64_t> allocations{0};
}  // namespace

std::uint64_t heapAllocationCount() noexcept {
  return allocations.load(std::memory_order_relaxed);
}

#if !defined(__SANITIZE_ADDRESS__)
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* memory, std::size_t size);

void* malloc(std::size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_calloc(count, size);
}
void* realloc(void* memory, std::size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_realloc(memory, size);
}
}
#endif
