// The entry log in shared memory: log writes and their order of effects,
// identical-write suppression, deletes, cleanup, queries, purge at mount,
// wiped collections, a full change log, and restarts in other processes.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <random>
#include <string>
#include <thread>

#include "Vesk/TypeData.h"
#include "ZaduLpmLib/TcamDataModelCodecs.h"
#include "Zido/Constants.h"
#include "support/ChildProcess.h"
#include "support/TcamTableFixture.h"

namespace ZaduTest {
namespace {

using ZaduLpmLib::TcamDataModelLogEntry;
using Config = ZaduLpmLib::TcamDataModelConfigPantryEntry;
using Log = ZaduLpmLib::TcamDataModelLogPantryEntry;

class TcamEntryLogTest : public TcamTableFixture {
 protected:
  void SetUp() override {
    TcamTableFixture::SetUp();
    set->swTableDel(unit);  // the log alone
    table = nullptr;
    entryLog->mountPantryConfig(1, 0);
  }

  static TcamDataModelLogEntry logEntryOf(std::uint32_t n, std::uint32_t value = 1) {
    return TcamDataModelLogEntry{entryOf(n, value).data, {}};
  }
  Zido::LogVersion write(std::uint32_t n, std::uint32_t value = 1, Zido::UnitId unitId = unit) {
    return entryLog->entryIs(logEntryOf(n, value), {}, nullptr, unitId, stats, false);
  }
  Config stored(std::uint32_t n, Zido::UnitId unitId = unit) {
    return config(unitId).lookup(keyOf(n)).record;
  }
  Log logged(Zido::LogVersion version) { return changeLog().lookup(version).record; }
  // Replaces the segment file of `path` with bytes that are no segment.
  void damageFile(std::string const& path) {
    sharedMemory()->unmount(path);
    std::ofstream(sharedMemory()->filePathOf(path), std::ios::trunc) << "not a segment";
  }

