// Vesk::Ptr<T>: the counted reference to an entity.
//
// An entity (a class derived from Vesk::Node) carries its own reference count;
// a Ptr raises it when it starts pointing at the entity and lowers it when it
// stops. The release of the last reference runs the entity's lastUserGone,
// which destroys it and frees it through its class's slab pool.
//
// Conversions: Ptr<Derived> converts implicitly to Ptr<Base>, and Ptr<T> to
// Ptr<T const>; a raw pointer converts implicitly to a Ptr (the count lives in
// the object, so adopting a raw pointer that is already counted elsewhere is
// safe). Down-casts and removing const are explicit: staticPtrCast,
// dynamicPtrCast and constPtrCast.
//
// Thread safety: as for the pointee's count (see Vesk/ThreadSafeMode.h); one Ptr
// object is not to be written by two threads at once.
//
// T may be incomplete where a Ptr<T> is declared; it must be complete where a
// Ptr<T> is copied, assigned or destroyed.
#pragma once

#include <compare>
#include <concepts>
#include <cstddef>
#include <functional>
#include <utility>

namespace Vesk {

template <class T>
class Ptr {
 public:
  using element_type = T;

  constexpr Ptr() noexcept = default;
  constexpr Ptr(std::nullptr_t) noexcept {}
  Ptr(T* pointee) noexcept : pointee_(pointee) { acquire(); }
  Ptr(Ptr const& other) noexcept : pointee_(other.pointee_) { acquire(); }
  Ptr(Ptr&& other) noexcept : pointee_(std::exchange(other.pointee_, nullptr)) {}
  template <class U>
  requires std::convertible_to<U*, T*> Ptr(Ptr<U> const& other)
  noexcept : pointee_(other.get()) { acquire(); }
  template <class U>
  requires std::convertible_to<U*, T*> Ptr(Ptr<U>&& other)
  noexcept : pointee_(other.release()) {}

  ~Ptr() {
    if (pointee_ != nullptr) {
      pointee_->refCountDec();
    }
  }

  Ptr& operator=(Ptr other) noexcept {
    swap(other);
    return *this;
  }

  T* get() const noexcept { return pointee_; }
  T& operator*() const noexcept { return *pointee_; }
  T* operator->() const noexcept { return pointee_; }
  explicit operator bool() const noexcept { return pointee_ != nullptr; }

  void reset() noexcept { Ptr().swap(*this); }
  void swap(Ptr& other) noexcept { std::swap(pointee_, other.pointee_); }

  // Gives up the pointee without lowering its count; the caller takes over
  // the reference.
  [[nodiscard]] T* release() noexcept { return std::exchange(pointee_, nullptr); }

  template <class U>
  bool operator==(Ptr<U> const& other) const noexcept {
    return pointee_ == other.get();
  }
  bool operator==(std::nullptr_t) const noexcept { return pointee_ == nullptr; }
  template <class U>
  std::strong_ordering operator<=>(Ptr<U> const& other) const noexcept {
    return std::compare_three_way{}(static_cast<void const*>(pointee_),
                                    static_cast<void const*>(other.get()));
  }

 private:
  void acquire() const noexcept {
    if (pointee_ != nullptr) {
      pointee_->refCountInc();
    }
  }

  T* pointee_ = nullptr;
};

template <class T, class U>
Ptr<T> staticPtrCast(Ptr<U> const& from) noexcept {
  return Ptr<T>(static_cast<T*>(from.get()));
}

// Null when the pointee is not a T.
template <class T, class U>
Ptr<T> dynamicPtrCast(Ptr<U> const& from) noexcept {
  return Ptr<T>(dynamic_cast<T*>(from.get()));
}

template <class T, class U>
Ptr<T> constPtrCast(Ptr<U> const& from) noexcept {
  return Ptr<T>(const_cast<T*>(from.get()));
}

}  // namespace Vesk

template <class T>
struct std::hash<Vesk::Ptr<T>> {
  std::size_t operator()(Vesk::Ptr<T> const& ptr) const noexcept {
    return std::hash<T const*>{}(ptr.get());
  }
};
