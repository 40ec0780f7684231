// Vesk::RQueue<T>: the runtime's chunked first-in first-out queue, whose
// elements are addressed by a 32-bit index.
//
// Indexes. The first element ever enqueued gets index 1; each enqueue gives
// the next index. Indexes are never reused: dequeuing and clearing keep the
// numbering. Indexes compare in serial-number order modulo 2^32 (a precedes
// b when b - a, as a signed 32-bit number, is positive), so the numbering may
// wrap around. The element count is back - front + 1.
//
// Storage. A circular list of chunks; the queue holds one pointer, to the
// newest chunk, whose link leads to the oldest. A chunk holds its base index
// (the index of slot 0), its head offset (first live slot, 14 bits), its fill
// (slots used, 14 bits) and the base-2 logarithm of its capacity (4 bits),
// then the slots. The first
// chunk has capacity 4 and base index 1. When the newest chunk is full, the
// next has the smallest power of two capacity strictly greater than the
// element count, at least 4 and at most 8192. A chunk is freed as soon as its
// last element leaves; when that empties the queue, a chunk of capacity 0
// remains that holds only the next index, and the next enqueue replaces it.
//
// Chunk memory. A freed chunk's memory is kept for reuse by the next chunk of
// the same capacity made on the same thread: per capacity and thread, as many
// chunks as fit in keptBytes (64 KiB), and at least chunksKeptPerCapacity
// (2); beyond that it goes back to the global allocator. Queues that fill and
// drain over and over (the in-log queues of a unit's tables between two
// publications of the hardware) therefore stop allocating once they have
// seen their working size. Under AddressSanitizer nothing is kept, so a use
// of a freed chunk is still caught. The kept memory has no destructor (a
// queue may be freed by a static destructor after the thread's own storage is
// gone), so what a thread keeps is never returned, also when the thread ends:
// per thread and element type, at most 64 KiB for each of the 13 capacities,
// or two chunks of the capacity when one is larger (about 1 MiB for
// pointer-sized elements).
//
// Costs: enqueue and dequeue O(1) plus an occasional chunk allocation (none
// in a warm steady state); index lookup O(chunks), and chunks grow with the
// queue, so a long queue has few.
//
// Invariants:
//  1. Capacities are powers of two (asserted: "isPowerOfTwo( i )").
//  2. Live slots of a chunk are [head, fill); every chunk but a capacity-0
//     one has at least one live slot.
//  3. The chunks' ranges are consecutive in index order.
//
// Thread safety: none.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>
#include <utility>

#include "Vesk/Assert.h"

namespace Vesk {

template <class T>
class RQueue {
 public:
  static constexpr std::uint32_t firstCapacity = 4;
  static constexpr std::uint32_t maximumCapacity = 8192;
  static constexpr std::uint32_t chunksKeptPerCapacity = 2;
  static constexpr std::size_t keptBytes = 64 * 1024;

  RQueue() noexcept = default;
  // A queue whose first element gets `firstIndex` (tools and tests use it to
  // look at the numbering's wrap-around).
  explicit RQueue(std::uint32_t firstIndex) noexcept : firstIndex_(firstIndex) {}
  RQueue(RQueue const&) = delete;
  RQueue& operator=(RQueue const&) = delete;
  ~RQueue() { releaseAll(); }

  // True when a precedes b in serial-number order.
  static bool precedes(std::uint32_t a, std::uint32_t b) noexcept {
    return static_cast<std::int32_t>(b - a) > 0;
  }

  bool empty() const noexcept { return newest_ == nullptr || oldest()->live() == 0; }
  std::uint32_t count() const noexcept { return empty() ? 0 : backIndex() - frontIndex() + 1; }
  // REQUIRES: !empty().
  std::uint32_t frontIndex() const noexcept { return oldest()->base + oldest()->head; }
  std::uint32_t backIndex() const noexcept { return newest_->base + newest_->fill - 1; }
  // The index the next enqueue will give.
  std::uint32_t nextIndex() const noexcept {
    return newest_ == nullptr ? firstIndex_ : newest_->base + newest_->fill;
  }

