// The adjacency table: stable indexes across restarts, reuse of an index only
// after the hardware side took its delete, a full table failing the routes
// that depend on it, roll-forward of what a killed writer left, and the
// needed entries that routes record for hardware sides.
#include <gtest/gtest.h>

#include "ZaduLpm/AdjacencyTable.h"
#include "Zido/Constants.h"
#include "support/TcamTableFixture.h"

namespace ZaduTest {
namespace {

using ZaduLpm::AdjacencyTable;
using ZaduLpmLib::AdjacencyConstants;
using ZaduLpmLib::AdjacencyKey;
using ZaduLpmLib::NextHopPath;

AdjacencyKey nextHop(std::uint32_t n) {
  return AdjacencyKey::of(NextHopPath{0xC0A80000u | n, 1 + n % 8});
}

class AdjacencyTableTest : public TcamTableFixture {
 protected:
  void SetUp() override {
    TcamTableFixture::SetUp();
    group->neededEntryLogIs(tableId, entryLog->tableVersion());
    reopen();
  }
  void TearDown() override {
    adjacencies = nullptr;
    TcamTableFixture::TearDown();
  }
  // The table as a restarted agent mounts it.
  void reopen() {
    if (adjacencies) {
      adjacencies = nullptr;
      sharedMemory()->unmount(AdjacencyConstants::configPantryPath());
      sharedMemory()->unmount(AdjacencyConstants::logPantryPath());
    }
    adjacencies = new AdjacencyTable(central, group, nullptr);
  }
  // The hardware side takes everything logged.
  void hardwareTakesAll() { adjacencies->tableStatusVersion(adjacencies->tableVersion()); }

  Zido::NeededEntryRing& neededOfRoutes() { return group->neededEntryLog(tableId)->collection(); }

