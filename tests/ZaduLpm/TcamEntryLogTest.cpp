// The entry log in shared memory: log writes and their order of effects,
// identical-write suppression, deletes, cleanup, queries, purge at mount,
// wiped collections, corruption, a full unit, and restarts in other
// processes.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <thread>

#include "Quor/Log.h"
#include "Zido/Constants.h"
#include "support/ChildProcess.h"
#include "support/TcamTableFixture.h"

namespace ZaduTest {
namespace {

using ZaduLpmLib::TcamDataModelConfigPantryEntry;
using ZaduLpmLib::TcamDataModelLogEntry;
using ZaduLpmLib::TcamDataModelLogPantryEntry;

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
  TcamDataModelConfigPantryEntry stored(std::uint32_t n, Zido::UnitId unitId = unit) {
    return config(unitId).lookup(keyOf(n)).record;
  }
  TcamDataModelLogPantryEntry logged(Zido::LogVersion version) {
    return changeLog().lookup(version).record;
  }
  Vesk::Ptr<QuorSharedMem::EntityManager> sharedMemory() {
    return QuorSharedMem::EntityManager::getEntityManager(central->name(), central->local());
  }
  // Replaces the segment file of `path` with bytes that are no segment.
  void damageFile(std::string const& path) {
    sharedMemory()->unmount(path);
    std::ofstream(sharedMemory()->filePathOf(path), std::ios::trunc) << "not a segment";
  }
  // Damages one byte of the record words of `key`'s home slot in `map`.
  static void damageSlotOf(ZaduLpmLib::TcamDataModelConfigMap& map,
                           ZaduLpmLib::TcamDataModelEntryKey const& key) {
    std::size_t const offset = map.segment().slotFileOffset(map.homeOf(key)) + 2 * 8 + 5;
    int const fd = open(map.path().c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(pwrite(fd, "\x5A", 1, static_cast<off_t>(offset)), 1);
    close(fd);
  }

  Vesk::Ptr<Zido::SwTableStats> stats{new Zido::SwTableStats()};
};

TEST_F(TcamEntryLogTest, EveryLogWriteTakesTheNextVersionAcrossUnits) {
  EXPECT_EQ(entryLog->tableVersion(), 0u);
  EXPECT_EQ(write(1, 7, 0), 1u);
  EXPECT_EQ(write(1, 8, 1), 2u);
  EXPECT_EQ(entryLog->tableVersion(), 2u);
  EXPECT_EQ(entryLog->tableEntryLog()->collectionBase().scratchpad(), 2u);
  EXPECT_EQ(group->lastLogVersion(tableId), 2u);

  TcamDataModelConfigPantryEntry const record = stored(1, 1);
  EXPECT_EQ(record.logVersion, 2u);
  EXPECT_EQ(record.logEntry, logEntryOf(1, 8));
  EXPECT_FALSE(record.inDeletion);
  TcamDataModelLogPantryEntry const change = logged(1);
  EXPECT_EQ(change.version, 1u);
  EXPECT_EQ(change.entry, entryOf(1, 7).data);
  EXPECT_EQ(change.unitId, 0);
  EXPECT_EQ(change.flags, 0);
  EXPECT_EQ(logged(2).unitId, 1);
  // Suppression off never reads the stored record nor counts.
  EXPECT_EQ(write(1, 7, 0), 3u);
  EXPECT_EQ(stats->suppressedWriteCnt() + stats->suppressCheckDiffCnt(), 0u);
}

TEST_F(TcamEntryLogTest, IdenticalWritesAreSuppressedOnlyWhenTheStoredRecordSaysSo) {
  Quor::TraceCapture trace;
  Quor::TraceHandle::levelsIs("TcamEntryLog", 1 << 3);
  auto const suppressing = [&](std::uint32_t n, std::uint32_t value) {
    return entryLog->entryIs(logEntryOf(n, value), {}, nullptr, unit, stats, true);
  };
  // Nothing stored: written without a count.
  EXPECT_EQ(suppressing(1, 5), 1u);
  EXPECT_EQ(stats->suppressedWriteCnt() + stats->suppressCheckDiffCnt(), 0u);

  // The same entry again: the stored version, nothing written.
  EXPECT_EQ(suppressing(1, 5), 1u);
  EXPECT_EQ(stats->suppressedWriteCnt(), 1u);
  EXPECT_EQ(entryLog->tableVersion(), 1u);
  EXPECT_EQ(changeLog().count(), 1u);
  EXPECT_TRUE(trace.contains("Suppressing identical write for key: 10.0.1.0/24"));

  // Another entry: counted as a difference and written.
  EXPECT_EQ(suppressing(1, 6), 2u);
  EXPECT_EQ(stats->suppressCheckDiffCnt(), 1u);
  EXPECT_TRUE(trace.contains(
      "Not Suppressing write because entry or resource key is different  for key: 10.0.1.0/24"));

  // A stored record with log version 0: counted as suppressed, still written.
  TcamDataModelConfigPantryEntry zero;
  zero.logEntry = logEntryOf(2, 3);
  entryLog->tableConfigPantry(unit)->swTableEntriesIs(zero);
  EXPECT_EQ(suppressing(2, 3), 3u);
  EXPECT_EQ(stats->suppressedWriteCnt(), 2u);

  // A record in deletion is rewritten without a count.
  EXPECT_EQ(entryLog->entryDel(keyOf(2), nullptr, unit), 4u);
  EXPECT_EQ(suppressing(2, 3), 5u);
  EXPECT_EQ(stats->suppressedWriteCnt(), 2u);
  EXPECT_EQ(stats->suppressCheckDiffCnt(), 1u);
}

TEST_F(TcamEntryLogTest, DeletesMarkTheRecordAndLogTheStoredEntry) {
  Quor::TraceCapture trace;
  Quor::TraceHandle::levelsIs("TcamEntryLog", 1 << 3);
  EXPECT_EQ(entryLog->entryDel(keyOf(4), nullptr, unit), 0u);
  EXPECT_TRUE(trace.contains(" key: 10.0.4.0/24 entry does not exist. So ignoring delete"));
  EXPECT_EQ(entryLog->tableVersion(), 0u);
  EXPECT_EQ(changeLog().count(), 0u);

  write(4, 9);
  EXPECT_EQ(entryLog->entryDel(keyOf(4), nullptr, unit), 2u);
  EXPECT_TRUE(stored(4).inDeletion);
  EXPECT_EQ(stored(4).logVersion, 2u);
  EXPECT_EQ(stored(4).logEntry, logEntryOf(4, 9));
  EXPECT_TRUE(logged(2).entryDeleted());
  EXPECT_EQ(logged(2).entry, entryOf(4, 9).data);
  // Already in deletion: found all the same, a new version and record.
  EXPECT_EQ(entryLog->entryDel(keyOf(4), nullptr, unit), 3u);
  EXPECT_EQ(stored(4).logVersion, 3u);
  EXPECT_TRUE(logged(3).entryDeleted());
}

TEST_F(TcamEntryLogTest, ATableDeleteMarksTheLiveRecordsWithItsVersion) {
  EXPECT_EQ(entryLog->tableDel(nullptr, unit), 1u);  // empty: still logged
  EXPECT_TRUE(logged(1).tableDeleted());
  EXPECT_EQ(logged(1).entry, ZaduLpmLib::TcamDataModelEntryData{});

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
  Quor::TraceCapture trace;
  Quor::TraceHandle::levelsIs("TcamEntryLog", 1 << 3);
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
  EXPECT_TRUE(trace.contains(" deleteing all entries for unitId: 0"));

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
  Quor::TraceCapture trace;
  Quor::TraceHandle::levelsIs("TcamEntryLog", 1 << 3);
  write(1, 1, 1);
  entryLog->entryDel(keyOf(1), nullptr, 1);
  write(2);
  entryLog->cleanupEntryLog(0);  // version 0 exists in no log
  EXPECT_EQ(changeLog().count(), 3u);
  EXPECT_EQ(entryLog->cleanupVersion(), 0u);

  entryLog->tableConfigPantryDel(1);
  entryLog->cleanupEntryLog(2);
  EXPECT_TRUE(trace.contains(" configPantry not found for unitId: 1"));
  EXPECT_EQ(changeLog().count(), 1u);  // removed all the same
  entryLog->mountPantryConfig(1, 0);
  EXPECT_TRUE(config(1).has(keyOf(1)));  // its record was not cleaned
}

TEST_F(TcamEntryLogTest, AMountPurgesRecordsDeletedAtOrBeforeItsVersion) {
  write(1);                                     // 1
  write(2);                                     // 2
  write(3);                                     // 3
  write(4);                                     // 4
  entryLog->entryDel(keyOf(1), nullptr, unit);  // 5
  entryLog->entryDel(keyOf(2), nullptr, unit);  // 6
  entryLog->entryDel(keyOf(3), nullptr, unit);  // 7
  entryLog->mountPantryConfig(unit, 0);         // purges nothing
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
  EXPECT_EQ(entryLog->entryRsrcKeys(keyOf(1), unit), ZaduLpmLib::TcamDataModelResourceKeys{});
  EXPECT_EQ(entryLog->entrys(1), 0u);
}

TEST_F(TcamEntryLogTest, CorruptReadsAreReportedAndReadAsAbsent) {
  for (std::uint32_t n = 1; n <= 20; ++n) {
    write(n);
  }
  auto& map = config();
  damageSlotOf(map, keyOf(7));
  std::uint64_t const before = map.corruptionsDetected();
  EXPECT_FALSE(entryLog->entryHas(keyOf(7), unit));
  EXPECT_EQ(entryLog->entry(keyOf(7), unit), TcamDataModelEntry{});
  EXPECT_GT(map.corruptionsDetected(), before);
  // A walk that meets the damage ends there.
  EXPECT_EQ(entryLog->entrysInDeletion(unit), 0u);
  EXPECT_GT(map.corruptionsDetected(), before + 2);
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
  ZaduLpmLib::TcamDataModelLogPantryEntry record;
  record.unitId = unit;
  for (Zido::LogVersion version = 2; version <= ZaduLpmLib::TcamConstants::entryLogCapacity;
       ++version) {
    record.version = version;
    entryLog->tableEntryLog()->entryLogConfigIs(record);
  }
  entryLog->tableVersionIs(ZaduLpmLib::TcamConstants::entryLogCapacity);
  TcamDataModelConfigPantryEntry const before = stored(1);
  EXPECT_THROW(write(2), Pantry::CollectionFullError);
  EXPECT_THROW(entryLog->entryDel(keyOf(1), nullptr, unit), Pantry::CollectionFullError);
  EXPECT_THROW(entryLog->tableDel(nullptr, unit), Pantry::CollectionFullError);
  EXPECT_EQ(entryLog->tableVersion(), ZaduLpmLib::TcamConstants::entryLogCapacity);
  EXPECT_EQ(stored(1), before);
  EXPECT_FALSE(config().lookup(keyOf(2)).found);
  entryLog->cleanupEntryLog(10);  // the hardware side took some: room again
  EXPECT_EQ(write(2), ZaduLpmLib::TcamConstants::entryLogCapacity + 1);
}

TEST_F(TcamEntryLogTest, AWipedCollectionRaisesTheErrorAndBumpsTheRelaunchGeneration) {
  auto const genId = Zido::GenId::mount(
      *central, Zido::Constants::relaunchGenIdPath(ZaduLpmLib::TcamConstants::agentName));
  std::uint64_t const generation = genId->majorId();
  write(1, 1, 1);
  entryLog->tableConfigPantryDel(1);
  damageFile(ZaduLpmLib::TcamConstants::configPantryPath(1));
  {
    Quor::LogCapture logs;
    entryLog->mountPantryConfig(1, 0);
    ASSERT_EQ(logs.records().size(), 1u);
    EXPECT_EQ(logs.records()[0].name, "HW_ABSTRACTION_ERROR");
    EXPECT_EQ(logs.records()[0].message,
              "Hardware abstraction error: unable to load item: entryCfg::Tcam");
  }
  EXPECT_EQ(genId->majorId(), generation + 1);
  EXPECT_FALSE(entryLog->tableConfigPantry(1)->collectionControl()->wiped());
  EXPECT_EQ(entryLog->entrys(1), 0u);

  // The change log, of an agent without a relaunch entity: cleared and
  // mounted all the same.
  entryLog = nullptr;
  damageFile(ZaduLpmLib::TcamConstants::tableEntryLogPantryPath());
  Quor::LogCapture logs;
  entryLog = ZaduLpm::tcamEntryLogFactory(tableId, central, group, "AgentWithoutRelaunchId");
  ASSERT_EQ(logs.records().size(), 1u);
  EXPECT_EQ(logs.records()[0].message,
            "Hardware abstraction error: unable to load item: entryLog::Tcam");
  EXPECT_FALSE(entryLog->tableEntryLog()->collectionControl()->wiped());
  EXPECT_EQ(entryLog->tableVersion(), 0u);
}

TEST_F(TcamEntryLogTest, TheSharedNamespaceIsUsedWhenNotLocalEmIsSetEvenEmpty) {
  setenv("NOT_LOCAL_EM", "", 1);
  entryLog->mountPantryConfig(5, 0);
  unsetenv("NOT_LOCAL_EM");
  auto const shared = QuorSharedMem::EntityManager::getEntityManager(central->name(), false);
  EXPECT_TRUE(shared->getEntity(ZaduLpmLib::TcamConstants::configPantryPath(5)));
  EXPECT_FALSE(sharedMemory()->getEntity(ZaduLpmLib::TcamConstants::configPantryPath(5)));
}

// Runs the probe agent and returns what it printed.
std::string runProbe(std::string const& manager, std::string const& arguments) {
  return runCommand(std::string(TCAM_LOG_PROBE) + " " + manager + " " + arguments);
}

TEST_F(TcamEntryLogTest, VersionsContinueInTheNextAgentProcess) {
  write(1);
  write(2);
  write(3);
  entryLog = nullptr;  // this agent lets go of its mounts
  sharedMemory()->unmount(ZaduLpmLib::TcamConstants::tableEntryLogPantryPath());
  for (Zido::UnitId unitId : {0, 1}) {
    sharedMemory()->unmount(ZaduLpmLib::TcamConstants::configPantryPath(unitId));
  }
  EXPECT_EQ(runProbe(central->name(), "version"), "3\n");
  EXPECT_EQ(runProbe(central->name(), "write 0 2"), "5\n");
  // A cleanup in a new process has no mark: it walks the whole log.
  EXPECT_EQ(runProbe(central->name(), "cleanup 4"), "1 5\n");

  entryLog =
      ZaduLpm::tcamEntryLogFactory(tableId, central, group, ZaduLpmLib::TcamConstants::agentName);
  EXPECT_EQ(entryLog->tableVersion(), 5u);
  EXPECT_EQ(entryLog->cleanupVersion(), 0u);
  entryLog->mountPantryConfig(unit, 0);
  EXPECT_EQ(write(4), 6u);
  EXPECT_EQ(entryLog->entrys(unit), 6u);
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
  auto const orphan = [](Zido::LogVersion version, ZaduLpmLib::TcamDataModelEntryData const& data,
                         bool inDeletion) {
    TcamDataModelConfigPantryEntry record;
    record.logVersion = version;
    record.logEntry.entry = data;
    record.inDeletion = inDeletion;
    return record;
  };
  config(2).insert(orphan(6, entryOf(20, 3).data, false));  // a write
  config(1).insert(orphan(7, entryOf(9).data, true));       // an entry delete
  config(0).insert(orphan(8, entryOf(1).data, true));       // a table delete cut
  config(0).insert(orphan(8, entryOf(2).data, true));       // short after two keys

  entryLog = nullptr;
  for (Zido::UnitId unitId : {0, 1, 2}) {
    sharedMemory()->unmount(ZaduLpmLib::TcamConstants::configPantryPath(unitId));
  }
  sharedMemory()->unmount(ZaduLpmLib::TcamConstants::tableEntryLogPantryPath());
  entryLog =
      ZaduLpm::tcamEntryLogFactory(tableId, central, group, ZaduLpmLib::TcamConstants::agentName);

  EXPECT_EQ(entryLog->tableVersion(), 8u);
  EXPECT_EQ(entryLog->tableEntryLog()->collectionBase().scratchpad(), 8u);
  EXPECT_FALSE(entryLog->tableConfigPantryHas(2));  // scanned, not claimed
  EXPECT_FALSE(sharedMemory()->getEntity(ZaduLpmLib::TcamConstants::configPantryPath(2)));
  EXPECT_EQ(logged(6).unitId, 2);
  EXPECT_EQ(logged(6).flags, 0);
  EXPECT_EQ(logged(6).entry, entryOf(20, 3).data);
  EXPECT_EQ(logged(7).unitId, 1);
  EXPECT_TRUE(logged(7).entryDeleted());
  EXPECT_EQ(logged(7).entry.key, keyOf(9));
  EXPECT_EQ(logged(8).unitId, 0);
  EXPECT_TRUE(logged(8).tableDeleted());
  entryLog->mountPantryConfig(unit, 0);
  for (std::uint32_t n = 1; n <= 4; ++n) {
    EXPECT_TRUE(stored(n).inDeletion) << n;
    EXPECT_EQ(stored(n).logVersion, 8u) << n;
  }
  EXPECT_EQ(write(5), 9u);
  // Nothing is left to roll forward: a second mount changes nothing.
  std::uint64_t const records = changeLog().count();
  entryLog =
      ZaduLpm::tcamEntryLogFactory(tableId, central, group, ZaduLpmLib::TcamConstants::agentName);
  EXPECT_EQ(entryLog->tableVersion(), 9u);
  EXPECT_EQ(changeLog().count(), records);
}

// An agent killed at any point of its log writes leaves a log from which the
// next agent never hands out a version already in use: every record in the
// change log and in the configuration is at or below its table version.
TEST_F(TcamEntryLogTest, AKilledAgentsVersionsAreNeverHandedOutAgain) {
  auto const sharedMemory = QuorSharedMem::EntityManager::getEntityManager(central->name(), true);
  auto const letGo = [&] {
    entryLog = nullptr;
    sharedMemory->unmount(ZaduLpmLib::TcamConstants::tableEntryLogPantryPath());
    for (Zido::UnitId unitId : {0, 1}) {
      sharedMemory->unmount(ZaduLpmLib::TcamConstants::configPantryPath(unitId));
    }
  };
  letGo();
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
    agent.wait();

    entryLog =
        ZaduLpm::tcamEntryLogFactory(tableId, central, group, ZaduLpmLib::TcamConstants::agentName);
    entryLog->mountPantryConfig(unit, 0);
    Zido::LogVersion const version = entryLog->tableVersion();
    if (changeLog().count() != 0) {
      ASSERT_LE(changeLog().highKey(), version) << "after kill " << kill;
    }
    for (auto record = config().first(); record; record = config().nextAfter(record->key())) {
      ASSERT_LE(record->logVersion, version) << "after kill " << kill;
    }
    letGo();
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
  ChildProcess reader([&](int writeFd) {
    auto const configMap = ZaduLpmLib::TcamDataModelConfigMap::mountReader(
        sharedMemory()->filePathOf(configPath), ZaduLpmLib::TcamConstants::configCapacity,
        ZaduLpmLib::TcamDataModelConfigPantry::typeName,
        ZaduLpmLib::TcamDataModelConfigPantry::collectionName);
    auto const ring = ZaduLpmLib::TcamDataModelLogRing::mountReader(
        sharedMemory()->filePathOf(logPath), ZaduLpmLib::TcamConstants::entryLogCapacity,
        ZaduLpmLib::TcamDataModelEntryLogPantry::typeName,
        ZaduLpmLib::TcamDataModelEntryLogPantry::collectionName);
    ReaderReport report;
    ChildProcess::waitForParent();
    auto const end =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(knob("ZADU_READER_MS", 300));
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
  auto const end =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(knob("ZADU_READER_MS", 300));
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