  // Appends `element`; returns its index.
  std::uint32_t enq(T element) {
    if (newest_ == nullptr) {
      newest_ = makeChunk(firstCapacity, firstIndex_);
      newest_->next = newest_;
    } else if (newest_->capacity() == 0) {
      // The new chunk first: when it cannot be made, the queue stays whole.
      Chunk* const chunk = makeChunk(firstCapacity, newest_->base);
      freeChunk(newest_);
      newest_ = chunk;
      newest_->next = newest_;
    } else if (newest_->fill == newest_->capacity()) {
      Chunk* chunk = makeChunk(capacityFor(count()), newest_->base + newest_->fill);
      chunk->next = newest_->next;
      newest_->next = chunk;
      newest_ = chunk;
    }
    new (&newest_->slots()[newest_->fill]) T(std::move(element));
    ++newest_->fill;
    return backIndex();
  }

  // Removes the front element into `out`; returns its index, or 0 (and
  // leaves `out`) when the queue is empty.
  std::uint32_t deq(T& out) {
    if (empty()) {
      return 0;
    }
    Chunk* chunk = oldest();
    std::uint32_t const index = chunk->base + chunk->head;
    T* slot = &chunk->slots()[chunk->head];
    out = std::move(*slot);
    slot->~T();
    ++chunk->head;
    if (chunk->head == chunk->fill) {
      std::uint32_t const next = chunk->base + chunk->fill;
      if (chunk == newest_) {
        newest_ = makeChunk(0, next);
        newest_->next = newest_;
        freeChunk(chunk);
      } else {
        newest_->next = chunk->next;
        freeChunk(chunk);
      }
    }
    return index;
  }

  // The element at `index`, or null when the index is not held.
  T const* at(std::uint32_t index) const noexcept {
    if (empty() || precedes(index, frontIndex()) || precedes(backIndex(), index)) {
      return nullptr;
    }
    Chunk const* chunk = oldest();
    while (precedes(chunk->base + chunk->fill - 1, index)) {
      chunk = chunk->next;
    }
    return &chunk->slots()[index - chunk->base];
  }
  T const* front() const noexcept { return empty() ? nullptr : at(frontIndex()); }
  T const* back() const noexcept { return empty() ? nullptr : at(backIndex()); }

  // Removes every element; the numbering goes on.
  void clear() {
    if (newest_ == nullptr) {
      return;
    }
    std::uint32_t const next = nextIndex();
    releaseAll();
    newest_ = makeChunk(0, next);
    newest_->next = newest_;
  }

  // Calls visit(index, element) from front to back.
  template <class Visit>
  void forEach(Visit&& visit) const {
    if (empty()) {
      return;
    }
    Chunk const* chunk = oldest();
    for (;;) {
      for (std::uint32_t slot = chunk->head; slot < chunk->fill; ++slot) {
        visit(chunk->base + slot, chunk->slots()[slot]);
      }
      if (chunk == newest_) {
        return;
      }
      chunk = chunk->next;
    }
  }

  // For tests and tools: the capacities of the chunks, oldest first.
  template <class Visit>
  void forEachChunkCapacity(Visit&& visit) const {
    if (newest_ == nullptr) {
      return;
    }
    Chunk const* chunk = oldest();
    for (;;) {
      visit(chunk->capacity());
      if (chunk == newest_) {
        return;
      }
      chunk = chunk->next;
    }
  }

 private:
  // Head and fill need 14 bits and the capacity's logarithm 4; they are kept
  // in whole 16- and 8-bit fields, since bit fields that share a word make
  // every enqueue and dequeue wait on a partial store.
  struct Chunk {
    std::uint32_t base;
    std::uint16_t head;
    std::uint16_t fill;
    std::uint8_t log2Capacity;
    bool hasSlots;  // false for a capacity-0 chunk
    Chunk* next;

    std::uint32_t capacity() const noexcept { return hasSlots ? 1u << log2Capacity : 0; }
    std::uint32_t live() const noexcept { return fill - head; }
    T* slots() noexcept { return reinterpret_cast<T*>(this + 1); }
    T const* slots() const noexcept { return reinterpret_cast<T const*>(this + 1); }
  };
  static_assert(alignof(T) <= alignof(Chunk), "slots follow the chunk header");

