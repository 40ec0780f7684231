// Per-class allocation counters of the slab allocator.
//
// Every entity class owns one tracker, `memAllocationTracker_`, which counts
// the objects of that class that were allocated and freed. Tests read it to
// check that a sequence of operations leaves no live object behind.
//
// Thread safety: increments are plain unless the runtime's thread-safe mode is
// on, in which case they are atomic. Reads are always safe (relaxed).
#pragma once

#include <atomic>
#include <cstdint>
#include <string_view>

#include "Vesk/ThreadSafeMode.h"

namespace Hunkpool {

class AllocationTracker {
 public:
  constexpr explicit AllocationTracker(std::string_view className) noexcept
      : className_(className) {}
  AllocationTracker(AllocationTracker const&) = delete;
  AllocationTracker& operator=(AllocationTracker const&) = delete;

  std::string_view className() const noexcept { return className_; }
  // Objects allocated since the process started.
  std::uint64_t allocated() const noexcept { return allocated_.load(std::memory_order_relaxed); }
  // Objects freed since the process started.
  std::uint64_t freed() const noexcept { return freed_.load(std::memory_order_relaxed); }
  // Objects allocated and not yet freed.
  std::uint64_t live() const noexcept { return allocated() - freed(); }

  void allocatedInc() noexcept { increment(allocated_); }
  void freedInc() noexcept { increment(freed_); }

 private:
  static void increment(std::atomic<std::uint64_t>& counter) noexcept {
    if (Vesk::threadSafeMode()) {
      counter.fetch_add(1, std::memory_order_relaxed);
    } else {
      counter.store(counter.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    }
  }

  std::string_view className_;
  std::atomic<std::uint64_t> allocated_{0};
  std::atomic<std::uint64_t> freed_{0};
};

}  // namespace Hunkpool
