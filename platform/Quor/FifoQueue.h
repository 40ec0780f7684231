// Quor::FifoQueue<T>: a first-in first-out queue that keeps its storage.
//
// Storage: a vector and the index of the first live element. pop() releases
// the element and moves the index; when the queue empties, the index goes
// back to 0 and the vector keeps its capacity; when the released prefix is
// more than half of the vector (and at least 64 elements), it is cut out. A
// queue that drains now and then therefore allocates nothing once it has
// reached its working size, where std::deque allocates a block every few
// dozen elements as they pass through.
//
// Costs: push and pop O(1) amortized; the cut moves the live elements.
//
// Thread safety: none.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

#include "Quor/Assert.h"

namespace Quor {

template <class T>
class FifoQueue {
 public:
  bool empty() const noexcept { return head_ == elements_.size(); }
  std::size_t size() const noexcept { return elements_.size() - head_; }

  void push(T element) { elements_.push_back(std::move(element)); }
  // Releases every element; the storage stays.
  void clear() {
    elements_.clear();
    head_ = 0;
  }
  // REQUIRES: !empty().
  T& front() {
    QUOR_ASSERT(!empty());
    return elements_[head_];
  }
  // The element `offset` places behind the front, or null when the queue is
  // shorter.
  T const* peek(std::size_t offset) const noexcept {
    return offset < size() ? &elements_[head_ + offset] : nullptr;
  }
  // REQUIRES: !empty().
  void pop() {
    QUOR_ASSERT(!empty());
    elements_[head_++] = T{};
    if (head_ == elements_.size()) {
      elements_.clear();
      head_ = 0;
    } else if (head_ >= 64 && head_ * 2 > elements_.size()) {
      elements_.erase(elements_.begin(), elements_.begin() + static_cast<std::ptrdiff_t>(head_));
      head_ = 0;
    }
  }

 private:
  std::vector<T> elements_;
  std::size_t head_ = 0;
};

}  // namespace Quor
