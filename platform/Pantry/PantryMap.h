// Pantry::PantryMap<Record, KeyOf>: a fixed-capacity hash map of records in a
// shared-memory segment, keyed by a key that each record carries.
//
// KeyOf provides
//   using Key = ...;                              // totally ordered value type
//   static Key key(Record const& record);
//   static std::uint64_t hash(Key const& key);    // the same in every process
// Record is trivially copyable and default-constructible; its default value
// is the "default record" that a lookup of an absent key yields.
//
// Operations and costs (n records, capacity c): lookup, insert-or-replace
// (in place when the key is held) and delete are O(1) expected; count is
// O(1); first() and nextAfter(key) are O(1) expected per step, so a walk is
// O(c). An insert of a new key into a full map raises CollectionFullError and
// changes nothing.
//
// Walks: records are ordered by (home slot, key), the same order in every
// process and after a remount. nextAfter(key) gives the first record after
// `key` in that order whether or not `key` is held, so a walk may delete its
// current record and go on.
//
// Implementation details: open addressing over 2c rounded up to a power of
// two home slots (load factor at most one half), followed by tail slots so
// that probe sequences never wrap. Robin Hood insertion with ties broken by
// key keeps every run of occupied slots sorted by (home, key), which is what
// makes the walk order well defined and lets a failed lookup stop early;
// deletion shifts the following displaced records back by one (no
// tombstones). Each slot is written under its seqlock; moves of records are
// bracketed by the segment's structure sequence, and readers retry a lookup
// or a walk step that overlapped one. Every change is covered by the undo
// record (SegmentFormat.h), so a writer killed at any point leaves a map that
// the next writer mount rolls back to the state before the interrupted
// change. A run of occupied slots is never allowed to grow past the undo
// area (1,024 slots); with a load factor of one half and a mixing hash this
// is never reached in practice, and an insert that would reach it is refused
// as full.
//
// Thread safety: one writer thread (in the process that holds the writer
// mount); any number of readers, in this or other processes, each through its
// own read-only mount.
#pragma once

#include <fmt/format.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <type_traits>
#include <vector>

#include "Hunkpool/Pool.h"
#include "Pantry/PantryMapBase.h"
#include "Quor/Assert.h"

namespace Pantry {

template <class Record, class KeyOf>
class PantryMap : public PantryMapBase {
  HUNKPOOL_CLASS_ALLOCATION(PantryMap)

 public:
  using Key = typename KeyOf::Key;
  static_assert(std::is_trivially_copyable_v<Record>, "records live in shared memory");
  static_assert(Format::slotWordsFor(sizeof(Record)) <= Format::maxSlotWords,
                "a record fits in a slot");
  static_assert(std::is_default_constructible_v<Record>);

  static constexpr std::uint32_t undoSlotCount = 1024;

  struct Lookup {
    Record record;  // the default record when not found
    bool found;
  };

  static SegmentGeometry geometry(std::uint64_t capacity, std::string typeName,
                                  std::string collectionName) {
    std::uint64_t const slots = nextPowerOfTwo(std::max<std::uint64_t>(2 * capacity, 16));
    return SegmentGeometry{Format::Kind::hashMap,
                           static_cast<std::uint32_t>(sizeof(Record)),
                           static_cast<std::uint32_t>(sizeof(Key)),
                           capacity,
                           slots,
                           undoSlotCount,
                           undoSlotCount,
                           std::move(typeName),
                           std::move(collectionName)};
  }

  // Mounts the map as its writer (Segment::openWriter), then checks its
  // structure; a map whose structure is broken is rebuilt from the records
  // that pass their checks, with the wiped mark set.
  static Vesk::Ptr<PantryMap> mountWriter(std::string const& filePath, std::uint64_t capacity,
                                          std::string const& typeName,
                                          std::string const& collectionName, bool heldBefore,
                                          unsigned fileMode) {
    Vesk::Ptr<PantryMap> map(new PantryMap(Segment::openWriter(
        filePath, geometry(capacity, typeName, collectionName), heldBefore, fileMode)));
    map->checkStructure();
    return map;
  }

