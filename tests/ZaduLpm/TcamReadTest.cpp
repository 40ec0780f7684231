// Reads, iteration and the script view: the merge of pending writes, pending
// removes and remove-alls with the committed configuration, walks resumed
// across changes, and the snapshot.
#include <gtest/gtest.h>

#include <ranges>
#include <set>
#include <vector>

#include "support/TcamTableFixture.h"

namespace ZaduTest {
namespace {

class TcamReadTest : public TcamTableFixture {
 protected:
  // The keys a full walk yields, in order.
  std::vector<TcamDataModelEntryKey> walk(TcamSwTable::EntryIteratorConst iterator) {
    std::vector<TcamDataModelEntryKey> keys;
    for (TcamDataModelEntry const& entry : iterator) {
      keys.push_back(entry.key());
    }
    return keys;
  }
  static std::set<TcamDataModelEntryKey> keysOf(std::vector<std::uint32_t> const& numbers) {
    auto const keys = numbers | std::views::transform(keyOf);
    return {keys.begin(), keys.end()};
  }
  static std::set<TcamDataModelEntryKey> asSet(std::vector<TcamDataModelEntryKey> const& keys) {
    return {keys.begin(), keys.end()};
  }
};

TEST_F(TcamReadTest, APendingWriteWinsThenAPendingRemoveThenTheConfiguration) {
  writeKeys(1, 2);
  table->entryWrite(keyOf(1), entryOf(1, 2), nullptr);
  EXPECT_EQ(table->entryRead(keyOf(1)), entryOf(1, 2));  // with its cookie
  EXPECT_EQ(table->entryFromConfig(keyOf(1)), committedOf(entryOf(1, 1)));
  EXPECT_TRUE(table->entryHas(keyOf(1)));

  table->entryRemove(keyOf(1), nullptr);
  EXPECT_EQ(table->entryRead(keyOf(1)), TcamDataModelEntry{});
  EXPECT_EQ(table->entryFromConfig(keyOf(1)), committedOf(entryOf(1, 1)));
  EXPECT_FALSE(table->entryHas(keyOf(1)));
  EXPECT_EQ(table->entryRead(keyOf(9)), TcamDataModelEntry{});
  EXPECT_EQ(table->entryFromConfig(keyOf(9)), TcamDataModelEntry{});
}

TEST_F(TcamReadTest, APendingRemoveAllHidesCommittedKeysFromExistenceTestsOnly) {
  writeKeys(1, 3);
  table->entryRemoveAll(nullptr);
  table->entryWrite(keyOf(3), entryOf(3), nullptr);
  EXPECT_FALSE(table->entryHas(keyOf(1)));
  EXPECT_EQ(table->entryRead(keyOf(1)), committedOf(entryOf(1)));
  EXPECT_TRUE(table->entryHas(keyOf(3)));
  EXPECT_EQ(table->entrys(), 1u);
  EXPECT_EQ(walk(table->entryIteratorConst()), (std::vector{keyOf(3)}));
  EXPECT_EQ(table->getTableEntries_py()->tableEntriesCount(), 1u);
  EXPECT_TRUE(table->entryIteratorConst(keyOf(1)).isEnd());
}

TEST_F(TcamReadTest, RecordsInDeletionAreNeitherReadNorWalkedNorCounted) {
  writeKeys(1, 3);
  table->entryRemove(keyOf(2), nullptr);
  commitAll();  // in deletion until the hardware takes it
  EXPECT_TRUE(config().lookup(keyOf(2)).record.inDeletion);
  EXPECT_FALSE(table->entryHas(keyOf(2)));
  EXPECT_EQ(table->entryRead(keyOf(2)), TcamDataModelEntry{});
  EXPECT_EQ(table->entryFromConfig(keyOf(2)), TcamDataModelEntry{});
  EXPECT_EQ(table->entrys(), 1u);
  EXPECT_EQ(walk(table->entryIteratorConst()), (std::vector{keyOf(1)}));
  EXPECT_TRUE(table->entryIteratorConst(keyOf(2)).isEnd());
}

// Reads never fail: a unit whose configuration table is not mounted holds
// nothing committed, whichever read asks.
TEST_F(TcamReadTest, AUnitWithoutAConfigurationReadsAsHoldingNothingCommitted) {
  writeKeys(1, 3);
  table->entryWrite(keyOf(3), entryOf(3), nullptr);
  table->entryRemove(keyOf(2), nullptr);
  auto const pantry = entryLog->tableConfigPantryDel(unit);
  EXPECT_EQ(table->entryRead(keyOf(1)), TcamDataModelEntry{});
  EXPECT_EQ(table->entryFromConfig(keyOf(1)), TcamDataModelEntry{});
  EXPECT_FALSE(table->entryHas(keyOf(1)));
  EXPECT_EQ(table->entryRead(keyOf(3)), entryOf(3));
  EXPECT_EQ(table->entrys(), 1u);
  EXPECT_EQ(walk(table->entryIteratorConst()), (std::vector{keyOf(3)}));
  EXPECT_TRUE(table->entryIteratorConst(keyOf(1)).isEnd());
  entryLog->tableConfigPantryIs(unit, pantry);
  EXPECT_EQ(table->entrys(), 2u);  // 1 and 3; 2 is being removed
}

TEST_F(TcamReadTest, AWalkYieldsPendingWritesThenCommittedEntriesOnce) {
  writeKeys(0, 6);
  table->entryWrite(keyOf(1), entryOf(1, 2), nullptr);  // rewrites a committed key
  table->entryWrite(keyOf(7), entryOf(7, 2), nullptr);  // a new key
  table->entryRemove(keyOf(3), nullptr);                // removes a committed key
  table->entryRemove(keyOf(8), nullptr);                // removes nothing

  std::vector<TcamDataModelEntry> entries;
  for (auto it = table->entryIteratorConst(); !it.isEnd(); ++it) {
    entries.push_back(*it);
  }
  ASSERT_EQ(entries.size(), 6u);
  EXPECT_EQ(table->entrys(), 6u);
  // Pending writes first, as written (with the cookie), then the
  // configuration's entries, without it.
  EXPECT_EQ(asSet({entries[0].key(), entries[1].key()}), keysOf({1, 7}));
  EXPECT_EQ(entries[0].clientCookie & 0xC0000000u, 0xC0000000u);
  std::vector<TcamDataModelEntryKey> committed;
  for (std::size_t i = 2; i < entries.size(); ++i) {
    EXPECT_EQ(entries[i].clientCookie, 0u);
    committed.push_back(entries[i].key());
  }
  EXPECT_EQ(asSet(committed), keysOf({0, 2, 4, 5}));
  EXPECT_EQ(table->getTableEntries_py()->tableEntries(keyOf(1)), entryOf(1, 2));  // the walk's
}

TEST_F(TcamReadTest, AWalkFromAKeyStartsWhereTheKeyStands) {
  writeKeys(0, 5);
  table->entryWrite(keyOf(7), entryOf(7), nullptr);
  table->entryRemove(keyOf(2), nullptr);

  // At a pending write: it, the pending writes after it, then every
  // committed entry the configuration phase does not skip.
  EXPECT_EQ(asSet(walk(table->entryIteratorConst(keyOf(7)))), keysOf({7, 0, 1, 3, 4}));

  // At a committed key: it and the committed entries after it in walk order.
  std::vector<TcamDataModelEntryKey> committedOrder = walk(table->entryIteratorConst());
  committedOrder.erase(committedOrder.begin());  // the pending write
  ASSERT_EQ(committedOrder.size(), 4u);
  std::vector<TcamDataModelEntryKey> const fromSecond(committedOrder.begin() + 1,
                                                      committedOrder.end());
  EXPECT_EQ(walk(table->entryIteratorConst(committedOrder[1])), fromSecond);

  // Nowhere, or removed while pending: at its end (or the next committed).
  EXPECT_TRUE(table->entryIteratorConst(keyOf(9)).isEnd());
  EXPECT_TRUE(table->entryIteratorConst(keyOf(2)).isEnd());
}

TEST_F(TcamReadTest, AWalkOfTheConfigurationResumesByKeyAcrossChanges) {
  writeKeys(0, 20);
  std::vector<TcamDataModelEntryKey> seen;
  TcamDataModelEntryKey removed;
  auto it = table->entryIteratorConst();
  for (std::uint32_t step = 0; !it.isEnd(); ++it, ++step) {
    seen.push_back(it->key());
    if (step == 3) {
      // The next key to yield is removed, and a new key written.
      removed = it.iterState()->bookmarkKey();
      table->entryRemove(removed, nullptr);
      table->entryWrite(keyOf(200), entryOf(200), nullptr);
    }
    if (step == 6) {
      commitAll();  // the remove marks its record; the write inserts one
    }
  }
  std::set<TcamDataModelEntryKey> const unique(seen.begin(), seen.end());
  EXPECT_EQ(unique.size(), seen.size()) << "a key was yielded twice";
  EXPECT_FALSE(unique.count(removed));
  for (std::uint32_t n = 0; n < 20; ++n) {
    if (keyOf(n) != removed) {
      EXPECT_TRUE(unique.count(keyOf(n))) << n;
    }
  }
  // Steps after the end keep answering the end.
  ++it;
  EXPECT_TRUE(it.isEnd());
  EXPECT_EQ(*it, TcamDataModelEntry{});
}

TEST_F(TcamReadTest, AWalkWhoseBookmarkCommitsGoesOnInTheConfigurationAtThatKey) {
  writeKeys(0, 5);
  writeKeys(100, 103, false);
  auto it = table->entryIteratorConst();
  ASSERT_TRUE(it.iterState()->state().inAddColl());
  TcamDataModelEntryKey const next = it.iterState()->bookmarkKey();
  commitAll();
  ++it;
  EXPECT_TRUE(it.iterState()->state().inTblCfg());
  EXPECT_EQ(it->key(), next);
  EXPECT_EQ(it->clientCookie, 0u);  // now read from the configuration
  std::size_t steps = 1;
  for (++it; !it.isEnd(); ++it) {
    ASSERT_LT(++steps, 10u);
  }
}

// The pending writes are walked in the order they were accepted; writes
// accepted between two steps (enough to grow the collection many times) come
// after the bookmark, and nothing is yielded twice or skipped.
TEST_F(TcamReadTest, AWalkOfPendingWritesGoesOnWhereItStoppedWhileMoreAreAccepted) {
  writeKeys(0, 5, false);
  auto it = table->entryIteratorConst();
  std::vector<TcamDataModelEntryKey> seen{it->key()};
  ++it;
  seen.push_back(it->key());
  writeKeys(5, 3000, false);
  for (++it; !it.isEnd(); ++it) {
    seen.push_back(it->key());
  }
  std::vector<TcamDataModelEntryKey> expected;
  for (std::uint32_t n = 0; n < 3000; ++n) {
    expected.push_back(keyOf(n));
  }
  EXPECT_EQ(seen, expected);
}

TEST_F(TcamReadTest, TheSnapshotIsItsOwnAndAnsweringReflection) {
  writeKeys(1, 2);
  auto const snapshot = table->getTableEntries_py();
  table->entryWrite(keyOf(2), entryOf(2), nullptr);
  table->entryRemove(keyOf(1), nullptr);
  EXPECT_EQ(snapshot->tableEntriesCount(), 1u);
  EXPECT_EQ(snapshot->tableEntries(keyOf(1)), committedOf(entryOf(1)));
  Vesk::collectionInsert(*snapshot, "tableEntries",
                         Vesk::Codec<TcamDataModelEntry>::encode(entryOf(3)));
  EXPECT_EQ(snapshot->tableEntries(keyOf(3)), entryOf(3));
  // The table's own operation is reachable by name.
  EXPECT_TRUE(Vesk::call(*table, "getTableEntries_py", {}).asEntity());
}

// A damaged record reads as absent, and a walk that meets it ends there:
// it yields exactly the entries before it. Every read reports the damage.
TEST_F(TcamReadTest, ADamagedRecordReadsAsAbsentAndEndsTheWalkWhereItLies) {
  writeKeys(0, 10);
  std::vector<TcamDataModelEntryKey> const whole = walk(table->entryIteratorConst());
  ASSERT_EQ(whole.size(), 10u);
  TcamDataModelEntryKey const damaged = whole[6];
  damageHomeSlot(config(), damaged);
  std::uint64_t const before = config().corruptionsDetected();
  EXPECT_EQ(table->entryFromConfig(damaged), TcamDataModelEntry{});
  EXPECT_FALSE(entryLog->entryHas(damaged, unit));
  EXPECT_EQ(config().corruptionsDetected(), before + 2);
  EXPECT_EQ(walk(table->entryIteratorConst()),
            std::vector<TcamDataModelEntryKey>(whole.begin(), whole.begin() + 6));
  EXPECT_EQ(config().corruptionsDetected(), before + 3);
  EXPECT_EQ(entryLog->entrysInDeletion(unit), 0u);  // its walk ends there too
}

}  // namespace
}  // namespace ZaduTest
