#include "Pantry/PantryRing.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

#include "support/RouteRecords.h"
#include "support/ScratchDirectory.h"

namespace ZaduTest {
namespace {

class PantryRingTest : public ::testing::Test {
 protected:
  Vesk::Ptr<LogRing> mountWriter(std::uint64_t capacity = 1000, bool heldBefore = false) {
    return LogRing::mountWriter(scratch.file("log.pantry"), capacity, "Test::LogPantry", "log",
                                heldBefore, 0600);
  }
  ScratchDirectory scratch;
};

TEST_F(PantryRingTest, HoldsAWindowOfVersionsAndWalksThemInOrder) {
  auto ring = mountWriter(1000);
  std::map<std::uint64_t, LogRecord> model;
  std::uint64_t nextVersion = 1;
  std::uint64_t cleaned = 0;
  std::mt19937 random(5);
  for (int step = 0; step < 20000; ++step) {
    if (random() % 2 == 0 && model.size() < 1000) {
      LogRecord const record = LogRecord::make(nextVersion++, random() % 4);
      ring->insert(record);
      model[record.version] = record;
    } else if (!model.empty()) {
      // Mostly in order, as cleanup removes them; sometimes from the middle.
      std::uint64_t const victim = random() % 8 == 0
                                       ? std::next(model.begin(), random() % model.size())->first
                                       : model.begin()->first;
      EXPECT_TRUE(ring->del(victim));
      model.erase(victim);
      cleaned = std::max(cleaned, victim);
    }
    ASSERT_EQ(ring->count(), model.size());
  }
  std::vector<std::uint64_t> walked;
  for (auto record = ring->first(); record; record = ring->nextAfter(record->version)) {
    walked.push_back(record->version);
  }
  std::vector<std::uint64_t> expected;
  for (auto const& [version, record] : model) {
    expected.push_back(version);
    EXPECT_EQ(ring->lookup(version).record, record);
  }
  EXPECT_EQ(walked, expected);
  EXPECT_FALSE(ring->del(nextVersion + 5));
  EXPECT_FALSE(ring->lookup(0).found);
}

TEST_F(PantryRingTest, RefusesRecordsOutsideItsWindowOrCapacity) {
  auto ring = mountWriter(1000);  // 1024 slots
  for (std::uint64_t version = 1; version <= 1000; ++version) {
    ring->insert(LogRecord::make(version, 0));
  }
  EXPECT_THROW(ring->insert(LogRecord::make(1001, 0)), Pantry::CollectionFullError);
  ring->del(1);
  ring->insert(LogRecord::make(1001, 0));
  ring->del(2);
  EXPECT_THROW(ring->insert(LogRecord::make(3000, 0)), Pantry::CollectionFullError);
  EXPECT_EQ(ring->count(), 999u);
  EXPECT_EQ(ring->lowKey(), 3u);
  EXPECT_EQ(ring->highKey(), 1001u);
}

TEST_F(PantryRingTest, RemountRecomputesTheWindow) {
  {
    auto ring = mountWriter();
    for (std::uint64_t version = 10; version < 20; ++version) {
      ring->insert(LogRecord::make(version, 1));
    }
    ring->del(10);
    ring->del(19);
    ring->scratchpadIs(19);
  }
  auto ring = mountWriter(1000, true);
  EXPECT_EQ(ring->count(), 8u);
  EXPECT_EQ(ring->lowKey(), 11u);
  EXPECT_EQ(ring->highKey(), 18u);
  EXPECT_EQ(ring->scratchpad(), 19u);
  EXPECT_EQ(ring->first()->version, 11u);
}

// A writer mount trusts no record to sit where its key says: a record copied
// whole (its checksum is valid) into another key's slot is dropped, and a
// window wider than the ring empties the ring; both mark it wiped.
TEST_F(PantryRingTest, AWriterMountDropsRecordsOutsideTheirSlotOrWindow) {
  std::string const file = scratch.file("log.pantry");
  auto const plant = [&](std::string const& from, std::uint64_t key, std::uint64_t slot) {
    copySlotImage(*LogRing::mountReader(from, 1000, "Test::LogPantry", "log"), key % 1024, file,
                  slot);
  };
  {
    auto ring = mountWriter();
    for (std::uint64_t version = 10; version < 20; ++version) {
      ring->insert(LogRecord::make(version, 1));
    }
  }
  plant(file, 12, 30);  // key 12 also in the slot of key 30
  {
    auto ring = mountWriter(1000, true);
    EXPECT_TRUE(ring->wiped());
    EXPECT_EQ(ring->count(), 10u);
    EXPECT_EQ(ring->highKey(), 19u);
    EXPECT_EQ(ring->lookup(12).record, LogRecord::make(12, 1));
    EXPECT_FALSE(ring->has(30));
    ring->clearWiped();
  }
  std::string const other = scratch.file("other.pantry");
  LogRing::mountWriter(other, 1000, "Test::LogPantry", "log", false, 0600)
      ->insert(LogRecord::make(5 + 2048, 1));
  plant(other, 5 + 2048, 5);  // in its own slot, but two rings above the others
  auto ring = mountWriter(1000, true);
  EXPECT_TRUE(ring->wiped());
  EXPECT_EQ(ring->count(), 0u);
  EXPECT_FALSE(ring->first());
}

}  // namespace
}  // namespace ZaduTest
