// ZaduLpm::TcamEntryLog: the crash-safe record of what the TCAM software
// tables of one table id have committed, in shared memory:
//
//   the change log        collection entryLogConfig of a
//                         TcamDataModelEntryLogPantry: one record per log
//                         version (a write, an entry delete or a table
//                         delete). Its scratchpad word holds the table
//                         version, so versions continue after a restart.
//   the configuration     collection swTableEntries of one
//   table of each unit    TcamDataModelConfigPantry per unit: the committed
//                         entries of that unit by key, read by the hardware
//                         side and by a restarted agent.
//
// This agent mounts both as their only writer. Every write takes the next
// log version (versions are unique across all units of the table id) and
// makes its effects in a fixed order: configuration records, change log
// record, scratchpad, then the group interface's addLogEntry. A reader in
// another process therefore never finds a change log record whose
// configuration records are older than it.
//
// A delete only marks the configuration record (inDeletion, with the
// deleting version); cleanupEntryLog, told the version the hardware side has
// taken, removes change log records up to it and then the marked records of
// their deletes, so that a reader of the configuration sees every delete and
// its version.
//
// Invariants:
//  1. tableVersion is the highest version in the change log and the value of
//     its scratchpad (while this object writes).
//  2. A configuration record's logVersion is the last version that wrote or
//     deleted its key.
//  3. cleanupVersion lives in memory only: the first cleanup after a restart
//     walks the whole change log.
//  4. No version is handed out twice, also across a crash: tableVersion at
//     mount is the newest of the scratchpad, the change log and every
//     configuration table on disk under the table's path base, mounted or
//     not (a writer killed between two of its effects leaves the later ones
//     behind, and units may be claimed in any order, or never).
//  5. Every configuration record is accounted for by the change log: its
//     logVersion is in the change log, or at or below a version the change
//     log held (and the hardware side took before cleanup removed it). A
//     writer killed after a configuration record but before its change log
//     record breaks this for the one version it was writing; the mount of the
//     change log restores it by rolling that version forward: a lone record
//     is logged as the write or entry delete it is, several records sharing
//     a version (a table delete, perhaps cut short in its walk) complete the
//     table delete and log it. A table delete cut short after its first
//     record is logged as that key's entry delete: the configuration and the
//     hardware side then agree on every key, and the client, which never got
//     its answer, resynchronises. The hardware side, which reads only the change
//     log after it has caught up, therefore sees every committed record.
//
// Errors. Every read of a collection is guarded: a
// Vesk::CorruptionDetectedException is reported to the collection
// (doCorruptionDetected) and the read goes on with the default record, or a
// walk ends. Operations on a unit that is not mounted stop with a fatal
// assertion naming the unit. A write, entry delete or table delete when the
// change log holds its 1,000,000 records raises Pantry::CollectionFullError
// before anything changes (the commit path waits for room, so only other
// callers meet it). entryIs of a new key that the unit's
// configuration table has no room for (65,536 records) raises
// Pantry::CollectionFullError, naming the unit and the key, with nothing
// stored and no version taken.
//
// Costs: the mount of the change log walks every unit's configuration
// table once; entryIs and entryDel are one or two keyed lookups and two record
// writes; tableDel and entrysInDeletion walk the unit's table; a cleanup
// after the first costs one lookup per version it steps over.
//
// Thread safety: the agent's thread.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Centrum/EntityManager.h"
#include "Hunkpool/Pool.h"
#include "Pantry/GuardedRead.h"
#include "Quor/Assert.h"
#include "Quor/HashMap2018.h"
#include "QuorPantry/CollectionControl.h"
#include "QuorPantry/MountInfo.h"
#include "QuorSharedMem/EntityManager.h"
#include "QuorSharedMem/MountGroup.h"
#include "Vesk/Exception.h"
#include "Vesk/String.h"
#include "ZaduLpmLib/TcamDataModelPantry.h"
#include "Zido/EntryLogBase.h"
#include "Zido/GenId.h"
#include "Zido/GroupInterface.h"
#include "Zido/NeededEntry.h"
#include "Zido/SwTableStats.h"

namespace ZaduLpm {

class TcamEntryLog : public Zido::EntryLogBase {
  HUNKPOOL_CLASS_ALLOCATION(TcamEntryLog)

 public:
  using ConfigPantry = ZaduLpmLib::TcamDataModelConfigPantry;
  using EntryLogPantry = ZaduLpmLib::TcamDataModelEntryLogPantry;

