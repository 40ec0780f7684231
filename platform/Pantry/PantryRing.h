// Pantry::PantryRing<Record, KeyOf>: a fixed-capacity collection of records
// keyed by a 64-bit sequence number, in a shared-memory segment. It suits a
// log whose records are numbered densely and removed roughly in order.
//
// KeyOf provides
//   using Key = std::uint64_t;
//   static Key key(Record const& record);
// Record is trivially copyable and default-constructible.
//
// Storage is a ring of capacity rounded up to a power of two slots; the
// record of key k lives in slot k mod slots. The keys held always lie in a
// window [low, high] narrower than the ring, so no two held keys share a
// slot; an insert that would widen the window past the ring, or add a record
// to a full ring, raises CollectionFullError and changes nothing.
//
// Operations and costs: lookup, insert-or-replace and delete are O(1);
// deleting the lowest or highest key moves low or high to the next key held,
// which is O(1) amortised when keys are removed in order. Walks run in
// ascending key order: first() and nextAfter(key), for a key held or not,
// cost O(1) per step plus the gaps skipped.
//
// Records never move, so readers need only the per-slot seqlock. Every
// change is covered by the undo record (SegmentFormat.h).
//
// Thread safety: as PantryMap.
#pragma once

#include <fmt/format.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <type_traits>

#include "Hunkpool/Pool.h"
#include "Pantry/PantryMapBase.h"
#include "Quor/Assert.h"

namespace Pantry {

template <class Record, class KeyOf>
class PantryRing : public PantryMapBase {
  HUNKPOOL_CLASS_ALLOCATION(PantryRing)

 public:
  using Key = std::uint64_t;
  static_assert(std::is_same_v<typename KeyOf::Key, std::uint64_t>, "rings are keyed by u64");
  static_assert(std::is_trivially_copyable_v<Record>, "records live in shared memory");
  static_assert(Format::slotWordsFor(sizeof(Record)) <= Format::maxSlotWords,
                "a record fits in a slot");

  struct Lookup {
    Record record;  // the default record when not found
    bool found;
  };

  static SegmentGeometry geometry(std::uint64_t capacity, std::string typeName,
                                  std::string collectionName) {
    return SegmentGeometry{Format::Kind::ring,
                           static_cast<std::uint32_t>(sizeof(Record)),
                           static_cast<std::uint32_t>(sizeof(Key)),
                           capacity,
                           nextPowerOfTwo(std::max<std::uint64_t>(capacity, 4)),
                           0,
                           1,
                           std::move(typeName),
                           std::move(collectionName)};
  }

  static Vesk::Ptr<PantryRing> mountWriter(std::string const& filePath, std::uint64_t capacity,
                                           std::string const& typeName,
                                           std::string const& collectionName, bool heldBefore,
                                           unsigned fileMode) {
    Vesk::Ptr<PantryRing> ring(new PantryRing(Segment::openWriter(
        filePath, geometry(capacity, typeName, collectionName), heldBefore, fileMode)));
    ring->checkStructure();
    return ring;
  }

  static Vesk::Ptr<PantryRing> mountReader(std::string const& filePath, std::uint64_t capacity,
                                           std::string const& typeName,
                                           std::string const& collectionName) {
    return Vesk::Ptr<PantryRing>(new PantryRing(
        Segment::openReader(filePath, geometry(capacity, typeName, collectionName))));
  }

  Lookup lookup(Key key) const {
    Slot slot;
    if (readKey(key, slot)) {
      segment().verifySlot(key & mask_, slot.words, Words{});
      return Lookup{slot.record(), true};
    }
    return Lookup{Record{}, false};
  }

  bool has(Key key) const { return lookup(key).found; }

  // Inserts `record` under its key, replacing the record held there.
  // REQUIRES: a writer mount.
  void insert(Record const& record) {
    requireWriter("insert");
    Key const key = KeyOf::key(record);
    Slot image;
    image.encode(record);
    std::uint64_t const index = key & mask_;
    // Only the writer changes slots, so the state word alone tells an empty
    // slot (the common case: a log appends new keys); an occupied one is read.
    Slot held;
    if (segment().peekState(index) != Format::stateEmpty && read(index, held)) {
      if (KeyOf::key(held.record()) != key) {
        refuse(key);  // only possible when the window is already as wide as the ring
      }
      segment().armUndo(index, 1, Words{});
      segment().writeSlot(index, image.words, Words{});
      segment().disarmUndo();
      return;
    }
    std::uint64_t const records = count();
    std::uint64_t low = records == 0 ? key : std::min(lowKey(), key);
    std::uint64_t high = records == 0 ? key : std::max(highKey(), key);
    if (records >= capacity() || high - low >= mask_ + 1) {
      refuse(key);
    }
    Segment& shared = segment();
    shared.armUndo(index, 1, Words{});
    shared.writeSlot(index, image.words, Words{});
    shared.store(shared.header().low, low);
    shared.store(shared.header().high, high);
    shared.store(shared.header().count, records + 1);
    shared.disarmUndo();
  }

  // Removes the record of `key`; returns false when it was not held.
  // REQUIRES: a writer mount.
  bool del(Key key) {
    requireWriter("del");
    Slot slot;
    if (!readKey(key, slot)) {
      return false;
    }
    Segment& shared = segment();
    std::uint64_t const index = key & mask_;
    std::uint64_t const remaining = count() - 1;
    std::uint64_t low = lowKey();
    std::uint64_t high = highKey();
    if (remaining > 0 && key == low) {
      low = nextHeld(key + 1, high);
    }
    if (remaining > 0 && key == high) {
      high = previousHeld(key - 1, low);
    }
    shared.armUndo(index, 1, Words{});
    shared.clearSlot(index, Words{});
    shared.store(shared.header().low, low);
    shared.store(shared.header().high, high);
    shared.store(shared.header().count, remaining);
    shared.disarmUndo();
    return true;
  }

