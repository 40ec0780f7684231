#include "Pantry/PantryMap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <vector>

#include "support/ChildProcess.h"
#include "support/RouteRecords.h"
#include "support/ScratchDirectory.h"

namespace ZaduTest {
namespace {

constexpr unsigned ownerOnly = 0600;

class PantryMapTest : public ::testing::Test {
 protected:
  Vesk::Ptr<RouteMap> mountWriter(std::uint64_t capacity = 1024, bool heldBefore = false) {
    return RouteMap::mountWriter(path(), capacity, "Test::RoutePantry", "routes", heldBefore,
                                 ownerOnly);
  }
  Vesk::Ptr<RouteMap> mountReader(std::uint64_t capacity = 1024) {
    return RouteMap::mountReader(path(), capacity, "Test::RoutePantry", "routes");
  }
  std::string path() const { return scratch.file("routes.pantry"); }

  // Every record of a walk, in walk order.
  static std::vector<RouteRecord> walk(RouteMap const& map) {
    std::vector<RouteRecord> records;
    for (auto record = map.first(); record; record = map.nextAfter(record->key)) {
      records.push_back(*record);
    }
    return records;
  }

  void patchFile(std::size_t offset, std::string const& bytes) {
    ZaduTest::patchFile(path(), offset, bytes);
  }

