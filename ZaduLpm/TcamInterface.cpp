#include "ZaduLpm/TcamInterface.h"

#include "Quor/Log.h"
#include "Quor/TraceHandle.h"
#include "QuorSharedMem/EntityManager.h"
#include "Rapidlog/RapidlogHandle.h"
#include "Zido/Constants.h"

namespace ZaduLpm {

namespace {

Quor::TraceHandle traceHandle("TcamInterface");
constexpr char const* tag = "TcamInterface";

Rapidlog::MessageDescriptor const clearingRecord{"TcamInterface", "TcamInterface", "makeSwTable",
                                                 " Clearing entries for table: Tcam, unitId: {}",
                                                 "s"};
Rapidlog::MessageDescriptor const restoredRecord{"TcamInterface", "TcamInterface", "makeSwTable",
                                                 " Restored {} entries for table: Tcam, unitId: {}",
                                                 "is"};

QUOR_LOG_DESCRIPTOR(skippedDescriptor, "TCAM_CONFIG_ENTITY_SKIPPED",
                    "Skipping %s, found under the TCAM configuration path: %s",
                    "A file under the TCAM table's configuration path is not a configuration "
                    "table of this table; reconcile leaves it alone",
                    "Remove the file if nothing else owns it", 4);
Quor::LogHandle skippedLog(skippedDescriptor, Quor::LogHandle::Seconds(0), 1.0, 0, 0);

}  // namespace

Vesk::Ptr<TcamInterface> TcamInterface::getIntf(
    Vesk::Ptr<Zido::OrderedTableInterface> const& ordTblIntf) {
  Vesk::Ptr<Zido::SwTableInterfacesSingleton> const singleton =
      Zido::SwTableInterfacesSingleton::instance();
  if (singleton->swTableIntfHas(registrationKey)) {
    return Vesk::staticPtrCast<TcamInterface>(singleton->swTableIntf(registrationKey));
  }
  return Vesk::Ptr<TcamInterface>(new TcamInterface(ordTblIntf));
}

TcamInterface::TcamInterface(Vesk::Ptr<Zido::OrderedTableInterface> const& orderedTableIntf)
    : TableInterfaceBase(orderedTableIntf),
      tableName_(ZaduLpmLib::TcamConstants::tableName),
      groupName_(ZaduLpmLib::TcamConstants::groupName),
      agentName_(ZaduLpmLib::TcamConstants::agentName),
      tableNamespace_(ZaduLpmLib::TcamConstants::tableNamespace) {
  handleInitialized();
}

TcamInterface::~TcamInterface() {
  onDelete();
  // The group interface holds the set, whose tables hold the entry log, which
  // holds the group interface: withdrawing the set ends that cycle, so the
  // tables and the log go with the interface and their mounts are released.
  if (Vesk::Ptr<Zido::GroupInterface> const groupIntf = groupInterface();
      groupIntf && swTableSet_ && groupIntf->swTableSet(tableId()) == swTableSet_) {
    groupIntf->swTableSetDel(tableId());
  }
  entryLog_ = nullptr;
  swTableStatus_ = nullptr;
  swTableSet_ = nullptr;
}

void TcamInterface::handleInitialized() {
  Vesk::Ptr<Zido::SwTableInterfacesSingleton> const singleton =
      Zido::SwTableInterfacesSingleton::instance();
  QUOR_ASSERT_TEXT_MSG(!singleton->swTableIntfHas(registrationKey),
                       "!singleton->swTableIntfHas( \"ZaduLpm::TcamInterface\" )",
                       "Interface already created");
  orderedTableIntf()->makeGroupIntf(agentName_, groupName_, tableId().agentAndGroupId());
  Vesk::Ptr<Zido::GroupInterface> const groupIntf = groupInterface();
  QUOR_ASSERT(groupIntf);
  QUOR_TRACE(traceHandle, 3, tag, " Creating entry log for {}", tableId());
  entryLogIs(tableId(), orderedTableIntf()->entityManager(), groupIntf, agentName_);
  swTableStatusIs(tableId());
  if (std::optional<Zido::LogVersion> const version = hardwareTableVersion(*groupIntf)) {
    entryLog_->cleanupEntryLog(*version);
    QUOR_TRACE(traceHandle, 3, tag, " Cleaned entry log until table version: {}", *version);
    if (entryLog_->tableVersion() > *version) {
      QUOR_TRACE(traceHandle, 2, tag, " Turning ON pendingHwWrites");
      swTableStatus_->pendingHwWritesIs(true);
    }
    // A change log remade after it was lost restarts below what the hardware
    // took: new versions must lie above it, or the hardware side would skip
    // them and their handlers complete at once.
    entryLog_->tableVersionAtLeast(*version);
  }
  QUOR_TRACE(traceHandle, 2, tag, " Entry log created for table id: {} at version: {}", tableId(),
             entryLog_->tableVersion());
  // The needs of routes (the next hops they point at) go to shared memory
  // for the hardware side; every version logged so far is final.
  groupIntf->neededEntryLogIs(tableId(), entryLog_->tableVersion());
  swTableSetIs(tableId(), swTableStatus_);
  groupIntf->swTableSetIs(swTableSet_);
  orderedTableIntf()->swTableIntfIs(registrationKey, this);
  singleton->swTableIntfIs(registrationKey, Vesk::Ptr<TcamInterface>(this));
}

Vesk::Ptr<TcamSwTable> TcamInterface::swTable(Zido::UnitId unitId) const {
  if (!swTableSet_) {
    return nullptr;
  }
  return Vesk::dynamicPtrCast<TcamSwTable>(swTableSet_->swTable(unitId));
}

void TcamInterface::onDelete() {
  QUOR_TRACE(traceHandle, 2, tag, " onDelete ");
  orderedTableIntf()->swTableIntfDel(registrationKey);
}

Vesk::Ptr<Zido::GroupInterface> TcamInterface::groupInterface() const {
  return orderedTableIntf()->groupInterfaceColl()->groupIntf(
      Zido::Constants::canonicalizeGroupName(agentName_, groupName_));
}

std::optional<Zido::LogVersion> TcamInterface::hardwareTableVersion(
    Zido::GroupInterface& group) const {
  Zido::GroupInterface::Published const published = group.publishedVersion(tableId());
  if (!published.present) {
    return std::nullopt;  // the hardware side has published nothing yet
  }
  return published.readable ? published.version : Zido::TableVersion().version;
}

Vesk::Ptr<TcamSwTable> TcamInterface::makeSwTable(
    Zido::UnitId unitId, Vesk::Ptr<TcamSwTableHelperBase> const& swTableHelper, bool reset) {
  QUOR_TRACE(traceHandle, 8, tag, "unitId: {}", unitId);
  Vesk::Ptr<Zido::GroupInterface> const groupIntf = groupInterface();
  QUOR_ASSERT(groupIntf);
  QUOR_ASSERT_TEXT(groupIntf->swTableSetHas(tableId()), "groupIntf->swTableSetHas( tableId() )");
  if (swTableSet_->swTableHas(unitId)) {
    QUOR_TRACE(traceHandle, 3, tag, "swTable with unitId: {} exists", unitId);
    Vesk::Ptr<TcamSwTable> const existingTbl =
        Vesk::dynamicPtrCast<TcamSwTable>(swTableSet_->swTable(unitId));
    QUOR_ASSERT(existingTbl);
    if (swTableHelper) {
      QUOR_TRACE(traceHandle, 2, tag, "Update software table helper");
      existingTbl->swTableHelperIs(swTableHelper);
    }
    if (reset) {
      QUOR_TRACE(traceHandle, 2, tag, " Clearing entries for table id: {}", tableId());
      existingTbl->clearTable(false);
    }
    return existingTbl;
  }

  Zido::LogVersion const version = hardwareTableVersion(*groupIntf).value_or(0);
  Vesk::Ptr<TcamSwTable> const table =
      makeUnitSwTable(new Zido::CanonicalTableName(0, groupName_, tableNamespace_, tableName_),
                      unitId, *swTableSet_, entryLog_, groupIntf->resolver(), version);
  if (swTableHelper) {
    table->swTableHelperIs(swTableHelper);
  }
  table->statusIs(swTableStatus_);
  Rapidlog::RapidlogHandle* const rapidlog = Rapidlog::defaultRapidlogHandle();
  if (reset) {
    if (rapidlog != nullptr) {
      rapidlog->record(clearingRecord, std::uint16_t{unitId});
    }
    QUOR_TRACE(traceHandle, 2, tag, " Clearing entries for table: Tcam, unitId: {}", unitId);
    table->clearTable(false);
  } else {
    table->restoreEntries();
    if (rapidlog != nullptr) {
      rapidlog->record(restoredRecord, std::uint32_t{table->entrys()}, std::uint16_t{unitId});
    }
    QUOR_TRACE(traceHandle, 2, tag, " Restored {} entries for table: Tcam, unitId: {}",
               table->entrys(), unitId);
  }
  swTableSet_->swTableIs(table);
  table->tableStatusVersion(version);
  return table;
}

void TcamInterface::reconcile() {
  QUOR_TRACE(traceHandle, 8, tag, "");
  Vesk::Ptr<Centrum::EntityManager> const& central = orderedTableIntf()->entityManager();
  Vesk::Ptr<QuorSharedMem::EntityManager> const sharedMemory =
      QuorSharedMem::EntityManager::getEntityManager(central->name(), central->local());
  std::string const pathBase = Zido::Constants::canonicalGroupTableConfigPantryPathBase(
      Zido::Constants::canonicalizeGroupName(agentName_, groupName_), tableNamespace_, tableName_);
  Vesk::Ptr<QuorSharedMem::ShmemEntities> const found =
      sharedMemory->findEntities(pathBase, QuorSharedMem::pantryType);
  QUOR_TRACE(traceHandle, 3, tag, " No. of config entities found: {}, in pantry path: {}",
             found->countSize(), pathBase);
  for (auto const& [path, typeName] : found->members()) {
    if (typeName != ZaduLpmLib::TcamDataModelConfigPantry::typeName) {
      Quor::log(skippedLog, path,
                typeName.empty() ? std::string("not a segment of this layout version")
                                 : "an entity of type " + typeName);
      continue;
    }
    Zido::UnitId unitId;
    try {
      unitId = Zido::Constants::getUnitIdFromConfigPath(path);
    } catch (Vesk::Exception const& error) {
      Quor::log(skippedLog, path, std::string(error.what()));
      continue;
    }
    if (swTableSet_->swTableHas(unitId)) {
      continue;
    }
    QUOR_TRACE(traceHandle, 3, tag, " Found inactive unit id: {} ", unitId);
    makeSwTable(unitId, nullptr, true);
  }
}

void TcamInterface::stringIs(Vesk::String& field, Vesk::String const& value,
                             char const* attribute) {
  if (field == value) {
    return;
  }
  field = value;
  publisher().publish(*this, attribute);
}

Vesk::Ptr<TcamEntryLog> TcamInterface::entryLogIs(
    Zido::SwTableId tableId, Vesk::Ptr<Centrum::EntityManager> const& entityManager,
    Vesk::Ptr<Zido::GroupInterface> const& groupInterface, Vesk::String const& agentName) {
  if (entryLog_ && entryLog_->tableId() == tableId && entryLog_->entityManager() == entityManager &&
      entryLog_->groupInterface() == groupInterface && entryLog_->agentName() == agentName) {
    return entryLog_;
  }
  entryLog_ =
      Vesk::Ptr<TcamEntryLog>(new TcamEntryLog(tableId, entityManager, groupInterface, agentName));
  publisher().publish(*this, "entryLog");
  return entryLog_;
}

Vesk::Ptr<TcamEntryLog> TcamInterface::entryLogDel() {
  Vesk::Ptr<TcamEntryLog> previous = std::move(entryLog_);
  entryLog_ = nullptr;
  if (previous) {
    publisher().publish(*this, "entryLog");
  }
  return previous;
}

Vesk::Ptr<Zido::OrderedSwTableStatus> TcamInterface::swTableStatusIs(Zido::SwTableId tableId) {
  if (swTableStatus_ && swTableStatus_->tableId() == tableId) {
    return swTableStatus_;
  }
  swTableStatus_ = Vesk::Ptr<Zido::OrderedSwTableStatus>(new Zido::OrderedSwTableStatus(tableId));
  publisher().publish(*this, "swTableStatus");
  return swTableStatus_;
}

Vesk::Ptr<Zido::OrderedSwTableStatus> TcamInterface::swTableStatusDel() {
  Vesk::Ptr<Zido::OrderedSwTableStatus> previous = std::move(swTableStatus_);
  swTableStatus_ = nullptr;
  if (previous) {
    publisher().publish(*this, "swTableStatus");
  }
  return previous;
}

Vesk::Ptr<Zido::OrderedSwTableSet> TcamInterface::swTableSetIs(
    Zido::SwTableId tableId, Vesk::Ptr<Zido::OrderedSwTableStatus> const& swTableStatus) {
  if (swTableSet_ && swTableSet_->tableId() == tableId && swTableSet_->status() == swTableStatus) {
    return swTableSet_;
  }
  swTableSet_ =
      Vesk::Ptr<Zido::OrderedSwTableSet>(new Zido::OrderedSwTableSet(tableId, swTableStatus));
  publisher().publish(*this, "swTableSet");
  return swTableSet_;
}

Vesk::Ptr<Zido::OrderedSwTableSet> TcamInterface::swTableSetDel() {
  Vesk::Ptr<Zido::OrderedSwTableSet> previous = std::move(swTableSet_);
  swTableSet_ = nullptr;
  if (previous) {
    publisher().publish(*this, "swTableSet");
  }
  return previous;
}

}  // namespace ZaduLpm