  // The record of the lowest key held.
  std::optional<Record> first() const {
    if (count() == 0) {
      return std::nullopt;
    }
    return scanUp(lowKey());
  }

  // The record of the lowest key held above `key`.
  std::optional<Record> nextAfter(Key key) const {
    if (key == ~Key{0} || count() == 0) {
      return std::nullopt;
    }
    return scanUp(std::max(key + 1, lowKey()));
  }

  Key lowKey() const noexcept { return segment().load(segment().header().low); }
  Key highKey() const noexcept { return segment().load(segment().header().high); }

  // Test seam, null outside tests: called after a reader mount reads a slot,
  // so that a test can disturb a read at a chosen instant and check that
  // its caller starts again.
  static inline void (*afterReaderSlotRead)(std::uint64_t slot) = nullptr;

 private:
  static constexpr std::uint32_t recordWords = Format::recordWordsFor(sizeof(Record));
  using Words = Segment::FixedWords<Format::slotWordsFor(sizeof(Record))>;

  struct Slot {
    std::uint64_t words[Format::maxSlotWords];

    void encode(Record const& record) {
      words[0] = 0;
      words[1] = Format::stateRingOccupied;
      std::memset(words + Format::slotHeaderWords, 0, recordWords * 8);
      std::memcpy(words + Format::slotHeaderWords, &record, sizeof(Record));
    }
    Record record() const {
      Record record;
      std::memcpy(static_cast<void*>(&record), words + Format::slotHeaderWords, sizeof(Record));
      return record;
    }
  };

  explicit PantryRing(std::unique_ptr<Segment> segment)
      : PantryMapBase(std::move(segment)),
        mask_(this->segment().header().fingerprint.slotCount - 1) {
    QUOR_ASSERT(this->segment().slotWords() == Words::value);  // the fingerprint holds it
  }

  bool read(std::uint64_t index, Slot& slot) const {
    bool const occupied = segment().readSlot(index, slot.words, Words{});
    if (afterReaderSlotRead != nullptr && !writable()) [[unlikely]] {
      afterReaderSlotRead(index);
    }
    return occupied;
  }

  bool readKey(Key key, Slot& slot) const {
    return read(key & mask_, slot) && KeyOf::key(slot.record()) == key;
  }

  // Scans at most one ring's worth of keys, so that a reader given a
  // damaged high word still ends.
  std::optional<Record> scanUp(Key from) const {
    Slot slot;
    Key const high = highKey();
    if (from > high) {
      return std::nullopt;
    }
    Key const last = high - from > mask_ ? from + mask_ : high;
    for (Key key = from; key <= last && key >= from; ++key) {
      if (readKey(key, slot)) {
        segment().verifySlot(key & mask_, slot.words, Words{});
        return slot.record();
      }
    }
    return std::nullopt;
  }

  // The writer's scans for the new low or high key after a delete. Within
  // the window [low, high] an occupied slot can only hold the key of its own
  // position (the window is narrower than the ring), and only the writer
  // changes slots, so the state word decides without reading the record.
  Key nextHeld(Key from, Key high) const {
    for (Key key = from; key < high; ++key) {
      if (segment().peekState(key & mask_) != Format::stateEmpty) {
        return key;
      }
    }
    return high;
  }

  Key previousHeld(Key from, Key low) const {
    for (Key key = from; key > low; --key) {
      if (segment().peekState(key & mask_) != Format::stateEmpty) {
        return key;
      }
    }
    return low;
  }

  [[noreturn]] void refuse(Key key) const {
    throw CollectionFullError(fmt::format(
        "pantry collection {} at {} cannot take key {}: it holds {} of {} records, keys {} to {}",
        collectionName(), path(), key, count(), capacity(), lowKey(), highKey()));
  }

  // Writer mount: every record must sit in the slot of its key, within a
  // window narrower than the ring. Records that do not are dropped and the
  // ring is marked wiped; count, low and high are recomputed. The mount's
  // repair has made the occupancy bitmap exact, so only occupied slots are
  // read: a mostly empty ring of a million slots mounts in a bitmap scan.
  void checkStructure() {
    Segment& shared = segment();
    Slot slot;
    std::uint64_t records = 0;
    Key low = ~Key{0};
    Key high = 0;
    for (std::uint64_t index = shared.nextOccupied(0); index <= mask_;
         index = shared.nextOccupied(index + 1)) {
      if (!read(index, slot)) {
        continue;
      }
      Key const key = KeyOf::key(slot.record());
      if ((key & mask_) != index) {
        shared.clearSlot(index, Words{});
        shared.store(shared.header().wiped, 1);
        continue;
      }
      ++records;
      low = std::min(low, key);
      high = std::max(high, key);
    }
    if (records > 0 && high - low > mask_) {
      // Keys that cannot all be held at once: keep none of them.
      for (std::uint64_t index = 0; index <= mask_; ++index) {
        shared.clearSlot(index, Words{});
      }
      shared.store(shared.header().wiped, 1);
      records = 0;
    }
    shared.store(shared.header().count, records);
    shared.store(shared.header().low, records > 0 ? low : 0);
    shared.store(shared.header().high, records > 0 ? high : 0);
  }

  std::uint64_t mask_;
};

}  // namespace Pantry
