// Vesk::Node: the root of every entity.
//
// An entity is a heap object held by counted references (Vesk::Ptr), allocated
// from its class's slab pool (HUNKPOOL_CLASS_ALLOCATION), with a publisher for
// change notifications and a reflection record (typeData).
//
// Life cycle:
//  1. A new entity has a count of 0; the first Ptr raises it to 1.
//  2. When the last Ptr goes, refCountDec calls lastUserGone. The default
//     marks the entity as being destroyed and runs its deleting destructor.
//  3. While an entity is being destroyed its count is held high, so a Ptr made
//     to it from inside its destructor does not destroy it a second time.
//
// Thread safety: counts are raised and lowered atomically only when the
// runtime's thread-safe mode is on (Vesk/ThreadSafeMode.h); everything else
// belongs to the thread that owns the entity.
#pragma once

#include <atomic>
#include <cstdint>

#include "Vesk/Publisher.h"
#include "Vesk/ThreadSafeMode.h"

namespace Vesk {

class TypeData;

class Node {
 public:
  Node() noexcept = default;
  Node(Node const&) = delete;
  Node& operator=(Node const&) = delete;
  virtual ~Node() = default;

  // Called when the last counted reference is released. The default destroys
  // the entity through its deleting destructor.
  virtual void lastUserGone();
  virtual Publisher& publisher() const noexcept { return publisher_; }
  virtual TypeData const& typeData() const { return staticTypeData(); }
  static TypeData const& staticTypeData();

  void refCountInc() const noexcept {
    if (threadSafeMode()) {
      refCount_.fetch_add(1, std::memory_order_relaxed);
    } else {
      refCount_.store(refCount_.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    }
  }
  void refCountDec() const noexcept {
    std::uint32_t remaining;
    if (threadSafeMode()) {
      remaining = refCount_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    } else {
      remaining = refCount_.load(std::memory_order_relaxed) - 1;
      refCount_.store(remaining, std::memory_order_relaxed);
    }
    if (remaining == 0) {
      const_cast<Node*>(this)->lastUserGone();
    }
  }
  std::uint32_t refCount() const noexcept { return refCount_.load(std::memory_order_relaxed); }
  bool beingDestroyed() const noexcept { return beingDestroyed_; }

 protected:
  // Marks the entity as being destroyed and pins its count, so that counted
  // references made during destruction do not destroy it again.
  void beingDestroyedIs() noexcept;

 private:
  mutable std::atomic<std::uint32_t> refCount_{0};
  bool beingDestroyed_ = false;
  mutable Publisher publisher_;
};

}  // namespace Vesk
