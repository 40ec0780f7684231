// Pantry::Segment: one mapped segment file (the format is in SegmentFormat.h).
//
// A segment is mounted by one writer and any number of readers, in any
// processes. The writer holds an exclusive advisory lock (flock) on the file
// for as long as it is mounted; the kernel drops the lock when the writer's
// process dies, so a dead writer never blocks the next one. Readers map the
// file read-only and cannot change it.
//
// A writer mount creates, validates and repairs the file (crash invariants of
// SegmentFormat.h): it rolls back an armed undo record, evens odd sequences,
// empties slots whose checksum fails, and tells whether data was lost. The
// typed collections (PantryMap, PantryRing) then check their own structure.
//
// Errors: a file that cannot be opened, locked, sized or mapped raises
// Vesk::Exception naming the path and the system error; a live second writer
// raises WriterConflictError naming the holder. A reader mount of a missing or
// invalid file raises Vesk::Exception; a writer mount recreates it.
//
// Thread safety: a segment belongs to one thread of its process.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>

#include "Pantry/SegmentFormat.h"
#include "Quor/Assert.h"
#include "Vesk/Exception.h"

namespace Pantry {

// A second writer tried to mount a segment whose writer is alive.
class WriterConflictError : public Vesk::Exception {
 public:
  using Exception::Exception;
};

// An insert into a collection that has no room for it.
class CollectionFullError : public Vesk::Exception {
 public:
  using Exception::Exception;
};

// What a collection type needs of its segment; compared with the file's
// fingerprint at every mount.
struct SegmentGeometry {
  Format::Kind kind;
  std::uint32_t recordBytes;
  std::uint32_t keyBytes;
  std::uint64_t capacity;
  std::uint64_t slotCount;
  std::uint64_t tailSlots;
  std::uint32_t undoSlots;
  std::string typeName;
  std::string collectionName;
};

// How a writer mount went.
enum class MountOutcome {
  created,    // a new segment; nothing was held before
  mounted,    // an existing, valid segment
  recreated,  // the file was missing, truncated or invalid and held data
              // before: made afresh with the wiped mark set
};

class Segment {
 public:
  // Mounts `filePath` as its writer. `heldBefore` says whether this path
  // held a segment before (a missing file then means lost data). `fileMode`
  // is the permission of a new file.
  static std::unique_ptr<Segment> openWriter(std::string const& filePath,
                                             SegmentGeometry const& geometry, bool heldBefore,
                                             unsigned fileMode);
  // Mounts `filePath` read-only.
  static std::unique_ptr<Segment> openReader(std::string const& filePath,
                                             SegmentGeometry const& geometry);
  ~Segment();
  Segment(Segment const&) = delete;
  Segment& operator=(Segment const&) = delete;

  std::string const& path() const noexcept { return path_; }
  bool writable() const noexcept { return writable_; }
  MountOutcome outcome() const noexcept { return outcome_; }
  // Whether this mount rolled back a change that a killed writer left
  // unfinished.
  bool rolledBack() const noexcept { return rolledBack_; }
  // Slots emptied at this mount because their checksum failed.
  std::uint64_t slotsDropped() const noexcept { return slotsDropped_; }
  std::uint32_t slotWords() const noexcept { return slotWords_; }
  std::uint64_t slotTotal() const noexcept { return slotTotal_; }
  std::uint32_t undoSlots() const noexcept { return undoSlots_; }

  // Shared header words.
  std::uint64_t load(std::uint64_t const& word,
                     std::memory_order order = std::memory_order_relaxed) const noexcept {
    return std::atomic_ref<std::uint64_t>(const_cast<std::uint64_t&>(word)).load(order);
  }
  void store(std::uint64_t& word, std::uint64_t value,
             std::memory_order order = std::memory_order_relaxed) noexcept {
    std::atomic_ref<std::uint64_t>(word).store(value, order);
  }
  Format::Header& header() noexcept { return *header_; }
  Format::Header const& header() const noexcept { return *header_; }