  static Vesk::Ptr<PantryMap> mountReader(std::string const& filePath, std::uint64_t capacity,
                                          std::string const& typeName,
                                          std::string const& collectionName) {
    return Vesk::Ptr<PantryMap>(
        new PantryMap(Segment::openReader(filePath, geometry(capacity, typeName, collectionName))));
  }

  // The record of `key`, or the default record. Raises
  // Vesk::CorruptionDetectedException.
  Lookup lookup(Key const& key) const {
    return guarded([&] {
      Slot slot;
      Probe const found = probe(key, slot);
      if (!found.found) {
        return Lookup{Record{}, false};
      }
      segment().verifySlot(found.index, slot.words, Words{});
      return Lookup{slot.record(), true};
    });
  }

  bool has(Key const& key) const { return lookup(key).found; }

  // Inserts `record` under its key, replacing the record held there in place.
  // REQUIRES: a writer mount. Raises CollectionFullError when the key is new
  // and the map is full.
  void insert(Record const& record) {
    requireWriter("insert");
    Key const key = KeyOf::key(record);
    std::uint64_t const home = homeOf(key);
    Slot image;
    image.encode(record, home);
    Slot slot;
    Probe const found = probe(key, home, slot);
    std::uint64_t const position = found.index;
    if (found.found) {
      segment().armUndo(position, 1, Words{});
      segment().writeSlot(position, image.words, Words{});
      segment().disarmUndo();
      return;
    }
    if (position == segment().slotTotal()) {
      refuse(key, "its probe sequence reached the end of the slots");
    }
    if (count() >= capacity()) {
      throw CollectionFullError(fmt::format("pantry collection {} at {} is full ({} records)",
                                            collectionName(), path(), capacity()));
    }
    std::uint64_t const end = runEnd(position);  // the first empty slot at or after position
    // Filling `end` joins the run before it with the run after it.
    if (end == segment().slotTotal() || runEnd(end + 1) - runStart(position) > undoSlotCount) {
      refuse(key, "its run of occupied slots would grow too long");
    }
    std::uint64_t const changed = end - position + 1;
    segment().armUndo(position, changed, Words{});
    bool const moves = end > position;
    if (moves) {
      segment().structureChangeBegin();
      for (std::uint64_t index = end; index > position; --index) {
        segment().moveSlot(index - 1, index);
      }
    }
    segment().writeSlot(position, image.words, Words{});
    if (moves) {
      segment().structureChangeEnd();
    }
    segment().store(segment().header().count, count() + 1);
    segment().disarmUndo();
  }

  // Starts bringing the home slot of `key` and its neighbours into the
  // cache, so that an insert, delete or lookup of the key soon after does not
  // wait for memory: a hint that changes nothing. The neighbours are what an
  // insert of a new key reads besides the home: it scans back to the start of
  // the run it joins and on past the empty slot it fills, to check the length
  // of the joined run; at this map's load most runs are that short. Any mount.
  void prefetch(Key const& key) const noexcept {
    std::uint64_t const home = homeOf(key);
    std::uint64_t const first = home < 2 ? 0 : home - 2;
    static_assert(undoSlotCount >= 3, "the tail slots hold the last home's neighbours");
    segment().prefetchSlots(first, home + 4 - first);
  }

  // Removes the record of `key`; returns false when it was not held.
  // REQUIRES: a writer mount.
  bool del(Key const& key) {
    requireWriter("del");
    Slot slot;
    Probe const found = probe(key, slot);
    if (!found.found) {
      return false;
    }
    std::uint64_t const position = found.index;
    // The displaced records that follow move back by one.
    std::uint64_t last = position;
    while (last + 1 < segment().slotTotal()) {
      std::uint64_t const state = segment().peekState(last + 1);
      if (state == Format::stateEmpty || state - 1 == last + 1) {
        break;
      }
      ++last;
    }
    segment().armUndo(position, last - position + 1, Words{});
    bool const moves = last > position;
    if (moves) {
      segment().structureChangeBegin();
      for (std::uint64_t index = position; index < last; ++index) {
        segment().moveSlot(index + 1, index);
      }
    }
    segment().clearSlot(last, Words{});
    if (moves) {
      segment().structureChangeEnd();
    }
    segment().store(segment().header().count, count() - 1);
    segment().disarmUndo();
    return true;
  }