  // Mounts the change log, loads tableVersion from its scratchpad and rolls
  // forward what a killed writer left (invariants 4 and 5); a failing mount
  // propagates.
  TcamEntryLog(Zido::SwTableId tableId, Vesk::Ptr<Centrum::EntityManager> const& entityManager,
               Vesk::Ptr<Zido::GroupInterface> const& groupInterface,
               Vesk::String const& agentName);
  // Drops the references; nothing in shared memory changes.
  ~TcamEntryLog() override;

  static Vesk::Ptr<TcamEntryLog> TcamEntryLogIs(
      Zido::SwTableId tableId, Vesk::Ptr<Centrum::EntityManager> const& entityManager,
      Vesk::Ptr<Zido::GroupInterface> const& groupInterface, Vesk::String const& agentName);

  Vesk::Ptr<EntryLogPantry> const& tableEntryLog() const noexcept { return tableEntryLog_; }
  // Records now in the change log.
  std::uint64_t entryLogRecords() const noexcept {
    return tableEntryLog_->entryLogConfig().count();
  }

  // The mounted configuration table of `unitId`, or null. The setters change
  // the in-process collection only; a null pointer removes the unit.
  Vesk::Ptr<ConfigPantry> tableConfigPantry(Zido::UnitId unitId) const;
  bool tableConfigPantryHas(Zido::UnitId unitId) const { return tableConfigPantry_.has(unitId); }
  void tableConfigPantryIs(Zido::UnitId unitId, Vesk::Ptr<ConfigPantry> const& pantry);
  Vesk::Ptr<ConfigPantry> tableConfigPantryDel(Zido::UnitId unitId);
  void tableConfigPantryDelAll();

  void handleInitialized();
  void mountPantryChangeLog();
  // Mounts the configuration table of `unitId`; with a non-zero `logVersion`
  // purges the records in deletion at or before it.
  void mountPantryConfig(Zido::UnitId unitId, Zido::LogVersion logVersion);

  // Logs a write of `logEntry`'s entry on `unitId`; returns its new version,
  // or, when `suppressIdenticalWrites` finds the same entry stored, that
  // record's version. `rsrcKeys` is not read (this table has none).
  // REQUIRES: `unitId` mounted.
  Zido::LogVersion entryIs(ZaduLpmLib::TcamDataModelLogEntry const& logEntry,
                           ZaduLpmLib::TcamDataModelResourceKeys const& rsrcKeys,
                           Vesk::Ptr<Zido::NeededEntry const> const& neededEntry,
                           Zido::UnitId unitId, Vesk::Ptr<Zido::SwTableStats> const& stats,
                           bool suppressIdenticalWrites);
  // Logs a delete of `key`; returns its new version, or 0 when the unit holds
  // no record of the key. REQUIRES: `unitId` mounted.
  Zido::LogVersion entryDel(ZaduLpmLib::TcamDataModelEntryKey const& key,
                            Vesk::Ptr<Zido::NeededEntry const> const& neededEntry,
                            Zido::UnitId unitId);
  // Logs a delete of every entry of `unitId`; returns its new version.
  // REQUIRES: `unitId` mounted.
  Zido::LogVersion tableDel(Vesk::Ptr<Zido::NeededEntry const> const& neededEntry,
                            Zido::UnitId unitId);

  // Raises tableVersion (and the scratchpad) to `version` when it is below:
  // versions handed out after it are above what the hardware side has taken
  // even when the change log lost its records.
  void tableVersionAtLeast(Zido::LogVersion version);

  // Removes the change log records up to `version` and the configuration
  // records their deletes marked.
  void cleanupEntryLog(Zido::LogVersion version);

  // Queries of a mounted unit (REQUIRES: `unitId` mounted).
  ZaduLpmLib::TcamDataModelEntry entry(ZaduLpmLib::TcamDataModelEntryKey const& key,
                                       Zido::UnitId unitId) const;
  bool entryHas(ZaduLpmLib::TcamDataModelEntryKey const& key, Zido::UnitId unitId) const;
  ZaduLpmLib::TcamDataModelResourceKeys entryRsrcKeys(ZaduLpmLib::TcamDataModelEntryKey const& key,
                                                      Zido::UnitId unitId) const;
  Zido::LogVersion entryLogVersion(ZaduLpmLib::TcamDataModelEntryKey const& key,
                                   Zido::UnitId unitId) const;
  std::uint32_t entrysInDeletion(Zido::UnitId unitId) const;
  // Starts bringing the configuration slot of `key` on `unitId` into the
  // cache ahead of its commit: a hint that changes nothing (nothing when the
  // unit has no table). A queued entry asks for it a few entries before its
  // commit (the resolver's prefetchCommit hint), late enough that the slot is
  // still in cache when the commit comes and early enough that memory has
  // answered.
  void prefetchConfig(Zido::UnitId unitId,
                      ZaduLpmLib::TcamDataModelEntryKey const& key) const noexcept;
  std::uint32_t entrys(Zido::UnitId unitId) const;