  // A slot size fixed when compiling. The slot operations below take the
  // slot's word count as a last argument: slotWords() by default, or a
  // FixedWords<N> from a typed collection, which knows N from its record type
  // (the mount's fingerprint check makes it equal to slotWords()), so that
  // the copy, checksum and store loops of its hot paths unroll.
  template <std::uint32_t N>
  using FixedWords = std::integral_constant<std::uint32_t, N>;

  // Copies a consistent image of slot `index` into `image` (slotWords words).
  // Returns false when the slot is empty. Raises
  // Vesk::CorruptionDetectedException when the slot stays inconsistent (a
  // writer killed mid-write leaves it so until the next writer mount).
  bool readSlot(std::uint64_t index, std::uint64_t* image) const {
    return readSlot(index, image, slotWords_);
  }
  template <class Words>
  bool readSlot(std::uint64_t index, std::uint64_t* image, Words words) const {
    ReadResult const result = tryReadSlot(slot(index), image, words);
    return result == ReadResult::inconsistent ? readSlotRetrying(index, image)
                                              : result == ReadResult::occupied;
  }
  // Raises Vesk::CorruptionDetectedException unless the checksum of an image
  // that readSlot returned matches.
  void verifySlot(std::uint64_t index, std::uint64_t const* image) const {
    verifySlot(index, image, slotWords_);
  }
  template <class Words>
  void verifySlot(std::uint64_t index, std::uint64_t const* image, Words words) const {
    if (Format::slotChecksum(image, words) != image[words - 1]) {
      corruptSlot(index);
    }
  }
  // Where slot `index` lies in the file (for tools and tests that examine
  // or damage images).
  std::size_t slotFileOffset(std::uint64_t index) const noexcept {
    return static_cast<std::size_t>(reinterpret_cast<char const*>(slot(index)) -
                                    static_cast<char const*>(mapping_));
  }
  static constexpr std::size_t cacheLineBytes = 64;
  // Starts bringing slot `index` into the cache for a write soon after: a
  // hint that changes nothing. It does not wait for the data, but does wait
  // for the page walk when the slot's page is not in the TLB, so callers hint
  // several slots in a row and their walks overlap.
  //
  // The empty asm statement keeps the compiler from dropping the prefetch: it
  // deems __builtin_prefetch free of effects, so it would take a function
  // that only prefetches for pure and drop every call to it.
  void prefetchSlot(std::uint64_t index) const noexcept { prefetchSlots(index, 1); }
  // The same for slots [first, first + count): every cache line they touch.
  // REQUIRES: first + count <= slotTotal().
  void prefetchSlots(std::uint64_t first, std::uint64_t count) const noexcept {
    char const* const begin = reinterpret_cast<char const*>(slot(first));
    char const* const last = begin + count * slotWords_ * sizeof(std::uint64_t) - 1;
    for (char const* line = begin; line < last; line += cacheLineBytes) {
      __builtin_prefetch(line, 1, 3);
    }
    __builtin_prefetch(last, 1, 3);
    asm volatile("" : : "r"(begin));
  }
  // The state word of slot `index`, read without the seqlock (a hint that
  // the caller confirms with readSlot).
  std::uint64_t peekState(std::uint64_t index) const noexcept {
    return load(slot(index)[1], std::memory_order_relaxed);
  }

  // The first slot at or after `from` whose occupancy bit is set, or
  // slotTotal(). A hint: the caller confirms the slot with readSlot. On a
  // writer mount the bitmap is exact from the end of openWriter on (the
  // repair recomputes it, and only this writer changes slots), so the
  // writer may skip every slot whose bit is clear.
  std::uint64_t nextOccupied(std::uint64_t from) const noexcept {
    while (from < slotTotal_) {
      std::uint64_t const word =
          atomicLoad(bitmap_[from / 64], std::memory_order_relaxed) >> (from % 64);
      if (word != 0) {
        std::uint64_t const found = from + static_cast<std::uint64_t>(__builtin_ctzll(word));
        return found < slotTotal_ ? found : slotTotal_;
      }
      from = (from / 64 + 1) * 64;
    }
    return slotTotal_;
  }