  static bool isPowerOfTwo(std::uint32_t value) noexcept {
    return value != 0 && (value & (value - 1)) == 0;
  }

  // The smallest power of two strictly greater than `elements`, within
  // [firstCapacity, maximumCapacity].
  static std::uint32_t capacityFor(std::uint32_t elements) noexcept {
    std::uint32_t capacity = firstCapacity;
    while (capacity <= elements && capacity < maximumCapacity) {
      capacity <<= 1;
    }
    return capacity;
  }

  // Freed chunks kept for reuse, per capacity (index 0 for capacity 0, k - 1
  // for capacity 2^k); see "Chunk memory" above.
  class KeptChunks {
   public:
    static constexpr std::size_t capacities = 13;  // 0, then 4 to 8192

    void* take(std::size_t index) noexcept {
      Kept* kept = head_[index];
      if (kept != nullptr) {
        head_[index] = kept->next;
        --count_[index];
      }
      return kept;
    }
    bool keep(std::size_t index, std::size_t bytes, void* memory) noexcept {
#if defined(__SANITIZE_ADDRESS__)
      (void)index;
      (void)bytes;
      (void)memory;
      return false;
#else
      if (count_[index] >= chunksKeptPerCapacity && (count_[index] + 1) * bytes > keptBytes) {
        return false;
      }
      head_[index] = new (memory) Kept{head_[index]};
      ++count_[index];
      return true;
#endif
    }

   private:
    struct Kept {
      Kept* next;
    };
    Kept* head_[capacities] = {};
    std::size_t count_[capacities] = {};
  };

  static KeptChunks& keptChunks() {
    static_assert(std::is_trivially_destructible_v<KeptChunks>);
    thread_local KeptChunks kept;
    return kept;
  }

  static std::size_t chunkBytes(std::uint32_t capacity) noexcept {
    return sizeof(Chunk) + std::size_t{capacity} * sizeof(T);
  }

  // Capacity 2^k keeps at index k - 1, apart from the capacity-0 chunks at 0.
  static_assert(firstCapacity >= 4 && (maximumCapacity >> (KeptChunks::capacities)) == 1,
                "the kept chunks' indexes cover every capacity");
  static std::size_t keptIndex(std::uint32_t capacity) noexcept {
    return capacity == 0 ? 0 : static_cast<std::size_t>(__builtin_ctz(capacity)) - 1;
  }

  static Chunk* makeChunk(std::uint32_t i, std::uint32_t base) {
    if (i != 0) {
      VESK_ASSERT_TEXT(isPowerOfTwo(i), "isPowerOfTwo( i )");
    }
    void* memory = keptChunks().take(keptIndex(i));
    if (memory == nullptr) {
      memory = ::operator new(chunkBytes(i));
    }
    Chunk* chunk = new (memory) Chunk{base, 0, 0, 0, i != 0, nullptr};
    chunk->log2Capacity = i != 0 ? static_cast<std::uint8_t>(__builtin_ctz(i)) : 0;
    return chunk;
  }

  static void freeChunk(Chunk* chunk) noexcept {
    for (std::uint32_t slot = chunk->head; slot < chunk->fill; ++slot) {
      chunk->slots()[slot].~T();
    }
    std::uint32_t const capacity = chunk->capacity();
    chunk->~Chunk();
    if (!keptChunks().keep(keptIndex(capacity), chunkBytes(capacity), chunk)) {
      ::operator delete(chunk);
    }
  }

  Chunk* oldest() const noexcept {
    return newest_->next;
  }

  void releaseAll() noexcept {
    if (newest_ == nullptr) {
      return;
    }
    Chunk* chunk = newest_->next;
    newest_->next = nullptr;
    while (chunk != nullptr) {
      Chunk* next = chunk->next;
      freeChunk(chunk);
      chunk = next;
    }
    newest_ = nullptr;
  }

  std::uint32_t firstIndex_ = 1;
  Chunk* newest_ = nullptr;
};

}  // namespace Vesk