  Vesk::TypeData const& typeData() const override { return staticTypeData(); }
  static Vesk::TypeData const& staticTypeData();

 private:
  // The unit's configuration table; stops with a fatal assertion when the
  // unit is not mounted.
  ConfigPantry& mountedConfig(Zido::UnitId unitId) const;
  // Scans every configuration table on disk and logs the records the change
  // log does not account for (invariant 5); tableVersion ends at the newest
  // version found. Costs one walk of every unit's table.
  void rollForwardConfigTables();
  // Raises Pantry::CollectionFullError when the change log has no room for a
  // record: a write is refused before it changes anything.
  void requireChangeLogRoom() const;
  // The common tail of the three writes.
  Zido::LogVersion appendChangeLog(ZaduLpmLib::TcamDataModelLogPantryEntry const& record,
                                   Vesk::Ptr<Zido::NeededEntry const> const& neededEntry);
  void cleanupConfig(ZaduLpmLib::TcamDataModelLogPantryEntry const& removed);
  // The unit's configuration table, or null: one indexed load, for the
  // lookups that every commit and cleanup makes.
  ConfigPantry* configOf(Zido::UnitId unitId) const noexcept {
    return unitId < configByUnit_.size() ? configByUnit_[unitId] : nullptr;
  }

  Vesk::Ptr<EntryLogPantry> tableEntryLog_;
  Quor::HashMap2018<Zido::UnitId, Vesk::Ptr<ConfigPantry>> tableConfigPantry_;
  // tableConfigPantry_ indexed by unit id (null where a unit has none), kept
  // equal to it by its three mutators; the tables are owned by
  // tableConfigPantry_'s references. Grows to the largest unit id mounted
  // (a vector of 64K pointers at most).
  std::vector<ConfigPantry*> configByUnit_;
};

Vesk::Ptr<TcamEntryLog> tcamEntryLogFactory(Zido::SwTableId tableId,
                                            Vesk::Ptr<Centrum::EntityManager> const& entityManager,
                                            Vesk::Ptr<Zido::GroupInterface> const& groupInterface,
                                            Vesk::String const& agentName);

// Writes HW_ABSTRACTION_ERROR for a persistent item found damaged or missing.
void reportUnloadableItem(std::string const& item);
// Bumps the relaunch generation id of `agentName`, when it exists.
void bumpRelaunchGenId(Centrum::EntityManager const& entityManager, Vesk::String const& agentName);
// The shared-memory entity manager the mounts use.
Vesk::Ptr<QuorSharedMem::EntityManager> mountEntityManager(
    Centrum::EntityManager const& entityManager);

// Mounts the pantry entity of type T at `path` as its writer and returns it.
// A collection found wiped calls `wipedHandler`, bumps the agent's relaunch
// generation id and clears the wiped mark. With NOT_LOCAL_EM set, the shared
// namespace is used whatever the central entity manager's local flag. A
// mount that yields no entity of type T is a fatal assertion.
template <class T, class MountInfoSetter, class CollectionControlOf, class WipedHandler>
Vesk::Ptr<T> checkAndwriteMountPantry(Vesk::Ptr<Centrum::EntityManager> const& entityManager,
                                      Vesk::String const& typeName, Vesk::String const& path,
                                      Vesk::String const& agentName,
                                      MountInfoSetter mountInfoSetter,
                                      CollectionControlOf collectionControlOf,
                                      WipedHandler wipedHandler) {
  Vesk::Ptr<QuorSharedMem::EntityManager> const sharedMemory = mountEntityManager(*entityManager);
  Vesk::Ptr<QuorSharedMem::MountGroup> const mountGroup = sharedMemory->getMountGroup();
  QuorPantry::MountInfo mountInfo(QuorPantry::MountInfo::writer);
  mountInfoSetter(mountInfo);
  mountGroup->mount(path, typeName, mountInfo);
  mountGroup->doClose();
  Vesk::Ptr<T> mounted = Vesk::dynamicPtrCast<T>(sharedMemory->getEntity(path));
  QUOR_ASSERT_MSG(mounted, "the mount yields no entity of the requested type");
  Vesk::Ptr<QuorPantry::CollectionControl> const control = collectionControlOf(mounted);
  if (control->wiped()) {
    wipedHandler();
    bumpRelaunchGenId(*entityManager, agentName);
    control->clearWiped();
  }
  return mounted;
}

}  // namespace ZaduLpm
