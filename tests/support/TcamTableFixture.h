// A TCAM table on a scratch shared-memory root: the central entity manager,
// the group interface (without an event loop unless a test gives one), the
// entry log of the table id with unit 0 mounted, the table set and the table
// of unit 0. Operations commit when the test runs the resolver (commitAll).
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <initializer_list>
#include <string>

#include "Quor/TraceHandle.h"
#include "ZaduLpm/TcamSwTable.h"
#include "ZaduLpmLib/TcamConstants.h"
#include "Zido/GroupInterface.h"
#include "Zido/OrderedSwTableSet.h"
#include "support/ScratchDirectory.h"

namespace ZaduTest {

using ZaduLpm::TcamSwTable;
using ZaduLpmLib::TcamDataModelEntry;
using ZaduLpmLib::TcamDataModelEntryKey;

// Key number n: 10.a.b.0/24, with a.b = n below 65,536 and a longer prefix
// length above.
inline TcamDataModelEntryKey keyOf(std::uint32_t n) {
  return TcamDataModelEntryKey((10u << 24) | ((n & 0xFFFF) << 8),
                               static_cast<std::uint8_t>(24 + ((n >> 16) & 7)));
}

// An entry of key n whose fields all derive from `value` (the client cookie
// included, which the log does not keep).
inline TcamDataModelEntry entryOf(std::uint32_t n, std::uint32_t value = 1) {
  TcamDataModelEntry entry;
  entry.data.key = keyOf(n);
  entry.data.adjacencyIndex = value;
  entry.data.action = ZaduLpmLib::TcamAction::forward;
  entry.data.classId = static_cast<std::uint8_t>(value);
  entry.clientCookie = 0xC0000000u | value;
  return entry;
}

// The entry as the configuration table gives it back: without the cookie.
inline TcamDataModelEntry committedOf(TcamDataModelEntry entry) {
  entry.clientCookie = 0;
  return entry;
}

// Read-only mounts of a unit's configuration table and of the change log
// file, as the hardware side and the reader make them.
inline Vesk::Ptr<ZaduLpmLib::TcamDataModelConfigMap> configReader(std::string const& file) {
  return ZaduLpmLib::TcamDataModelConfigMap::mountReader(
      file, ZaduLpmLib::TcamConstants::configCapacity,
      ZaduLpmLib::TcamDataModelConfigPantry::typeName,
      ZaduLpmLib::TcamDataModelConfigPantry::collectionName);
}
inline Vesk::Ptr<ZaduLpmLib::TcamDataModelLogRing> changeLogReader(std::string const& file) {
  return ZaduLpmLib::TcamDataModelLogRing::mountReader(
      file, ZaduLpmLib::TcamConstants::entryLogCapacity,
      ZaduLpmLib::TcamDataModelEntryLogPantry::typeName,
      ZaduLpmLib::TcamDataModelEntryLogPantry::collectionName);
}

// Fills the change log of `log` with records of versions first..last (of
// unit 0) and raises its table version to last.
inline void fillChangeLog(ZaduLpm::TcamEntryLog& log, Zido::LogVersion first,
                          Zido::LogVersion last) {
  ZaduLpmLib::TcamDataModelLogPantryEntry record;
  record.unitId = 0;
  for (record.version = first; record.version <= last; ++record.version) {
    log.tableEntryLog()->entryLogConfigIs(record);
  }
  log.tableVersionIs(last);
}

// Fills the configuration of `unitId` with records of version 1 of host
// routes 0.0.0.n, which no test writes otherwise.
inline void fillConfig(ZaduLpm::TcamEntryLog& log, Zido::UnitId unitId) {
  ZaduLpmLib::TcamDataModelConfigPantryEntry record{1, {}, false};
  for (std::uint32_t n = 0; n < ZaduLpmLib::TcamConstants::configCapacity; ++n) {
    record.logEntry.entry.key = TcamDataModelEntryKey(n, 32);
    log.tableConfigPantry(unitId)->swTableEntriesIs(record);
  }
}

// A dependency whose state the test sets.
inline Vesk::Ptr<Zido::OrderedEntryHandle> dependencyIn(Zido::EntryState state) {
  Vesk::Ptr<Zido::OrderedEntryHandle> handle(new Zido::OrderedEntryHandle({0, 0}, nullptr));
  handle->entryStateIs(state);
  return handle;
}

// A helper that adds `delta` to the adjacency of every re-derived entry and
// answers `commit`.
struct AdjacencyChanger : ZaduLpm::TcamSwTableHelperBase {
  bool finalizeOnResourceUpdate(Vesk::Ptr<ZaduLpm::TcamEntryWrapper> const& entry,
                                Vesk::Ptr<TcamSwTable> const&, bool) override {
    TcamDataModelEntry changed = entry->entry();
    changed.data.adjacencyIndex += delta;
    entry->entryIs(changed);
    return commit;
  }
  std::uint32_t delta = 1;
  bool commit = true;
};

class TcamTableFixture : public ::testing::Test {
 protected:
  static constexpr Zido::UnitId unit = 0;