  // The first record in walk order, or nothing when the map is empty.
  std::optional<Record> first() const {
    if (count() == 0) {
      return std::nullopt;
    }
    return guarded([&] { return scanFrom(0, nullptr); });
  }

  // The first record after `key` in walk order, whether or not `key` is held.
  std::optional<Record> nextAfter(Key const& key) const {
    return guarded([&] {
      std::uint64_t const home = homeOf(key);
      std::pair<std::uint64_t, Key const*> const after{home, &key};
      return scanFrom(home, &after);
    });
  }

  // Test seam, null outside tests: called after a reader mount reads a slot,
  // so that a test can move records at a chosen instant of a read and check
  // that the read notices and starts again.
  static inline void (*afterReaderSlotRead)(std::uint64_t slot) = nullptr;

  // The home slot of `key`.
  std::uint64_t homeOf(Key const& key) const noexcept {
    // Fibonacci hashing: one multiply spreads every bit of the key's hash
    // into the high bits that pick the home, so a hash with weak high bits
    // still spreads.
    return (KeyOf::hash(key) * 0x9E3779B97F4A7C15ull) >> homeShift_;
  }

 private:
  static constexpr std::uint32_t recordWords = Format::recordWordsFor(sizeof(Record));
  using Words = Segment::FixedWords<Format::slotWordsFor(sizeof(Record))>;

  // A slot image in process memory.
  struct Slot {
    std::uint64_t words[Format::maxSlotWords];

    void encode(Record const& record, std::uint64_t home) {
      words[0] = 0;
      words[1] = home + 1;
      std::memset(words + Format::slotHeaderWords, 0, recordWords * 8);
      std::memcpy(words + Format::slotHeaderWords, &record, sizeof(Record));
    }
    std::uint64_t home() const { return words[1] - 1; }
    Record record() const {
      Record record;
      std::memcpy(static_cast<void*>(&record), words + Format::slotHeaderWords, sizeof(Record));
      return record;
    }
  };

  explicit PantryMap(std::unique_ptr<Segment> segment) : PantryMapBase(std::move(segment)) {
    std::uint64_t const slots = this->segment().header().fingerprint.slotCount;
    homeShift_ = 64 - static_cast<unsigned>(__builtin_ctzll(slots));
    QUOR_ASSERT(this->segment().slotWords() == Words::value);  // the fingerprint holds it
  }

  bool read(std::uint64_t index, Slot& slot) const {
    bool const occupied = segment().readSlot(index, slot.words, Words{});
    if (afterReaderSlotRead != nullptr && !writable()) [[unlikely]] {
      afterReaderSlotRead(index);
    }
    return occupied;
  }

  struct Probe {
    std::uint64_t index;  // the slot of the key, or where it would go
    bool found;           // `slot` then holds its image
  };

  // Finds `key` along its probe sequence. Slots of other homes are told apart
  // by their state word alone; only slots of the key's own home are read in
  // full (under the seqlock) and compared by key.
  Probe probe(Key const& key, Slot& slot) const { return probe(key, homeOf(key), slot); }

  // probe, for a caller that has the key's home already.
  Probe probe(Key const& key, std::uint64_t home, Slot& slot) const {
    std::uint64_t const total = segment().slotTotal();
    for (std::uint64_t index = home; index < total; ++index) {
      std::uint64_t const state = segment().peekState(index);
      if (state == Format::stateEmpty || state - 1 > home) {
        return Probe{index, false};
      }
      if (state - 1 < home || !read(index, slot)) {
        continue;
      }
      int const order = compare(slot.home(), KeyOf::key(slot.record()), home, key);
      if (order == 0) {
        return Probe{index, true};
      }
      if (order > 0) {
        return Probe{index, false};
      }
    }
    return Probe{total, false};
  }

  static int compare(std::uint64_t homeA, Key const& keyA, std::uint64_t homeB, Key const& keyB) {
    if (homeA != homeB) {
      return homeA < homeB ? -1 : 1;
    }
    if (keyA == keyB) {
      return 0;
    }
    return keyA < keyB ? -1 : 1;
  }