  ScratchDirectory scratch;
};

TEST_F(PantryMapTest, AgreesWithStdMapAndWalksInHomeThenKeyOrder) {
  auto map = mountWriter(4096);
  // One writer per process; a reader never writes.
  EXPECT_THROW(mountWriter(4096), Pantry::WriterConflictError);
  EXPECT_THROW(mountReader(4096)->insert(RouteRecord::make(routeKey(1), 1, 1)), Vesk::Exception);
  std::map<RouteKey, RouteRecord> model;
  std::mt19937 random(11);
  for (int step = 0; step < 30000; ++step) {
    RouteKey const key = routeKey(random() % 3000);
    int const action = static_cast<int>(random() % 4);
    if (action == 0) {
      EXPECT_EQ(map->del(key), model.erase(key) == 1);
    } else {
      RouteRecord const record = RouteRecord::make(key, random(), static_cast<std::uint64_t>(step));
      map->insert(record);
      model[key] = record;
    }
    ASSERT_EQ(map->count(), model.size());
  }
  for (std::uint32_t n = 0; n < 3000; ++n) {
    auto const found = map->lookup(routeKey(n));
    auto const expected = model.find(routeKey(n));
    ASSERT_EQ(found.found, expected != model.end());
    EXPECT_EQ(found.record, found.found ? expected->second : RouteRecord{});
  }

  std::vector<RouteRecord> const walked = walk(*map);
  ASSERT_EQ(walked.size(), model.size());
  for (std::size_t i = 1; i < walked.size(); ++i) {
    auto const before = std::make_pair(map->homeOf(walked[i - 1].key), walked[i - 1].key);
    auto const after = std::make_pair(map->homeOf(walked[i].key), walked[i].key);
    EXPECT_LT(before, after);
  }
}

// A key type whose hash is the key itself (only low bits vary) must still
// spread over the slots and fill the map to capacity; the full map refuses
// new keys only, and stays intact.
TEST_F(PantryMapTest, AWeakKeyHashStillFillsTheMapWhichThenRefusesOnlyNewKeys) {
  struct Plain {
    std::uint64_t key = 0;
    std::uint64_t value = 0;
  };
  struct PlainKeyOf {
    using Key = std::uint64_t;
    static Key key(Plain const& record) { return record.key; }
    static std::uint64_t hash(Key key) { return key; }
  };
  using PlainMap = Pantry::PantryMap<Plain, PlainKeyOf>;
  auto map = PlainMap::mountWriter(scratch.file("plain.pantry"), 65536, "Test::Plain", "plain",
                                   false, ownerOnly);
  for (std::uint64_t key = 0; key < 65536; ++key) {
    map->insert(Plain{key, key});
  }
  EXPECT_EQ(map->count(), 65536u);
  EXPECT_THROW(map->insert(Plain{70000, 1}), Pantry::CollectionFullError);
  map->insert(Plain{5, 99});  // replacing still works
  EXPECT_EQ(map->count(), 65536u);
  EXPECT_EQ(map->lookup(5).record.value, 99u);
  EXPECT_EQ(map->lookup(40000).record.value, 40000u);
  EXPECT_FALSE(map->has(70000));
}

TEST_F(PantryMapTest, WalksResumeAfterPresentAbsentAndJustDeletedKeys) {
  auto map = mountWriter();
  for (std::uint32_t n = 0; n < 200; ++n) {
    map->insert(RouteRecord::make(routeKey(n), n, 1));
  }
  std::vector<RouteRecord> const all = walk(*map);
  ASSERT_EQ(all.size(), 200u);

  // Next after a present key is its successor; after an absent key, the
  // record that would follow it.
  EXPECT_EQ(map->nextAfter(all[10].key)->key, all[11].key);
  RouteKey const absent = routeKey(5000);
  auto const follower = std::find_if(all.begin(), all.end(), [&](RouteRecord const& record) {
    return std::pair(map->homeOf(record.key), record.key) > std::pair(map->homeOf(absent), absent);
  });
  ASSERT_NE(follower, all.end());
  EXPECT_EQ(map->nextAfter(absent)->key, follower->key);
  EXPECT_FALSE(map->nextAfter(all.back().key));

  // Deleting the current record, and others, during a walk.
  std::size_t visited = 0;
  for (auto record = map->first(); record; record = map->nextAfter(record->key)) {
    ++visited;
    map->del(record->key);
  }
  EXPECT_EQ(visited, 200u);
  EXPECT_EQ(map->count(), 0u);
  EXPECT_FALSE(map->first());
}

// Files that are not what the mount expects are never trusted: the writer
// makes them afresh and marks them wiped when they held data.
TEST_F(PantryMapTest, ForeignOrDamagedFilesAreRecreatedWiped) {
  auto fill = [&] {
    auto map = mountWriter(1024, true);
    map->insert(RouteRecord::make(routeKey(1), 1, 1));
    map->clearWiped();
  };
  std::pair<char const*, std::function<void()>> const damages[] = {
      {"bad magic", [&] { patchFile(0, "XXXX"); }},
      {"other format version", [&] { patchFile(8, std::string("\x07", 1)); }},
      {"fingerprint checksum",
       [&] { patchFile(offsetof(Pantry::Format::Header, fingerprintChecksum), "x"); }},
      {"truncated", [&] { std::filesystem::resize_file(path(), 5000); }},
      {"missing", [&] { std::filesystem::remove(path()); }},
  };
  for (auto const& [what, damage] : damages) {
    SCOPED_TRACE(what);
    fill();
    damage();
    EXPECT_THROW(mountReader(), Vesk::Exception);
    auto map = mountWriter(1024, true);
    EXPECT_EQ(map->mountOutcome(), Pantry::MountOutcome::recreated);
    EXPECT_TRUE(map->wiped());
    EXPECT_EQ(map->count(), 0u);
    map->insert(RouteRecord::make(routeKey(2), 2, 2));
    EXPECT_TRUE(map->has(routeKey(2)));
  }

  // Another capacity is another collection.
  fill();
  auto other = RouteMap::mountWriter(path(), 2048, "Test::RoutePantry", "routes", true, ownerOnly);
  EXPECT_TRUE(other->wiped());
  other.reset();

  // A path never held, whose file was never finished, is simply created.
  std::filesystem::remove(path());
  { std::ofstream(path()) << "half"; }
  EXPECT_EQ(mountWriter(1024, false)->mountOutcome(), Pantry::MountOutcome::created);
}

TEST_F(PantryMapTest, ACorruptRecordIsReportedToReadersAndDroppedByTheNextWriter) {
  {
    auto map = mountWriter();
    for (std::uint32_t n = 0; n < 50; ++n) {
      map->insert(RouteRecord::make(routeKey(n), n, 1));
    }
  }
  damageHomeSlot(*mountReader(), routeKey(7));
  auto reader = mountReader();
  EXPECT_THROW(reader->lookup(routeKey(7)), Vesk::CorruptionDetectedException);
  reader->doCorruptionDetected("test");
  EXPECT_EQ(reader->corruptionsDetected(), 1u);
  reader.reset();

  auto map = mountWriter(1024, true);
  EXPECT_TRUE(map->wiped());
  EXPECT_EQ(map->count(), 49u);
  EXPECT_EQ(walk(*map).size(), 49u);
  for (std::uint32_t n = 0; n < 50; ++n) {
    if (map->has(routeKey(n))) {
      EXPECT_TRUE(map->lookup(routeKey(n)).record.consistent());
    }
  }
}

// A writer mount checks the map's structure from its occupied slots: a
// record moved whole (its checksum holds) past a gap after its home, or
// copied into a run after a record of a later home, is found out; the map is
// rebuilt from the records that survive and marked wiped.
TEST_F(PantryMapTest, AWriterMountRebuildsAMapWhoseRecordsAreOutOfPlace) {
  {
    auto map = mountWriter();
    for (std::uint32_t n = 0; n < 50; ++n) {
      map->insert(RouteRecord::make(routeKey(n), n, 1));
    }
  }
  // Homes of records that sit alone, with empty slots around them.
  std::vector<std::uint64_t> alone;
  std::size_t slotBytes = 0;
  {
    auto const reader = mountReader();
    Pantry::Segment const& segment = reader->segment();
    slotBytes = std::size_t{segment.slotWords()} * 8;
    for (std::uint32_t n = 0; n < 50; ++n) {
      std::uint64_t const home = reader->homeOf(routeKey(n));
      if (home > 0 && segment.peekState(home - 1) == 0 && segment.peekState(home) == home + 1 &&
          segment.peekState(home + 1) == 0 && segment.peekState(home + 2) == 0) {
        alone.push_back(home);
      }
    }
    ASSERT_GE(alone.size(), 2u);
    std::sort(alone.begin(), alone.end());
  }
  auto const expectRebuilt = [&] {
    auto map = mountWriter(1024, true);
    EXPECT_TRUE(map->wiped());
    EXPECT_EQ(map->count(), 50u);
    EXPECT_EQ(walk(*map).size(), 50u);
    for (std::uint32_t n = 0; n < 50; ++n) {
      EXPECT_EQ(map->lookup(routeKey(n)).record.nextHop, n);
    }
    map->clearWiped();
  };
  {
    SCOPED_TRACE("moved past a gap, after records of earlier homes");
    std::uint64_t const home = alone.back();
    copySlotImage(*mountReader(), home, path(), home + 2);
    patchFile(mountReader()->segment().slotFileOffset(home) + 8,
              std::string(slotBytes - 8, '\0'));  // an empty slot where it was
    expectRebuilt();
  }
  {
    SCOPED_TRACE("copied after a later home");
    copySlotImage(*mountReader(), alone.front(), path(), alone.back() + 1);
    expectRebuilt();
  }
}

// A writer killed in the middle of a slot leaves its sequence odd: a reader
// gives up after its patience instead of spinning forever, and the next
// writer mount evens it out.
TEST_F(PantryMapTest, AReaderDoesNotWaitForeverOnASlotLeftMidWrite) {
  {
    auto map = mountWriter();
    map->insert(RouteRecord::make(routeKey(3), 3, 1));
  }
  auto reader = mountReader();
  patchFile(reader->segment().slotFileOffset(reader->homeOf(routeKey(3))),
            std::string("\x01", 1));  // sequence 1: odd

  auto const start = std::chrono::steady_clock::now();
  EXPECT_THROW(reader->lookup(routeKey(3)), Vesk::CorruptionDetectedException);
  EXPECT_GE(std::chrono::steady_clock::now() - start, Pantry::Segment::readerPatience);
  reader.reset();

  auto map = mountWriter(1024, true);
  EXPECT_EQ(map->lookup(routeKey(3)).record.nextHop, 3u);
  EXPECT_FALSE(map->wiped());
}

// A damaged image must be refused or repaired, never crash a reader or the
// next writer, and never leave a record that fails its own check.
TEST_F(PantryMapTest, FuzzedImagesAreRefusedOrRepairedNeverCrash) {
  std::mt19937 random(99);
  long const rounds = knob("ZADU_FUZZ_ROUNDS", 150);
  for (long round = 0; round < rounds; ++round) {
    {
      auto map = mountWriter(256, true);
      map->clearWiped();
      for (std::uint32_t n = 0; n < 100; ++n) {
        map->insert(RouteRecord::make(routeKey(random() % 200), n, 1));
      }
    }
    std::size_t const size = std::filesystem::file_size(path());
    int const flips = 1 + static_cast<int>(random() % 8);
    for (int flip = 0; flip < flips; ++flip) {
      // Half the flips hit the header, where the damage is most dangerous.
      std::size_t const offset =
          random() % 2 == 0 ? random() % Pantry::Format::headerBytes : random() % size;
      patchFile(offset, std::string(1, static_cast<char>(random())));
    }
    try {
      auto reader = mountReader(256);
      for (auto record = reader->first(); record; record = reader->nextAfter(record->key)) {
        EXPECT_TRUE(record->consistent());
      }
    } catch (Vesk::Exception const&) {
      // Refused or corruption detected: both are fine for a reader.
    }
    auto map = mountWriter(256, true);
    std::uint64_t walked = 0;
    for (auto record = map->first(); record; record = map->nextAfter(record->key)) {
      ++walked;
      ASSERT_TRUE(record->consistent()) << "round " << round;
      ASSERT_TRUE(map->has(record->key));
    }
    ASSERT_EQ(walked, map->count()) << "round " << round;
  }
}

// A reader whose lookup overlaps a delete that shifts the records it is
// scanning (the writer moves them at the exact moment, through the seam)
// must notice and look again, never answer "absent" for a present key.
TEST_F(PantryMapTest, AReaderLookupThatOverlapsAShiftLooksAgain) {
  auto writer = mountWriter();
  auto reader = mountReader();
  // Three keys of one home: they sit in three consecutive slots.
  std::vector<RouteKey> sameHome;
  std::uint64_t const home = writer->homeOf(routeKey(0));
  for (std::uint32_t n = 0; sameHome.size() < 3; ++n) {
    if (writer->homeOf(routeKey(n)) == home) {
      sameHome.push_back(routeKey(n));
    }
  }
  std::sort(sameHome.begin(), sameHome.end());
  for (RouteKey const& key : sameHome) {
    writer->insert(RouteRecord::make(key, 7, 1));
  }
  static RouteMap* shifter = nullptr;
  static RouteKey firstKey{};
  static int reads = 0;
  shifter = writer.get();
  firstKey = sameHome[0];
  reads = 0;
  // After the reader has read the second slot of the run, the first key goes
  // and the other two move back by one: the third is now where the reader
  // already looked.
  RouteMap::afterReaderSlotRead = [](std::uint64_t) {
    if (++reads == 2) {
      shifter->del(firstKey);
    }
  };
  auto const found = reader->lookup(sameHome[2]);
  RouteMap::afterReaderSlotRead = nullptr;
  EXPECT_EQ(reads > 2, true);
  EXPECT_TRUE(found.found);
  EXPECT_EQ(found.record.key, sameHome[2]);
}

}  // namespace
}  // namespace ZaduTest