  void SetUp() override {
    setenv("ZADU_SHM_ROOT", scratch.path().c_str(), 1);
    // One manager name per test: the process keeps its mounts by name.
    central = new Centrum::EntityManager(
        ::testing::UnitTest::GetInstance()->current_test_info()->name(), true);
    group = new Zido::GroupInterface(ZaduLpmLib::TcamConstants::agentName,
                                     ZaduLpmLib::TcamConstants::groupName, 0x0201, central, loop());
    set = new Zido::OrderedSwTableSet(tableId, new Zido::OrderedSwTableStatus(tableId));
    reopenEntryLog();
    table = makeTable(unit);
  }

  void TearDown() override {
    // The group may hold the set (tests that let it deliver versions): the
    // set's tables hold the entry log, which holds the group.
    group->swTableSetDel(tableId);
    table = nullptr;
    set = nullptr;
    entryLog = nullptr;
    group = nullptr;
    Quor::TraceHandle::reset();
    unsetenv("ZADU_SHM_ROOT");
  }

  // The event loop the group's resolver schedules passes on; none here.
  virtual Quor::EventLoop* loop() { return nullptr; }

  Vesk::Ptr<TcamSwTable> makeTable(Zido::UnitId unitId) {
    Vesk::Ptr<TcamSwTable> made = ZaduLpm::makeUnitSwTable(
        new Zido::CanonicalTableName(0, ZaduLpmLib::TcamConstants::groupName,
                                     ZaduLpmLib::TcamConstants::tableNamespace,
                                     ZaduLpmLib::TcamConstants::tableName),
        unitId, *set, entryLog, group->resolver(), 0);
    set->swTableIs(made);
    return made;
  }

  std::size_t commitAll() { return group->resolver()->runUntilIdle(); }
  // Accepts writes of keys first to end - 1 (entryOf(n)) and, unless told
  // not to, commits them.
  void writeKeys(std::uint32_t first, std::uint32_t end, bool commit = true) {
    for (std::uint32_t n = first; n < end; ++n) {
      table->entryWrite(keyOf(n), entryOf(n), nullptr);
    }
    if (commit) {
      commitAll();
    }
  }

  // Logs a write of entryOf(n) with adjacency n + 10 on `unitId` straight
  // into the entry log, as a commit does.
  void logWrite(std::uint32_t n, Zido::UnitId unitId) {
    entryLog->entryIs(ZaduLpmLib::TcamDataModelLogEntry{entryOf(n, n + 10).data, {}}, {}, nullptr,
                      unitId, nullptr, false);
  }

  // The entry log as a new agent process mounts it.
  void reopenEntryLog() {
    entryLog =
        ZaduLpm::tcamEntryLogFactory(tableId, central, group, ZaduLpmLib::TcamConstants::agentName);
  }
  // Lets go of the entry log and of this process's mounts of the change log
  // and of the configuration of `units`, as an agent that exits does.
  void releaseEntryLog(std::initializer_list<Zido::UnitId> units) {
    entryLog = nullptr;
    sharedMemory()->unmount(ZaduLpmLib::TcamConstants::tableEntryLogPantryPath());
    for (Zido::UnitId unitId : units) {
      sharedMemory()->unmount(ZaduLpmLib::TcamConstants::configPantryPath(unitId));
    }
  }
  Vesk::Ptr<QuorSharedMem::EntityManager> sharedMemory() const {
    return QuorSharedMem::EntityManager::getEntityManager(central->name(), central->local());
  }

  ZaduLpmLib::TcamDataModelConfigMap& config(Zido::UnitId unitId = unit) {
    return entryLog->tableConfigPantry(unitId)->swTableEntries();
  }
  ZaduLpmLib::TcamDataModelLogRing& changeLog() {
    return entryLog->tableEntryLog()->entryLogConfig();
  }

  Zido::SwTableId const tableId{ZaduLpmLib::TcamConstants::tableIdValue};
  ScratchDirectory scratch;
  Vesk::Ptr<Centrum::EntityManager> central;
  Vesk::Ptr<Zido::GroupInterface> group;
  Vesk::Ptr<Zido::OrderedSwTableSet> set;
  Vesk::Ptr<ZaduLpm::TcamEntryLog> entryLog;
  Vesk::Ptr<TcamSwTable> table;
};

}  // namespace ZaduTest