  Vesk::Ptr<Zido::SwTableStats> stats{new Zido::SwTableStats()};
};

TEST_F(TcamEntryLogTest, EveryLogWriteTakesTheNextVersionAcrossUnits) {
  EXPECT_EQ(write(1, 7, 0), 1u);
  EXPECT_EQ(write(1, 8, 1), 2u);
  EXPECT_EQ(entryLog->tableVersion(), 2u);
  EXPECT_EQ(entryLog->tableEntryLog()->collectionBase().scratchpad(), 2u);
  EXPECT_EQ(group->lastLogVersion(tableId), 2u);
  EXPECT_EQ(stored(1, 1), (Config{2, logEntryOf(1, 8), false}));
  EXPECT_EQ(logged(1), (Log{1, entryOf(1, 7).data, 0, 0}));
  EXPECT_EQ(logged(2).unitId, 1);
  // Suppression off never reads the stored record nor counts.
  EXPECT_EQ(write(1, 7, 0), 3u);
  EXPECT_EQ(stats->suppressedWriteCnt() + stats->suppressCheckDiffCnt(), 0u);
}

TEST_F(TcamEntryLogTest, IdenticalWritesAreSuppressedOnlyWhenTheStoredRecordSaysSo) {
  // Writes key n with `value`, suppression on: it answers `version`, and the
  // counts of suppressed and of different writes are then as given.
  auto const suppressing = [&](std::uint32_t n, std::uint32_t value, Zido::LogVersion version,
                               std::uint64_t suppressed, std::uint64_t different) {
    EXPECT_EQ(entryLog->entryIs(logEntryOf(n, value), {}, nullptr, unit, stats, true), version);
    EXPECT_EQ(stats->suppressedWriteCnt(), suppressed) << n << " " << value;
    EXPECT_EQ(stats->suppressCheckDiffCnt(), different) << n << " " << value;
  };
  suppressing(1, 5, 1, 0, 0);  // nothing stored: written without a count
  suppressing(1, 5, 1, 1, 0);  // the same entry: the stored version, nothing written
  EXPECT_EQ(changeLog().count(), 1u);
  suppressing(1, 6, 2, 1, 1);  // another entry: counted as a difference and written
  config().insert({0, logEntryOf(2, 3), false});
  suppressing(2, 3, 3, 2, 1);  // a stored record of version 0: counted, still written
  EXPECT_EQ(entryLog->entryDel(keyOf(2), nullptr, unit), 4u);
  suppressing(2, 3, 5, 2, 1);  // a record in deletion: rewritten without a count
}

TEST_F(TcamEntryLogTest, DeletesMarkTheRecordAndLogTheStoredEntry) {
  EXPECT_EQ(entryLog->entryDel(keyOf(4), nullptr, unit), 0u);
  EXPECT_EQ(entryLog->tableVersion(), 0u);
  EXPECT_EQ(changeLog().count(), 0u);

  write(4, 9);
  EXPECT_EQ(entryLog->entryDel(keyOf(4), nullptr, unit), 2u);
  EXPECT_EQ(stored(4), (Config{2, logEntryOf(4, 9), true}));
  EXPECT_EQ(logged(2), (Log{2, entryOf(4, 9).data, unit, Log::entryDeletedBit}));
  // Already in deletion: found all the same, a new version and record.
  EXPECT_EQ(entryLog->entryDel(keyOf(4), nullptr, unit), 3u);
  EXPECT_EQ(stored(4).logVersion, 3u);
  EXPECT_TRUE(logged(3).entryDeleted());
}

TEST_F(TcamEntryLogTest, ATableDeleteMarksTheLiveRecordsWithItsVersion) {
  EXPECT_EQ(entryLog->tableDel(nullptr, unit), 1u);  // empty: still logged
  EXPECT_EQ(logged(1), (Log{1, {}, unit, Log::tableDeletedBit}));

  write(1);                                     // 2
  write(2);                                     // 3
  entryLog->entryDel(keyOf(2), nullptr, unit);  // 4
  write(3, 1, 1);                               // 5, other unit
  EXPECT_EQ(entryLog->tableDel(nullptr, unit), 6u);
  EXPECT_EQ(stored(1).logVersion, 6u);
  EXPECT_TRUE(stored(1).inDeletion);
  EXPECT_EQ(stored(2).logVersion, 4u);  // deleted before: keeps its version
  EXPECT_FALSE(stored(3, 1).inDeletion);
  EXPECT_EQ(logged(6).unitId, unit);
  EXPECT_EQ(entryLog->entrys(unit), 0u);
  EXPECT_EQ(entryLog->entrysInDeletion(unit), 2u);
}

TEST_F(TcamEntryLogTest, CleanupRemovesLoggedVersionsAndTheRecordsTheirDeletesMarked) {
  write(1);                                     // A at 1
  write(2);                                     // B at 2
  entryLog->entryDel(keyOf(2), nullptr, unit);  // B deleted at 3
  entryLog->tableDel(nullptr, unit);            // A deleted at 4
  entryLog->cleanupEntryLog(3);
  EXPECT_FALSE(config().has(keyOf(2)));
  EXPECT_EQ(stored(1).logVersion, 4u);
  EXPECT_EQ(changeLog().count(), 1u);
  EXPECT_EQ(entryLog->cleanupVersion(), 3u);
  entryLog->cleanupEntryLog(4);
  EXPECT_FALSE(config().has(keyOf(1)));
  EXPECT_EQ(changeLog().count(), 0u);

  // Deleted at v, written again at v+1: cleaning v keeps the new record.
  write(5);                                     // 5
  entryLog->entryDel(keyOf(5), nullptr, unit);  // 6
  write(5, 2);                                  // 7
  entryLog->cleanupEntryLog(6);
  EXPECT_EQ(stored(5).logVersion, 7u);
  EXPECT_FALSE(stored(5).inDeletion);

  // The mark may move down; the next cleanup steps up from it.
  entryLog->cleanupEntryLog(2);
  EXPECT_EQ(entryLog->cleanupVersion(), 2u);
  EXPECT_EQ(changeLog().count(), 1u);
  entryLog->cleanupEntryLog(7);
  EXPECT_EQ(changeLog().count(), 0u);
  EXPECT_TRUE(config().has(keyOf(5)));
}

TEST_F(TcamEntryLogTest, TheFirstCleanupWalksTheWholeLogAndSkipsUnmountedUnits) {
  write(1, 1, 1);
  entryLog->entryDel(keyOf(1), nullptr, 1);
  write(2);
  entryLog->cleanupEntryLog(0);  // version 0 exists in no log
  EXPECT_EQ(changeLog().count(), 3u);
  EXPECT_EQ(entryLog->cleanupVersion(), 0u);

  entryLog->tableConfigPantryDel(1);
  entryLog->cleanupEntryLog(2);
  EXPECT_EQ(changeLog().count(), 1u);  // removed all the same
  entryLog->mountPantryConfig(1, 0);
  EXPECT_TRUE(config(1).has(keyOf(1)));  // its record was not cleaned

  // Every unit dropped at once, then one mounted again: cleanup and the
  // queries find exactly the tables the entry log holds.
  entryLog->entryDel(keyOf(1), nullptr, 1);  // version 4
  entryLog->tableConfigPantryDelAll();
  entryLog->cleanupEntryLog(4);
  EXPECT_EQ(changeLog().count(), 0u);
  entryLog->mountPantryConfig(1, 0);
  EXPECT_EQ(entryLog->entryLogVersion(keyOf(1), 1), 4u);  // still marked, not removed
  EXPECT_FALSE(entryLog->entryHas(keyOf(1), 1));
}

// An observer of the entry log, told that a unit's table came or went,
// queries the units at once: it must find exactly the tables the entry log
// holds at that moment.
TEST_F(TcamEntryLogTest, ObserversOfTheTablesQueryThemAsTheyStandWhenTold) {
  struct Querier : Vesk::Observer {
    void onChange(Vesk::Notification const& notification) override {
      if (notification.attribute != "tableConfigPantry") {
        return;
      }
      auto const changed = static_cast<Zido::UnitId>(notification.key.asUInt());
      bool const held = log->tableConfigPantryHas(changed);
      answers.push_back(held ? static_cast<int>(log->entrys(changed)) : -1);
    }
    ZaduLpm::TcamEntryLog* log = nullptr;
    std::vector<int> answers;
  } querier;
  querier.log = entryLog.get();
  write(1, 1, 1);
  write(2, 1, 1);
  querier.observe(entryLog);
  entryLog->mountPantryConfig(3, 0);  // a new, empty table
  entryLog->tableConfigPantryDel(3);
  auto const unitOne = entryLog->tableConfigPantryDel(1);
  entryLog->tableConfigPantryIs(1, unitOne);
  entryLog->mountPantryConfig(3, 0);
  ASSERT_TRUE(entryLog->tableConfigPantryHas(unit));
  entryLog->tableConfigPantryDelAll();  // one notification for each of units 0, 1 and 3
  querier.stopObserving();
  EXPECT_EQ(querier.answers, (std::vector<int>{0, -1, -1, 2, 0, -1, -1, -1}));
  EXPECT_FALSE(entryLog->tableConfigPantryHas(1));
}

TEST_F(TcamEntryLogTest, AMountPurgesRecordsDeletedAtOrBeforeItsVersion) {
  for (std::uint32_t n = 1; n <= 4; ++n) {
    write(n);  // versions 1 to 4
  }
  for (std::uint32_t n = 1; n <= 3; ++n) {
    entryLog->entryDel(keyOf(n), nullptr, unit);  // versions 5 to 7
  }
  entryLog->mountPantryConfig(unit, 0);  // purges nothing
  EXPECT_EQ(config().count(), 4u);
  entryLog->mountPantryConfig(unit, 6);
  EXPECT_FALSE(config().has(keyOf(1)));
  EXPECT_FALSE(config().has(keyOf(2)));
  EXPECT_TRUE(config().has(keyOf(3)));  // deleted after
  EXPECT_TRUE(config().has(keyOf(4)));  // live
}

TEST_F(TcamEntryLogTest, QueriesAnswerFromTheUnitsConfiguration) {
  for (std::uint32_t n = 1; n <= 5; ++n) {
    write(n, n);
  }
  entryLog->entryDel(keyOf(2), nullptr, unit);  // 6
  entryLog->entryDel(keyOf(4), nullptr, unit);  // 7
  EXPECT_EQ(entryLog->entrys(unit), 3u);
  EXPECT_EQ(entryLog->entrysInDeletion(unit), 2u);
  EXPECT_TRUE(entryLog->entryHas(keyOf(1), unit));
  EXPECT_FALSE(entryLog->entryHas(keyOf(2), unit));
  EXPECT_FALSE(entryLog->entryHas(keyOf(9), unit));
  EXPECT_EQ(entryLog->entry(keyOf(3), unit), committedOf(entryOf(3, 3)));
  EXPECT_EQ(entryLog->entry(keyOf(2), unit), TcamDataModelEntry{});
  EXPECT_EQ(entryLog->entryLogVersion(keyOf(2), unit), 6u);
  EXPECT_EQ(entryLog->entryLogVersion(keyOf(9), unit), 0u);
  // The records answer reflection, as the script view and Python read them.
  Vesk::Value const viaReflection = Vesk::collectionLookup(
      *entryLog->tableConfigPantry(unit), "swTableEntries", Vesk::Value("10.0.2.0/24"));
  EXPECT_EQ(viaReflection.field("logVersion"), Vesk::Value(6));
  EXPECT_EQ(viaReflection.field("logEntry").field("adjacencyIndex"), Vesk::Value(2));
  EXPECT_EQ(Vesk::collectionLookup(*entryLog->tableEntryLog(), "entryLogConfig", Vesk::Value(7))
                .field("unitId"),
            Vesk::Value(unit));
}

TEST_F(TcamEntryLogTest, OperationsOnAnUnmountedUnitStopWithTheUnitsName) {
  EXPECT_DEATH(entryLog->entryIs(logEntryOf(1), {}, nullptr, 9, stats, false),
               "Config pantry for unitId:9 is not created yet!");
  EXPECT_DEATH(entryLog->entryDel(keyOf(1), nullptr, 9), "unitId:9 is not created yet");
  EXPECT_DEATH(entryLog->tableDel(nullptr, 9), "unitId:9 is not created yet");
  EXPECT_DEATH(entryLog->entrys(9), "unitId:9 is not created yet");
}

TEST_F(TcamEntryLogTest, AFullChangeLogRefusesEveryKindOfWriteBeforeAnythingChanges) {
  write(1);
  fillChangeLog(*entryLog, 2, ZaduLpmLib::TcamConstants::entryLogCapacity);
  Config const before = stored(1);
  EXPECT_THROW(write(2), Pantry::CollectionFullError);
  EXPECT_THROW(entryLog->entryDel(keyOf(1), nullptr, unit), Pantry::CollectionFullError);
  EXPECT_THROW(entryLog->tableDel(nullptr, unit), Pantry::CollectionFullError);
  EXPECT_EQ(entryLog->tableVersion(), ZaduLpmLib::TcamConstants::entryLogCapacity);
  EXPECT_EQ(stored(1), before);
  EXPECT_FALSE(config().lookup(keyOf(2)).found);
  entryLog->cleanupEntryLog(10);  // the hardware side took some: room again
  EXPECT_EQ(write(2), ZaduLpmLib::TcamConstants::entryLogCapacity + 1);
}

TEST_F(TcamEntryLogTest, AWipedCollectionIsMadeAfreshAndTheSharedNamespaceUsedWhenAsked) {
  auto const genId = Zido::GenId::mount(
      *central, Zido::Constants::relaunchGenIdPath(ZaduLpmLib::TcamConstants::agentName));
  std::uint64_t const generation = genId->majorId();
  write(1, 1, 1);
  entryLog->tableConfigPantryDel(1);
  damageFile(ZaduLpmLib::TcamConstants::configPantryPath(1));
  entryLog->mountPantryConfig(1, 0);
  EXPECT_EQ(genId->majorId(), generation + 1);
  EXPECT_FALSE(entryLog->tableConfigPantry(1)->collectionControl()->wiped());
  EXPECT_EQ(entryLog->entrys(1), 0u);

  // The change log, of an agent without a relaunch entity: cleared and
  // mounted all the same.
  entryLog = nullptr;
  damageFile(ZaduLpmLib::TcamConstants::tableEntryLogPantryPath());
  entryLog = ZaduLpm::tcamEntryLogFactory(tableId, central, group, "AgentWithoutRelaunchId");
  EXPECT_FALSE(entryLog->tableEntryLog()->collectionControl()->wiped());
  EXPECT_EQ(entryLog->tableVersion(), 0u);

  // A unit's configuration goes to the shared namespace when NOT_LOCAL_EM is
  // set, even empty.
  setenv("NOT_LOCAL_EM", "", 1);
  entryLog->mountPantryConfig(5, 0);
  unsetenv("NOT_LOCAL_EM");
  auto const shared = QuorSharedMem::EntityManager::getEntityManager(central->name(), false);
  EXPECT_TRUE(shared->getEntity(ZaduLpmLib::TcamConstants::configPantryPath(5)));
  EXPECT_FALSE(sharedMemory()->getEntity(ZaduLpmLib::TcamConstants::configPantryPath(5)));
}

// A writer killed after configuration records but before their change log
// record leaves versions only the configuration knows, in units the next
// agent may never claim: its mount of the change log logs them (completing a
// table delete cut short) and resumes after them.
TEST_F(TcamEntryLogTest, TheMountRollsForwardWhatAKilledWriterLeftInAnyUnit) {
  for (std::uint32_t n = 1; n <= 4; ++n) {
    write(n);
  }
  EXPECT_EQ(write(9, 1, 1), 5u);
  entryLog->mountPantryConfig(2, 0);
  config(2).insert({6, logEntryOf(20, 3), false});  // a write
  config(1).insert({7, logEntryOf(9), true});       // an entry delete
  config(0).insert({8, logEntryOf(1), true});       // a table delete cut
  config(0).insert({8, logEntryOf(2), true});       // short after two keys

  releaseEntryLog({0, 1, 2});
  reopenEntryLog();
  EXPECT_EQ(entryLog->tableVersion(), 8u);
  EXPECT_EQ(entryLog->cleanupVersion(), 0u);  // its first cleanup walks the whole log
  EXPECT_EQ(entryLog->tableEntryLog()->collectionBase().scratchpad(), 8u);
  EXPECT_FALSE(entryLog->tableConfigPantryHas(2));  // scanned, not claimed
  EXPECT_FALSE(sharedMemory()->getEntity(ZaduLpmLib::TcamConstants::configPantryPath(2)));
  EXPECT_EQ(logged(6), (Log{6, entryOf(20, 3).data, 2, 0}));
  EXPECT_EQ(logged(7), (Log{7, entryOf(9).data, 1, Log::entryDeletedBit}));
  EXPECT_EQ(logged(8), (Log{8, {}, 0, Log::tableDeletedBit}));
  entryLog->mountPantryConfig(unit, 0);
  for (std::uint32_t n = 1; n <= 4; ++n) {
    EXPECT_EQ(stored(n), (Config{8, logEntryOf(n), true})) << n;
  }
  EXPECT_EQ(write(5), 9u);
  // Nothing is left to roll forward: a second mount changes nothing.
  std::uint64_t const records = changeLog().count();
  reopenEntryLog();
  EXPECT_EQ(entryLog->tableVersion(), 9u);
  EXPECT_EQ(changeLog().count(), records);
}

// An agent killed at any point of its log writes leaves a log from which the
// next agent never hands out a version already in use: every record in the
// change log and in the configuration is at or below its table version.
TEST_F(TcamEntryLogTest, AKilledAgentsVersionsAreNeverHandedOutAgain) {
  releaseEntryLog({0, 1});
  long const kills = knob("ZADU_CRASH_ITERATIONS", 200) / 2;
  std::mt19937 random(11);
  for (long kill = 0; kill < kills; ++kill) {
    ChildProcess agent([&](int reportFd) {
      auto const log = ZaduLpm::tcamEntryLogFactory(tableId, central, group,
                                                    ZaduLpmLib::TcamConstants::agentName);
      log->mountPantryConfig(unit, 0);
      sendMessage(reportFd, 1);
      for (std::uint32_t n = 0;; n = (n + 1) % 5000) {
        log->entryIs(logEntryOf(n, n), {}, nullptr, unit, nullptr, false);
        if (n % 3 == 0) {
          log->entryDel(keyOf(n), nullptr, unit);
        }
        if (n % 1000 == 999) {
          log->cleanupEntryLog(log->tableVersion() - 500);
        }
      }
      return 0;
    });
    ASSERT_EQ(agent.readOne<int>(), 1);
    std::this_thread::sleep_for(std::chrono::microseconds(200 + random() % 3000));
    agent.killNow();

    reopenEntryLog();
    entryLog->mountPantryConfig(unit, 0);
    Zido::LogVersion const version = entryLog->tableVersion();
    if (changeLog().count() != 0) {
      ASSERT_LE(changeLog().highKey(), version) << "after kill " << kill;
    }
    for (auto record = config().first(); record; record = config().nextAfter(record->key())) {
      ASSERT_LE(record->logVersion, version) << "after kill " << kill;
    }
    releaseEntryLog({0, 1});
  }
}

// What the reader process saw: change log records checked, and those whose
// configuration record was older than the change log record.
struct ReaderReport {
  std::uint64_t checked = 0;
  std::uint64_t inconsistent = 0;
};

TEST_F(TcamEntryLogTest, AnotherProcessReadsConsistentRecordsWhileTheAgentWrites) {
  std::string const configPath = ZaduLpmLib::TcamConstants::configPantryPath(unit);
  std::string const logPath = ZaduLpmLib::TcamConstants::tableEntryLogPantryPath();
  write(0);  // both collections exist before the reader mounts them
  auto const duration = std::chrono::milliseconds(knob("ZADU_READER_MS", 300));
  ChildProcess reader([&](int writeFd) {
    auto const configMap = configReader(sharedMemory()->filePathOf(configPath));
    auto const ring = changeLogReader(sharedMemory()->filePathOf(logPath));
    ReaderReport report;
    ChildProcess::waitForParent();
    auto const end = std::chrono::steady_clock::now() + duration;
    while (std::chrono::steady_clock::now() < end) {
      Zido::LogVersion const high = ring->highKey();
      auto const change = ring->lookup(high);
      if (!change.found) {
        continue;
      }
      auto const record = configMap->lookup(change.record.entry.key);
      ++report.checked;
      if (!record.found || record.record.logVersion < change.record.version) {
        ++report.inconsistent;
      }
    }
    sendMessage(writeFd, report);
    return 0;
  });
  reader.tellChild();
  auto const end = std::chrono::steady_clock::now() + duration;
  // Within the change log's room: the test cleans nothing up.
  for (std::uint32_t n = 1;
       std::chrono::steady_clock::now() < end && entryLog->tableVersion() < 900000;
       n = n % 60000 + 1) {
    write(n, n);
  }
  ReaderReport const report = reader.readOne<ReaderReport>();
  EXPECT_EQ(reader.wait(), 0);
  EXPECT_GT(report.checked, 0u);
  EXPECT_EQ(report.inconsistent, 0u);
}

}  // namespace
}  // namespace ZaduTest