  // Runs `attempt` until no record moved while it ran. The writer's own
  // reads never race a move.
  template <class Attempt>
  auto guarded(Attempt&& attempt) const -> decltype(attempt()) {
    if (writable()) {
      return attempt();
    }
    Segment const& shared = segment();
    Segment::ReaderWait pace;
    do {
      std::uint64_t const before =
          shared.load(shared.header().structureSequence, std::memory_order_acquire);
      if ((before & 1) != 0) {
        continue;
      }
      auto result = attempt();
      std::atomic_thread_fence(std::memory_order_acquire);
      if (shared.load(shared.header().structureSequence) == before) {
        return result;
      }
    } while (pace.wait());
    shared.corrupt("records kept moving, or a writer stopped while moving them");
  }

  // The first record at or after slot `start` that comes after `after` in
  // walk order (any record when `after` is null).
  std::optional<Record> scanFrom(std::uint64_t start,
                                 std::pair<std::uint64_t, Key const*> const* after) const {
    Slot slot;
    for (std::uint64_t index = segment().nextOccupied(start); index < segment().slotTotal();
         index = segment().nextOccupied(index + 1)) {
      if (!read(index, slot)) {
        continue;
      }
      Record record = slot.record();
      if (after == nullptr ||
          compare(slot.home(), KeyOf::key(record), after->first, *after->second) > 0) {
        segment().verifySlot(index, slot.words, Words{});
        return record;
      }
    }
    return std::nullopt;
  }

  std::uint64_t runEnd(std::uint64_t position) const {
    while (position < segment().slotTotal() && segment().peekState(position) != 0) {
      ++position;
    }
    return position;
  }

  std::uint64_t runStart(std::uint64_t position) const {
    while (position > 0 && segment().peekState(position - 1) != 0) {
      --position;
    }
    return position;
  }

  [[noreturn]] void refuse(Key const& key, char const* why) const {
    throw CollectionFullError(fmt::format("pantry collection {} at {} cannot take key {}: {}",
                                          collectionName(), path(), homeOf(key), why));
  }

  // Writer mount: checks that every record sits in its run at or after its
  // home, in (home, key) order, and recounts. A map that fails (foreign
  // corruption, or records dropped by the segment's repair) is rebuilt from
  // its surviving records and marked wiped. Only occupied slots are read:
  // the mount's repair has made the occupancy bitmap exact.
  void checkStructure() {
    Segment& shared = segment();
    std::uint64_t records = 0;
    bool broken = shared.slotsDropped() > 0;
    Slot slot;
    std::uint64_t previousIndex = 0;
    std::uint64_t previousHome = 0;
    Key previousKey{};
    for (std::uint64_t index = shared.nextOccupied(0); index < shared.slotTotal() && !broken;
         index = shared.nextOccupied(index + 1)) {
      if (!read(index, slot)) {
        continue;
      }
      bool const previousOccupied = records > 0 && previousIndex + 1 == index;
      Key const key = KeyOf::key(slot.record());
      broken = slot.home() != homeOf(key) || slot.home() > index ||
               (slot.home() < index && !previousOccupied) ||
               (previousOccupied && compare(previousHome, previousKey, slot.home(), key) >= 0);
      ++records;
      previousIndex = index;
      previousHome = slot.home();
      previousKey = key;
    }
    if (broken) {
      rebuild();
      return;
    }
    shared.store(shared.header().count, records);
  }

  void rebuild() {
    Segment& shared = segment();
    shared.store(shared.header().wiped, 1);
    std::vector<Record> survivors;
    Slot slot;
    for (std::uint64_t index = 0; index < shared.slotTotal(); ++index) {
      if (read(index, slot) && survivors.size() < capacity()) {
        survivors.push_back(slot.record());
      }
      shared.clearSlot(index, Words{});
    }
    shared.store(shared.header().count, 0);
    for (Record const& record : survivors) {
      insert(record);
    }
  }

  unsigned homeShift_ = 0;
};

}  // namespace Pantry
