#include "ZaduLpm/TcamEntryLog.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <tuple>
#include <vector>

#include "Quor/Log.h"
#include "Quor/TraceHandle.h"
#include "QuorSharedMem/ShmemEntities.h"
#include "Vesk/PtrFormat.h"
#include "ZaduLpmLib/TcamConstants.h"
#include "ZaduLpmLib/TcamDataModelCodecs.h"
#include "Zido/Constants.h"

namespace ZaduLpm {

using ZaduLpmLib::TcamDataModelConfigPantryEntry;
using ZaduLpmLib::TcamDataModelEntry;
using ZaduLpmLib::TcamDataModelEntryKey;
using ZaduLpmLib::TcamDataModelLogEntry;
using ZaduLpmLib::TcamDataModelLogPantryEntry;

namespace {

Quor::TraceHandle traceHandle("TcamEntryLog");
constexpr char const* tag = "TcamEntryLog";

// The recommended action of the three messages: one character, code 1.
constexpr char recommendedAction[] = {1, 0};

QUOR_LOG_DESCRIPTOR(exceptionDescriptor, "HW_ABSTRACTION_EXCEPTION", "%s", "Exception",
                    recommendedAction, 3);
QUOR_LOG_DESCRIPTOR(relaunchErrorDescriptor, "HW_ABSTRACTION_RELAUNCH_ERROR", "%s",
                    "Duplicate Writer Detected, pantry path not cleaned up", recommendedAction, 3);
QUOR_LOG_DESCRIPTOR(errorDescriptor, "HW_ABSTRACTION_ERROR",
                    "Hardware abstraction error: unable to load item: %s",
                    "Hardware abstraction error: unable to load some persistent items. Some "
                    "agents will be restarted",
                    recommendedAction, 3);

Quor::LogHandle exceptionLog(exceptionDescriptor, Quor::LogHandle::Seconds(0), 1.0, 0, 0);
Quor::LogHandle relaunchErrorLog(relaunchErrorDescriptor, Quor::LogHandle::Seconds(0), 1.0, 0, 0);
Quor::LogHandle errorLog(errorDescriptor, Quor::LogHandle::Seconds(0), 1.0, 0, 0);

TcamDataModelEntryKey configKeyOf(TcamDataModelConfigPantryEntry const& record) {
  return record.key();
}

Zido::LogVersion logVersionOf(TcamDataModelLogPantryEntry const& record) {
  return record.version;
}

// The configuration record of `entry` written by `version`.
TcamDataModelConfigPantryEntry configRecord(Zido::LogVersion version,
                                            ZaduLpmLib::TcamDataModelEntryData const& entry,
                                            bool inDeletion) {
  TcamDataModelConfigPantryEntry record;
  record.logVersion = version;
  record.logEntry = TcamDataModelLogEntry{entry, {}};
  record.inDeletion = inDeletion;
  return record;
}

TcamDataModelLogPantryEntry changeRecord(Zido::LogVersion version,
                                         ZaduLpmLib::TcamDataModelEntryData const& entry,
                                         Zido::UnitId unitId, std::uint8_t flags) {
  TcamDataModelLogPantryEntry record;
  record.version = version;
  record.entry = entry;
  record.unitId = unitId;
  record.flags = flags;
  return record;
}

}  // namespace

Vesk::Ptr<QuorSharedMem::EntityManager> mountEntityManager(
    Centrum::EntityManager const& entityManager) {
  Vesk::Ptr<QuorSharedMem::EntityManager> manager =
      QuorSharedMem::EntityManager::getEntityManager(entityManager.name(), entityManager.local());
  if (std::getenv("NOT_LOCAL_EM") != nullptr) {
    manager = QuorSharedMem::EntityManager::getEntityManager(entityManager.name(), false);
  }
  return manager;
}

void reportUnloadableItem(std::string const& item) {
  Quor::log(errorLog, item);
}

void bumpRelaunchGenId(Centrum::EntityManager const& entityManager, Vesk::String const& agentName) {
  auto const genId = Vesk::dynamicPtrCast<Zido::GenId>(
      entityManager.getEntity(Zido::Constants::relaunchGenIdPath(agentName)));
  if (genId) {
    genId->majorIdInc(1);
  }
}

TcamEntryLog::TcamEntryLog(Zido::SwTableId tableId,
                           Vesk::Ptr<Centrum::EntityManager> const& entityManager,
                           Vesk::Ptr<Zido::GroupInterface> const& groupInterface,
                           Vesk::String const& agentName)
    : EntryLogBase(tableId, entityManager, groupInterface, agentName) {
  handleInitialized();
}

TcamEntryLog::~TcamEntryLog() {
  configByUnit_.clear();
  tableConfigPantry_.clear();
  tableEntryLog_ = nullptr;
}

Vesk::Ptr<TcamEntryLog> TcamEntryLog::TcamEntryLogIs(
    Zido::SwTableId tableId, Vesk::Ptr<Centrum::EntityManager> const& entityManager,
    Vesk::Ptr<Zido::GroupInterface> const& groupInterface, Vesk::String const& agentName) {
  return tcamEntryLogFactory(tableId, entityManager, groupInterface, agentName);
}

Vesk::Ptr<TcamEntryLog> tcamEntryLogFactory(Zido::SwTableId tableId,
                                            Vesk::Ptr<Centrum::EntityManager> const& entityManager,
                                            Vesk::Ptr<Zido::GroupInterface> const& groupInterface,
                                            Vesk::String const& agentName) {
  return Vesk::Ptr<TcamEntryLog>(
      new TcamEntryLog(tableId, entityManager, groupInterface, agentName));
}

Vesk::Ptr<TcamEntryLog::ConfigPantry> TcamEntryLog::tableConfigPantry(Zido::UnitId unitId) const {
  Vesk::Ptr<ConfigPantry> const* found = tableConfigPantry_.find(unitId);
  return found == nullptr ? nullptr : *found;
}

// The three mutators keep configByUnit_ equal to tableConfigPantry_ before
// observers hear of a change, so that what an observer queries finds the
// table the map holds; the index grows first, the one step that may raise.
void TcamEntryLog::tableConfigPantryIs(Zido::UnitId unitId, Vesk::Ptr<ConfigPantry> const& pantry) {
  if (!pantry) {
    tableConfigPantryDel(unitId);
    return;
  }
  if (unitId >= configByUnit_.size()) {
    configByUnit_.resize(std::size_t{unitId} + 1, nullptr);
  }
  if (tableConfigPantry_.change(unitId, pantry)) {
    configByUnit_[unitId] = pantry.get();
    publisher().publishKey(*this, "tableConfigPantry", unitId);
  }
}

Vesk::Ptr<TcamEntryLog::ConfigPantry> TcamEntryLog::tableConfigPantryDel(Zido::UnitId unitId) {
  std::optional<Vesk::Ptr<ConfigPantry>> removed = tableConfigPantry_.del(unitId);
  if (!removed) {
    return nullptr;
  }
  configByUnit_[unitId] = nullptr;  // in range: the index has every unit of the map
  publisher().publishKey(*this, "tableConfigPantry", unitId);
  return *std::move(removed);
}

void TcamEntryLog::tableConfigPantryDelAll() {
  if (!publisher().hasObservers()) {
    configByUnit_.clear();
    tableConfigPantry_.clear();
    return;
  }
  while (!tableConfigPantry_.empty()) {
    tableConfigPantryDel(tableConfigPantry_.cursorFirst().key());
  }
}

void TcamEntryLog::handleInitialized() {
  QUOR_TRACE(traceHandle, 8, tag, "");
  mountPantryChangeLog();
}

void TcamEntryLog::mountPantryChangeLog() {
  QUOR_TRACE(traceHandle, 8, tag, "");
  std::string const& path = ZaduLpmLib::TcamConstants::tableEntryLogPantryPath();
  tableEntryLog_ = checkAndwriteMountPantry<EntryLogPantry>(
      entityManager(), EntryLogPantry::typeName, path, agentName(),
      [](QuorPantry::MountInfo& mountInfo) {
        mountInfo.collectionInfoIs(QuorPantry::CollectionInfo{
            EntryLogPantry::collectionName, ZaduLpmLib::TcamConstants::entryLogCapacity, 0});
      },
      [](Vesk::Ptr<EntryLogPantry>& pantry) { return pantry->collectionControl(); },
      [] { Quor::log(errorLog, fmt::format("{}::{}", "entryLog", "Tcam")); });
  // A writer killed between the change log record and the scratchpad leaves
  // the scratchpad one version behind the log: the higher of the two is the
  // last version the change log accounts for.
  Pantry::PantryMapBase const& changeLog = tableEntryLog_->collectionBase();
  Zido::LogVersion version = tableEntryLog_->collectionControl()->scratchpad();
  if (changeLog.count() != 0) {
    version = std::max(version, tableEntryLog_->entryLogConfig().highKey());
  }
  tableVersionIs(version);
  rollForwardConfigTables();
  QUOR_TRACE(traceHandle, 2, tag, " Mounted entryLog: {}, tableVersion: {}", path, tableVersion());
}

void TcamEntryLog::rollForwardConfigTables() {
  Zido::LogVersion const accounted = tableVersion();
  Vesk::Ptr<QuorSharedMem::EntityManager> const sharedMemory = mountEntityManager(*entityManager());
  Vesk::Ptr<QuorSharedMem::ShmemEntities> const found = sharedMemory->findEntities(
      ZaduLpmLib::TcamConstants::configPantryPathBase(), QuorSharedMem::pantryType);
  struct Scanned {
    std::string path;
    Vesk::Ptr<ConfigPantry> config;
    bool mountedBefore;
  };
  std::map<Zido::UnitId, Scanned> scanned;
  std::vector<std::pair<Zido::UnitId, TcamDataModelConfigPantryEntry>> orphans;
  for (auto const& [path, typeName] : found->members()) {
    if (typeName != ConfigPantry::typeName) {
      continue;
    }
    Zido::UnitId unitId = 0;
    try {
      unitId = Zido::Constants::getUnitIdFromConfigPath(path);
    } catch (Vesk::Exception const&) {
      continue;  // no unit's configuration path
    }
    if (path != ZaduLpmLib::TcamConstants::configPantryPath(unitId)) {
      continue;  // another spelling of the unit's path: not its configuration
    }
    // A writer mount repairs or remakes a damaged segment, as the unit's own
    // mount would; what it cannot do (a live second writer, no permission)
    // propagates.
    bool const mountedBefore = sharedMemory->getEntity(path) != nullptr;
    Vesk::Ptr<ConfigPantry> const config = Vesk::dynamicPtrCast<ConfigPantry>(
        sharedMemory->mountExisting(path, QuorPantry::MountInfo::writer));
    if (!config) {
      continue;
    }
    Pantry::guardedWalk(config->swTableEntries(), configKeyOf,
                        [&](TcamDataModelConfigPantryEntry const& record) {
                          if (record.logVersion > accounted) {
                            orphans.emplace_back(unitId, record);
                          }
                        });
    scanned.emplace(unitId, Scanned{path, config, mountedBefore});
  }
  std::sort(orphans.begin(), orphans.end(), [](auto const& left, auto const& right) {
    return std::tie(left.second.logVersion, left.first) <
           std::tie(right.second.logVersion, right.first);
  });
  for (auto group = orphans.begin(); group != orphans.end();) {
    auto const& [unitId, record] = *group;
    Zido::LogVersion const version = record.logVersion;
    auto const groupEnd = std::find_if(group, orphans.end(), [&](auto const& orphan) {
      return orphan.second.logVersion != version;
    });
    if (groupEnd - group == 1) {
      // One record: a write or an entry delete.
      std::uint8_t const flags =
          record.inDeletion ? TcamDataModelLogPantryEntry::entryDeletedBit : std::uint8_t{0};
      tableEntryLog_->entryLogConfigIs(changeRecord(version, record.logEntry.entry, unitId, flags));
    } else {
      // Several records share the version: a table delete, perhaps cut short
      // in its walk. Completing it leaves no live record older than it.
      ConfigPantry& config = *scanned.at(unitId).config;
      ZaduLpmLib::TcamDataModelConfigMap& entries = config.swTableEntries();
      Pantry::guardedWalk(entries, configKeyOf, [&](TcamDataModelConfigPantryEntry const& stored) {
        if (!stored.inDeletion && stored.logVersion < version) {
          config.swTableEntriesIs(configRecord(version, stored.logEntry.entry, true));
        }
      });
      tableEntryLog_->entryLogConfigIs(changeRecord(version, ZaduLpmLib::TcamDataModelEntryData{},
                                                    unitId,
                                                    TcamDataModelLogPantryEntry::tableDeletedBit));
    }
    tableVersionIs(version);
    group = groupEnd;
  }
  if (!orphans.empty()) {
    tableEntryLog_->collectionBase().scratchpadIs(tableVersion());
    QUOR_TRACE(traceHandle, 2, tag,
               " Rolled forward {} configuration records the change log lacked, tableVersion: {}",
               orphans.size(), tableVersion());
  }
  for (auto const& [unitId, each] : scanned) {
    if (!each.mountedBefore) {
      sharedMemory->unmount(each.path);
    }
  }
}

void TcamEntryLog::mountPantryConfig(Zido::UnitId unitId, Zido::LogVersion logVersion) {
  QUOR_TRACE(traceHandle, 8, tag, " unitId:{}, logVersion: {}", unitId, logVersion);
  std::string const path = ZaduLpmLib::TcamConstants::configPantryPath(unitId);
  Vesk::Ptr<ConfigPantry> const cfgPantry = checkAndwriteMountPantry<ConfigPantry>(
      entityManager(), ConfigPantry::typeName, path, agentName(),
      [](QuorPantry::MountInfo& mountInfo) {
        mountInfo.collectionInfoIs(QuorPantry::CollectionInfo{
            ConfigPantry::collectionName, ZaduLpmLib::TcamConstants::configCapacity, 0});
      },
      [](Vesk::Ptr<ConfigPantry>& pantry) { return pantry->collectionControl(); },
      [] { Quor::log(errorLog, fmt::format("{}::{}", "entryCfg", "Tcam")); });
  QUOR_ASSERT(cfgPantry);
  tableConfigPantryIs(unitId, cfgPantry);
  QUOR_TRACE(traceHandle, 2, tag, " Mounted config for unitId: {} at {}", unitId, path);
  if (logVersion == 0) {
    return;
  }
  Pantry::guardedWalk(cfgPantry->swTableEntries(), configKeyOf,
                      [&](TcamDataModelConfigPantryEntry const& record) {
                        if (record.inDeletion && record.logVersion <= logVersion) {
                          cfgPantry->swTableEntriesDel(record.key());
                        }
                      });
}

TcamEntryLog::ConfigPantry& TcamEntryLog::mountedConfig(Zido::UnitId unitId) const {
  ConfigPantry* const found = configOf(unitId);
  if (found == nullptr) [[unlikely]] {
    std::string const message =
        fmt::format("Config pantry for unitId:{} is not created yet!", unitId);
    QUOR_ASSERT_TEXT_MSG(found != nullptr, "tableConfigPantryHas( unitId )", message.c_str());
  }
  return *found;
}

void TcamEntryLog::prefetchConfig(Zido::UnitId unitId,
                                  TcamDataModelEntryKey const& key) const noexcept {
  if (ConfigPantry const* const found = configOf(unitId)) {
    found->swTableEntries().prefetch(key);
  }
}

void TcamEntryLog::requireChangeLogRoom() const {
  ZaduLpmLib::TcamDataModelLogRing const& changeLog = tableEntryLog_->entryLogConfig();
  if (changeLog.count() >= changeLog.capacity()) [[unlikely]] {
    throw Pantry::CollectionFullError(
        fmt::format("the change log is full ({} records): the hardware side has not taken them",
                    changeLog.count()));
  }
}

void TcamEntryLog::tableVersionAtLeast(Zido::LogVersion version) {
  if (version > tableVersion()) {
    tableVersionIs(version);
    tableEntryLog_->collectionBase().scratchpadIs(version);
  }
}

Zido::LogVersion TcamEntryLog::appendChangeLog(
    TcamDataModelLogPantryEntry const& record,
    Vesk::Ptr<Zido::NeededEntry const> const& neededEntry) {
  tableEntryLog_->entryLogConfigIs(record);
  tableEntryLog_->collectionBase().scratchpadIs(record.version);
  groupInterface()->addLogEntry(tableId(), record.version, neededEntry);
  return record.version;
}

Zido::LogVersion TcamEntryLog::entryIs(TcamDataModelLogEntry const& logEntry,
                                       ZaduLpmLib::TcamDataModelResourceKeys const&,
                                       Vesk::Ptr<Zido::NeededEntry const> const& neededEntry,
                                       Zido::UnitId unitId,
                                       Vesk::Ptr<Zido::SwTableStats> const& stats,
                                       bool suppressIdenticalWrites) {
  ConfigPantry& config = mountedConfig(unitId);
  ZaduLpmLib::TcamDataModelConfigMap& entries = config.swTableEntries();
  TcamDataModelEntryKey const& key = logEntry.entry.key;
  if (suppressIdenticalWrites) {
    auto const stored = Pantry::guardedLookup(entries, key);
    if (!(stored.record == TcamDataModelConfigPantryEntry{}) && !stored.record.inDeletion) {
      if (stored.record.logEntry == logEntry) {
        stats->suppressedWriteCntInc(1);
        QUOR_TRACE(traceHandle, 3, tag, "Suppressing identical write for key: {}", key);
        if (stored.record.logVersion != 0) {
          return stored.record.logVersion;
        }
      } else {
        QUOR_TRACE(traceHandle, 3, tag,
                   "Not Suppressing write because entry or resource key is different  for key: {}",
                   key);
        stats->suppressCheckDiffCntInc(1);
      }
    }
  }
  requireChangeLogRoom();
  Zido::LogVersion const version = tableVersionInc(1);
  QUOR_TRACE(traceHandle, 8, tag,
             " logEntry: {} neededEntry: {} version: {} unitId: {} suppressIdenticalWrites: {}",
             logEntry, neededEntry, version, unitId, suppressIdenticalWrites);
  try {
    config.swTableEntriesIs(configRecord(version, logEntry.entry, false));
  } catch (Pantry::CollectionFullError const& full) {
    // A new key the unit's table has no room for: refused before anything
    // is stored, and the version (not yet persisted) is given back.
    tableVersionIs(version - 1);
    throw Pantry::CollectionFullError(
        fmt::format("configuration table of unitId {} is full: cannot add key {} ({})", unitId, key,
                    full.what()));
  }
  return appendChangeLog(changeRecord(version, logEntry.entry, unitId, 0), neededEntry);
}

Zido::LogVersion TcamEntryLog::entryDel(TcamDataModelEntryKey const& key,
                                        Vesk::Ptr<Zido::NeededEntry const> const& neededEntry,
                                        Zido::UnitId unitId) {
  QUOR_TRACE(traceHandle, 8, tag, " key:{} neededEntry: {} unitId: {}", key, neededEntry, unitId);
  ConfigPantry& config = mountedConfig(unitId);
  ZaduLpmLib::TcamDataModelConfigMap& entries = config.swTableEntries();
  auto stored = Pantry::guardedLookup(entries, key);
  if (!stored.found) {
    QUOR_TRACE(traceHandle, 3, tag, " key: {} entry does not exist. So ignoring delete", key);
    return 0;
  }
  requireChangeLogRoom();
  Zido::LogVersion const version = tableVersionInc(1);
  TcamDataModelConfigPantryEntry& record = stored.record;
  record.logVersion = version;
  record.inDeletion = true;
  config.swTableEntriesIs(record);
  return appendChangeLog(changeRecord(version, record.logEntry.entry, unitId,
                                      TcamDataModelLogPantryEntry::entryDeletedBit),
                         neededEntry);
}

Zido::LogVersion TcamEntryLog::tableDel(Vesk::Ptr<Zido::NeededEntry const> const& neededEntry,
                                        Zido::UnitId unitId) {
  QUOR_TRACE(traceHandle, 8, tag, " neededEntry:{}, unitId: {}", neededEntry, unitId);
  ConfigPantry& config = mountedConfig(unitId);
  ZaduLpmLib::TcamDataModelConfigMap& entries = config.swTableEntries();
  requireChangeLogRoom();
  Zido::LogVersion const version = tableVersionInc(1);
  Pantry::guardedWalk(entries, configKeyOf, [&](TcamDataModelConfigPantryEntry const& record) {
    if (!record.inDeletion) {
      TcamDataModelConfigPantryEntry const current =
          Pantry::guardedLookup(entries, record.key()).record;
      config.swTableEntriesIs(configRecord(version, current.logEntry.entry, true));
    }
  });
  return appendChangeLog(changeRecord(version, ZaduLpmLib::TcamDataModelEntryData{}, unitId,
                                      TcamDataModelLogPantryEntry::tableDeletedBit),
                         neededEntry);
}

void TcamEntryLog::cleanupEntryLog(Zido::LogVersion version) {
  QUOR_TRACE(traceHandle, 8, tag, " version {}", version);
  ZaduLpmLib::TcamDataModelLogRing& changeLog = tableEntryLog_->entryLogConfig();
  if (cleanupVersion() != 0) {
    if (cleanupVersion() > version) {
      cleanupVersionIs(version);
      return;
    }
    for (Zido::LogVersion step = cleanupVersion();; ++step) {
      auto const found = Pantry::guardedLookup(changeLog, step);
      if (found.found) {
        tableEntryLog_->entryLogConfigDel(step);
        cleanupConfig(found.record);
      }
      if (step == version) {
        break;
      }
    }
  } else {
    Pantry::guardedWalk(changeLog, logVersionOf, [&](TcamDataModelLogPantryEntry const& record) {
      if (record.version <= version) {
        tableEntryLog_->entryLogConfigDel(record.version);
        cleanupConfig(record);
      }
    });
  }
  cleanupVersionIs(version);
}

void TcamEntryLog::cleanupConfig(TcamDataModelLogPantryEntry const& removed) {
  ConfigPantry* const found = configOf(removed.unitId);
  if (found == nullptr) {
    QUOR_TRACE(traceHandle, 3, tag, " configPantry not found for unitId: {}", removed.unitId);
    return;
  }
  ConfigPantry& config = *found;
  ZaduLpmLib::TcamDataModelConfigMap& entries = config.swTableEntries();
  if (removed.entryDeleted()) {
    if (Pantry::guardedLookup(entries, removed.entry.key).record.logVersion == removed.version) {
      config.swTableEntriesDel(removed.entry.key);
    }
  } else if (removed.tableDeleted()) {
    QUOR_TRACE(traceHandle, 3, tag, " deleteing all entries for unitId: {}", removed.unitId);
    Pantry::guardedWalk(entries, configKeyOf, [&](TcamDataModelConfigPantryEntry const& record) {
      if (record.logVersion == removed.version) {
        config.swTableEntriesDel(record.key());
      }
    });
  }
}

TcamDataModelEntry TcamEntryLog::entry(TcamDataModelEntryKey const& key,
                                       Zido::UnitId unitId) const {
  QUOR_TRACE(traceHandle, 8, tag, " key: {} unitId:{}", key, unitId);
  auto const found = Pantry::guardedLookup(mountedConfig(unitId).swTableEntries(), key);
  TcamDataModelEntry result;
  if (!found.record.inDeletion) {
    result.data = found.record.logEntry.entry;
  }
  return result;
}

bool TcamEntryLog::entryHas(TcamDataModelEntryKey const& key, Zido::UnitId unitId) const {
  QUOR_TRACE(traceHandle, 8, tag, " key: {} unitId:{}", key, unitId);
  auto const found = Pantry::guardedLookup(mountedConfig(unitId).swTableEntries(), key);
  return found.found && !found.record.inDeletion;
}

ZaduLpmLib::TcamDataModelResourceKeys TcamEntryLog::entryRsrcKeys(TcamDataModelEntryKey const& key,
                                                                  Zido::UnitId unitId) const {
  QUOR_TRACE(traceHandle, 8, tag, " key: {} unitId:{}", key, unitId);
  return Pantry::guardedLookup(mountedConfig(unitId).swTableEntries(), key)
      .record.logEntry.rsrcKeys;
}

Zido::LogVersion TcamEntryLog::entryLogVersion(TcamDataModelEntryKey const& key,
                                               Zido::UnitId unitId) const {
  QUOR_TRACE(traceHandle, 8, tag, " key: {} unitId:{}", key, unitId);
  return Pantry::guardedLookup(mountedConfig(unitId).swTableEntries(), key).record.logVersion;
}

std::uint32_t TcamEntryLog::entrysInDeletion(Zido::UnitId unitId) const {
  QUOR_TRACE(traceHandle, 8, tag, " unitId:{}", unitId);
  std::uint32_t inDeletion = 0;
  Pantry::guardedWalk(mountedConfig(unitId).swTableEntries(), configKeyOf,
                      [&](TcamDataModelConfigPantryEntry const& record) {
                        inDeletion += record.inDeletion ? 1 : 0;
                      });
  return inDeletion;
}

std::uint32_t TcamEntryLog::entrys(Zido::UnitId unitId) const {
  QUOR_TRACE(traceHandle, 8, tag, " unitId:{}", unitId);
  auto const records = static_cast<std::uint32_t>(mountedConfig(unitId).swTableEntries().count());
  return records - entrysInDeletion(unitId);
}

}  // namespace ZaduLpm