  // Writer only. Writes `image` (state and record words; the sequence and
  // checksum are filled in) into slot `index` under the seqlock, and keeps
  // the occupancy bitmap.
  void writeSlot(std::uint64_t index, std::uint64_t* image) noexcept;
  template <class Words>
  void writeSlot(std::uint64_t index, std::uint64_t* image, Words words) noexcept {
    std::uint64_t* target = slot(index);
    std::uint64_t const sequence = target[0];
    image[words - 1] = Format::slotChecksum(image, words);
    storeWord(target[0], sequence + 1);
    std::atomic_thread_fence(std::memory_order_release);
    for (std::uint32_t i = 1; i < words; ++i) {
      storeWord(target[i], image[i]);
    }
    std::atomic_ref<std::uint64_t>(target[0]).store(sequence + 2, std::memory_order_release);
    occupancyIs(index, image[1] != Format::stateEmpty);
  }
  void clearSlot(std::uint64_t index) noexcept;
  template <class Words>
  void clearSlot(std::uint64_t index, Words words) noexcept {
    std::uint64_t* target = slot(index);
    std::uint64_t const sequence = target[0];
    storeWord(target[0], sequence + 1);
    std::atomic_thread_fence(std::memory_order_release);
    for (std::uint32_t i = 1; i + 1 < words; ++i) {
      storeWord(target[i], 0);
    }
    storeWord(target[words - 1], emptyChecksum_);
    std::atomic_ref<std::uint64_t>(target[0]).store(sequence + 2, std::memory_order_release);
    occupancyIs(index, false);
  }
  // Copies the image of slot `from` (checksum included: it does not depend on
  // the slot's position) into slot `to` under the seqlock of `to`.
  void moveSlot(std::uint64_t from, std::uint64_t to) noexcept;
  // Saves slots [first, first + count) and the count, low and high words,
  // then arms the undo record. REQUIRES: count <= undoSlots().
  void armUndo(std::uint64_t first, std::uint64_t count) noexcept;
  template <class Words>
  void armUndo(std::uint64_t first, std::uint64_t count, Words words) noexcept {
    QUOR_ASSERT(count <= undoSlots_ && first + count <= slotTotal_);
    Format::Header& shared = *header_;
    // One slot is the common case; with a fixed word count its copy then has
    // a size known when compiling.
    if (count == 1) {
      std::memcpy(undoSlot(0), slot(first), std::size_t{words} * 8);
    } else {
      std::memcpy(undoSlot(0), slot(first), static_cast<std::size_t>(count) * words * 8);
    }
    std::uint64_t const records = load(shared.count);
    std::uint64_t const low = load(shared.low);
    std::uint64_t const high = load(shared.high);
    store(shared.undoFirstSlot, first);
    store(shared.undoSlotCount, count);
    store(shared.undoCount, records);
    store(shared.undoLow, low);
    store(shared.undoHigh, high);
    store(shared.undoChecksum, Format::undoHeaderChecksum(first, count, records, low, high));
    store(shared.undoArmed, 1, std::memory_order_release);
  }
  void disarmUndo() noexcept;
  // Marks the start (odd) and end (even) of a change that moves records.
  void structureChangeBegin() noexcept;
  void structureChangeEnd() noexcept;

  // How long a reader waits for the writer to finish a change before it
  // reports the collection as corrupt (a writer killed mid-change leaves it
  // unfinished until the next writer mount). Long enough for a writer that
  // was merely descheduled. A process whose readers must not wait that long
  // (a fuzz target feeding hostile files) may shorten it before it mounts.
  static inline std::chrono::milliseconds readerPatience{2000};