  Vesk::Ptr<AdjacencyTable> adjacencies;
};

TEST_F(AdjacencyTableTest, ANextHopKeepsItsIndexAcrossARestartAndIsNotWrittenAgain) {
  std::vector<std::uint32_t> indexes;
  for (std::uint32_t n = 0; n < 3; ++n) {
    indexes.push_back(adjacencies->adjacencyWrite(nextHop(n))->index());
  }
  AdjacencyKey const group3 =
      AdjacencyKey::of(std::vector<NextHopPath>{{0x0A000002, 2}, {0x0A000001, 1}});
  indexes.push_back(adjacencies->adjacencyWrite(group3)->index());
  EXPECT_EQ(indexes, (std::vector<std::uint32_t>{1, 2, 3, 4}));
  commitAll();
  EXPECT_EQ(adjacencies->tableVersion(), 4u);
  EXPECT_TRUE(adjacencies->hasPendingHwWrites());
  hardwareTakesAll();
  EXPECT_FALSE(adjacencies->hasPendingHwWrites());

  reopen();
  EXPECT_EQ(adjacencies->live(), 4u);
  EXPECT_EQ(adjacencies->indexOf(group3), 4u);
  ASSERT_TRUE(adjacencies->nextHop(2));
  EXPECT_EQ(*adjacencies->nextHop(2), nextHop(1));
  // The same next hop again: its index, completed at once, nothing logged.
  int answers = 0;
  auto const again = adjacencies->adjacencyWrite(nextHop(1), [&](auto const&) { ++answers; });
  EXPECT_EQ(again->index(), 2u);
  EXPECT_EQ(again->entryState(), Zido::EntryState::completed);
  EXPECT_EQ(again->logVersion(), 2u);
  EXPECT_EQ(answers, 1);
  EXPECT_EQ(adjacencies->tableVersion(), 4u);
  // A new one takes the lowest free index.
  EXPECT_EQ(adjacencies->adjacencyWrite(nextHop(9))->index(), 5u);
}

TEST_F(AdjacencyTableTest, AnIndexIsReusedOnlyOnceTheHardwareSideHasTakenTheDelete) {
  auto const first = adjacencies->adjacencyWrite(nextHop(0));
  commitAll();
  hardwareTakesAll();
  adjacencies->adjacencyRemove(nextHop(0), nullptr);
  commitAll();
  EXPECT_EQ(adjacencies->live(), 0u);
  // In deletion: the index still names the removed next hop.
  EXPECT_EQ(adjacencies->adjacencyWrite(nextHop(1))->index(), 2u);
  ASSERT_TRUE(adjacencies->nextHop(1));
  auto const deleting = Pantry::guardedLookup(adjacencies->config(), nextHop(0));
  ASSERT_TRUE(deleting.found);
  EXPECT_EQ(deleting.record.inDeletion, 1);
  commitAll();
  hardwareTakesAll();
  EXPECT_FALSE(adjacencies->config().lookup(nextHop(0)).found);
  EXPECT_FALSE(adjacencies->nextHop(1));
  EXPECT_EQ(adjacencies->adjacencyWrite(nextHop(2))->index(), first->index());
  EXPECT_EQ(adjacencies->changeLog().count(), 0u);
}

TEST_F(AdjacencyTableTest, AWriteAfterARemoveKeepsTheIndexAndARemoveOfNothingCompletesAtOnce) {
  adjacencies->adjacencyWrite(nextHop(0));
  commitAll();
  adjacencies->adjacencyRemove(nextHop(0), nullptr);
  auto const back = adjacencies->adjacencyWrite(nextHop(0));
  EXPECT_EQ(back->index(), 1u);
  commitAll();
  hardwareTakesAll();
  EXPECT_EQ(adjacencies->live(), 1u);
  EXPECT_EQ(adjacencies->indexOf(nextHop(0)), 1u);
  EXPECT_EQ(adjacencies->config().lookup(nextHop(0)).record.inDeletion, 0);
  auto const nothing = adjacencies->adjacencyRemove(nextHop(7), nullptr);
  EXPECT_EQ(nothing->entryState(), Zido::EntryState::completed);
  EXPECT_EQ(nothing->logVersion(), 0u);
  EXPECT_THROW(adjacencies->adjacencyWrite(AdjacencyKey{}), ZaduLpmLib::AdjacencyKeyError);
}

TEST_F(AdjacencyTableTest, AFullTableFailsTheNewNextHopAndTheRouteThatDependsOnIt) {
  for (std::uint32_t n = 0; n < AdjacencyConstants::capacity; ++n) {
    ASSERT_NE(adjacencies->adjacencyWrite(nextHop(n))->index(), 0u);
  }
  int answers = 0;
  auto const refused = adjacencies->adjacencyWrite(nextHop(AdjacencyConstants::capacity),
                                                   [&](auto const&) { ++answers; });
  EXPECT_EQ(refused->entryState(), Zido::EntryState::failed);
  EXPECT_EQ(refused->index(), 0u);
  EXPECT_EQ(answers, 1);
  auto const route = table->entryWrite(keyOf(1), entryOf(1, 0), refused);
  commitAll();
  EXPECT_EQ(route->entryState(), Zido::EntryState::dependencyFailed);
  EXPECT_FALSE(config().lookup(keyOf(1)).found);
  EXPECT_EQ(adjacencies->indexesHeld(), AdjacencyConstants::capacity);
}

TEST_F(AdjacencyTableTest,
       AConfigurationRecordAKilledWriterLeftWithoutItsLogRecordIsRolledForward) {
  adjacencies->adjacencyWrite(nextHop(0));
  commitAll();
  hardwareTakesAll();
  adjacencies = nullptr;
  sharedMemory()->unmount(AdjacencyConstants::configPantryPath());
  sharedMemory()->unmount(AdjacencyConstants::logPantryPath());
  {
    // The configuration record of version 2 and nothing after it.
    auto const map = ZaduLpmLib::AdjacencyConfigMap::mountWriter(
        sharedMemory()->filePathOf(AdjacencyConstants::configPantryPath()),
        AdjacencyConstants::capacity, AdjacencyConstants::configTypeName,
        AdjacencyConstants::configCollectionName, true, 0600);
    ZaduLpmLib::AdjacencyConfigRecord record;
    record.logVersion = 2;
    record.index = 2;
    record.key = nextHop(1);
    map->insert(record);
  }
  adjacencies = new AdjacencyTable(central, group, nullptr);
  EXPECT_EQ(adjacencies->tableVersion(), 2u);
  auto const logged = adjacencies->changeLog().lookup(2);
  ASSERT_TRUE(logged.found);
  EXPECT_EQ(logged.record.index, 2u);
  EXPECT_EQ(logged.record.key, nextHop(1));
  EXPECT_FALSE(logged.record.deleted());
  EXPECT_EQ(adjacencies->changeLog().scratchpad(), 2u);
  EXPECT_EQ(adjacencies->adjacencyWrite(nextHop(2))->index(), 3u);
}

TEST_F(AdjacencyTableTest, RoutesRecordTheAdjacencyVersionTheyNeedOnlyWhenTheNeedGrows) {
  auto const first = adjacencies->adjacencyWrite(nextHop(0));
  auto const second = adjacencies->adjacencyWrite(nextHop(1));
  table->entryWrite(keyOf(1), entryOf(1, first->index()), first);
  table->entryWrite(keyOf(2), entryOf(2, second->index()), second);
  table->entryWrite(keyOf(3), entryOf(3, first->index()), first);  // needs no more
  table->entryRemove(keyOf(3), nullptr);
  commitAll();
  Zido::NeededEntryRing& needed = neededOfRoutes();
  EXPECT_EQ(needed.count(), 2u);
  auto const one = needed.lookup(1);
  ASSERT_TRUE(one.found);
  ASSERT_EQ(one.record.count, 1u);
  EXPECT_EQ(one.record.needed[0],
            Zido::TableVersion(Zido::SwTableId(AdjacencyConstants::tableIdValue), 1));
  EXPECT_EQ(needed.lookup(2).record.needed[0].version, 2u);
  EXPECT_EQ(needed.scratchpad(), 4u);  // every version's needs are final

  // A hardware side follows the latest record at or below each version.
  Zido::NeededEntryFollower follower{Vesk::Ptr<Zido::NeededEntryRing>(&needed)};
  Zido::SwTableId const adjacencyTable(AdjacencyConstants::tableIdValue);
  ASSERT_TRUE(follower.final(4));
  EXPECT_FALSE(follower.final(5));
  EXPECT_EQ(follower.neededOf(1, adjacencyTable), 1u);
  EXPECT_EQ(follower.neededOf(3, adjacencyTable), 2u);
  EXPECT_EQ(follower.neededOf(4, tableId), 0u);

  // The group removes what the hardware side has taken when it delivers
  // the version, and a restarted group keeps the running maximum.
  Zido::TableVersionPublisher(*central, group->canonicalName()).publish(tableId, 1);
  set->swTableIs(table);
  group->swTableSetIs(set);
  group->pollTableVersions();
  EXPECT_EQ(needed.count(), 1u);
  EXPECT_FALSE(needed.lookup(1).found);
}

}  // namespace
}  // namespace ZaduTest
