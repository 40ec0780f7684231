// Hunkpool: the slab allocator of the entity runtime.
//
// Provides `Hunkpool::Pool`, a pool of fixed-size slots carved from 64 KiB
// slabs, one pool per entity class, and `HUNKPOOL_CLASS_ALLOCATION(Class)`,
// which gives a class its allocation tracker (`memAllocationTracker_`) and
// class-specific operator new and delete that allocate from the class's pool.
//
// Thread safety: a pool is used by one thread at a time, unless the runtime's
// thread-safe mode is on, in which case each allocation and free takes the
// pool's spin lock.
//
// Invariants:
//  1. Every slot handed out is `slotSize()` bytes and aligned to the class's
//     alignment; slots of a pool never overlap.
//  2. A freed slot goes to the front of the pool's free list and is the next
//     one handed out (last in, first out keeps recently used memory hot).
//  3. Slabs are never returned to the operating system: a pool's footprint is
//     its peak number of live objects, rounded up to whole slabs.
//  4. A request whose size is not the pool's slot size (a class derived from a
//     pooled class without pooling of its own, such as a client's helper) is
//     served by the global allocator and still counted by the tracker.
//
// Implementation details: the free list is intrusive (a freed slot holds the
// pointer to the next free slot), and a new slab is handed out by bumping a
// pointer rather than threaded onto the free list, so growing costs nothing
// per slot. The fast path of allocate and free (single-threaded mode, a slot
// on the free list) is a few inline instructions and no call; everything
// else is out of line. Pools are constant-initialised, so objects may be
// allocated from static initialisers of any translation unit, and are never
// destroyed, so objects may be freed from static destructors. Under
// AddressSanitizer every request goes to the global allocator, so that
// use-after-free and overflows of pooled objects are still caught.
#pragma once

#include <atomic>
#include <cstddef>
#include <new>

#include "Hunkpool/AllocationTracker.h"
#include "Vesk/ThreadSafeMode.h"

namespace Hunkpool {

class Pool {
 public:
  static constexpr std::size_t slabBytes = 64 * 1024;

  constexpr Pool(std::size_t objectSize, std::size_t alignment, AllocationTracker& tracker) noexcept
      : slotSize_(
            roundUp(objectSize < sizeof(FreeSlot) ? sizeof(FreeSlot) : objectSize, alignment)),
        alignment_(alignment),
        tracker_(&tracker) {}
  Pool(Pool const&) = delete;
  Pool& operator=(Pool const&) = delete;

  // Returns storage for `size` bytes. Throws std::bad_alloc when memory is
  // exhausted.
  void* allocate(std::size_t size) {
    if (!Vesk::threadSafeMode() && servesFromSlabs(size)) {
      if (FreeSlot* slot = freeList_) {
        tracker_->allocatedInc();
        freeList_ = slot->next;
        return slot;
      }
    }
    return allocateSlowly(size);
  }

  // REQUIRES: `slot` came from allocate(size) of this pool with the same size.
  void deallocate(void* slot, std::size_t size) noexcept {
    if (!Vesk::threadSafeMode() && servesFromSlabs(size)) {
      tracker_->freedInc();
      pushFree(slot);
      return;
    }
    deallocateSlowly(slot, size);
  }

  std::size_t slotSize() const noexcept { return slotSize_; }
  // Number of slabs taken from the global allocator so far.
  std::size_t slabCount() const noexcept { return slabCount_; }

 private:
  struct FreeSlot {
    FreeSlot* next;
  };
  struct SlabHeader {
    SlabHeader* next;
  };

  class LockGuard {
   public:
    explicit LockGuard(Pool& pool) noexcept
        : lock_(Vesk::threadSafeMode() ? &pool.lock_ : nullptr) {
      if (lock_ != nullptr) {
        while (lock_->test_and_set(std::memory_order_acquire)) {
          lock_->wait(true, std::memory_order_relaxed);
        }
      }
    }
    ~LockGuard() {
      if (lock_ != nullptr) {
        lock_->clear(std::memory_order_release);
        lock_->notify_one();
      }
    }
    LockGuard(LockGuard const&) = delete;
    LockGuard& operator=(LockGuard const&) = delete;

   private:
    std::atomic_flag* lock_;
  };

  static constexpr std::size_t roundUp(std::size_t value, std::size_t alignment) noexcept {
    return (value + alignment - 1) / alignment * alignment;
  }

  bool servesFromSlabs(std::size_t size) const noexcept {
#if defined(__SANITIZE_ADDRESS__)
    (void)size;
    return false;
#else
    return size <= slotSize_ && size + alignment_ > slotSize_;
#endif
  }

  void pushFree(void* slot) noexcept {
    FreeSlot* freed = static_cast<FreeSlot*>(slot);
    freed->next = freeList_;
    freeList_ = freed;
  }
  // The paths that allocate and deallocate leave to the source file: the
  // global allocator, the lock of thread-safe mode, an empty free list.
  void* allocateSlowly(std::size_t size);
  void deallocateSlowly(void* slot, std::size_t size) noexcept;
  // Takes a new slab, links it into the pool's slab list and returns its first
  // slot. REQUIRES: the caller holds the lock (in thread-safe mode).
  void* allocateFromNewSlab();

  std::size_t slotSize_;
  std::size_t alignment_;
  AllocationTracker* tracker_;
  FreeSlot* freeList_ = nullptr;
  char* bumpNext_ = nullptr;
  char* bumpEnd_ = nullptr;
  SlabHeader* slabs_ = nullptr;
  std::size_t slabCount_ = 0;
  std::atomic_flag lock_;
};

// The pool of class T. Constant-initialised, never destroyed.
template <class T>
struct PoolOf {
  static inline constinit Pool pool{sizeof(T), alignof(T), T::memAllocationTracker_};
};

}  // namespace Hunkpool

// Gives ClassName its allocation tracker and makes `new ClassName` and the
// deleting destructor use the class's slab pool. Place it in the class body;
// it leaves the access level public.
#define HUNKPOOL_CLASS_ALLOCATION(ClassName)                                               \
 public:                                                                                   \
  static inline constinit ::Hunkpool::AllocationTracker memAllocationTracker_{#ClassName}; \
  static void* operator new(std::size_t size) {                                            \
    return ::Hunkpool::PoolOf<ClassName>::pool.allocate(size);                             \
  }                                                                                        \
  static void operator delete(void* slot, std::size_t size) noexcept {                     \
    ::Hunkpool::PoolOf<ClassName>::pool.deallocate(slot, size);                            \
  }