  // Paces a reader that waits for, or retries after, a change of the writer:
  // spins briefly, then yields. wait() returns false once readerPatience has
  // passed since the first wait.
  class ReaderWait {
   public:
    bool wait();

   private:
    std::uint32_t spins_ = 0;
    std::chrono::steady_clock::time_point since_{};
  };

  // Raises CorruptionDetectedException with `what` and the segment's path.
  [[noreturn]] void corrupt(std::string const& what) const;
  [[noreturn]] void corruptSlot(std::uint64_t index) const;

 private:
  Segment(std::string path, int fd, bool writable);
  void map(std::size_t bytes);
  // Sets the undo and slot pointers from the mapped header's fingerprint.
  void layOut();
  // Sizes, initialises and maps a new segment in the open file.
  void createFresh(SegmentGeometry const& geometry, bool wiped);
  // Replaces the invalid file at the path with a new segment, made under a
  // temporary name and renamed into place, so that processes that still map
  // the old file keep a mapping that stays valid.
  void replaceFile(SegmentGeometry const& geometry, bool wiped, unsigned fileMode);
  bool validates(SegmentGeometry const& geometry, std::size_t fileSize) const;
  void repair();
  void rollBack();
  // Sets the occupancy bit of slot `index`. REQUIRES: a writer mount.
  void occupancyIs(std::uint64_t index, bool occupied) noexcept {
    std::uint64_t& bits = bitmap_[index / 64];
    std::uint64_t const bit = std::uint64_t{1} << (index % 64);
    std::uint64_t const updated = occupied ? bits | bit : bits & ~bit;
    if (updated != bits) {
      storeWord(bits, updated);
    }
  }
  void storeWord(std::uint64_t& word, std::uint64_t value) noexcept {
    std::atomic_ref<std::uint64_t>(word).store(value, std::memory_order_relaxed);
  }
  enum class ReadResult { empty, occupied, inconsistent };
  // One seqlock read of a slot.
  template <class Words>
  ReadResult tryReadSlot(std::uint64_t const* source, std::uint64_t* image,
                         Words words) const noexcept {
    std::uint64_t const before = atomicLoad(source[0], std::memory_order_acquire);
    if ((before & 1) != 0) {
      return ReadResult::inconsistent;
    }
    for (std::uint32_t i = 1; i < words; ++i) {
      image[i] = atomicLoad(source[i], std::memory_order_relaxed);
    }
    std::atomic_thread_fence(std::memory_order_acquire);
    if (atomicLoad(source[0], std::memory_order_relaxed) != before) {
      return ReadResult::inconsistent;
    }
    image[0] = before;
    return image[1] == Format::stateEmpty ? ReadResult::empty : ReadResult::occupied;
  }
  bool readSlotRetrying(std::uint64_t index, std::uint64_t* image) const;
  static std::uint64_t atomicLoad(std::uint64_t const& word, std::memory_order order) noexcept {
    return std::atomic_ref<std::uint64_t>(const_cast<std::uint64_t&>(word)).load(order);
  }

  std::uint64_t* slot(std::uint64_t index) const noexcept { return slots_ + index * slotWords_; }
  std::uint64_t* undoSlot(std::uint64_t index) const noexcept { return undo_ + index * slotWords_; }

  std::string path_;
  int fd_;
  bool writable_;
  MountOutcome outcome_ = MountOutcome::mounted;
  bool rolledBack_ = false;
  std::uint64_t slotsDropped_ = 0;
  void* mapping_ = nullptr;
  std::size_t mappedBytes_ = 0;
  Format::Header* header_ = nullptr;
  std::uint64_t* bitmap_ = nullptr;
  std::uint64_t* undo_ = nullptr;
  std::uint64_t* slots_ = nullptr;
  std::uint32_t slotWords_ = 0;
  std::uint32_t undoSlots_ = 0;
  std::uint64_t slotTotal_ = 0;
  std::uint64_t emptyChecksum_ = 0;  // of an empty slot image
};

}  // namespace Pantry
