#include "ZaduLpm/AdjacencyTable.h"

#include <algorithm>

#include "Pantry/GuardedRead.h"
#include "Quor/TraceHandle.h"
#include "Vesk/Exception.h"
#include "Vesk/TypeBuilder.h"
#include "ZaduLpm/TcamEntryLog.h"
#include "ZaduLpmLib/TcamConstants.h"
#include "Zido/NeededEntry.h"

namespace ZaduLpm {

using ZaduLpmLib::AdjacencyConfigPantry;
using ZaduLpmLib::AdjacencyConfigRecord;
using ZaduLpmLib::AdjacencyConstants;
using ZaduLpmLib::AdjacencyLogPantry;
using ZaduLpmLib::AdjacencyLogRecord;

namespace {

Quor::TraceHandle traceHandle("AdjacencyTable");
constexpr char const* tag = "AdjacencyTable";

Zido::SwTableId const adjacencyTableId{AdjacencyConstants::tableIdValue};

}  // namespace

// The resolver entry of one write or remove of a next hop.
class AdjacencyResolverEntry : public Zido::ResolverEntry {
  HUNKPOOL_CLASS_ALLOCATION(AdjacencyResolverEntry)

 public:
  AdjacencyResolverEntry(AdjacencyTable* table, Vesk::Ptr<AdjacencyTable::EntryHandle> handle,
                         Vesk::Ptr<Zido::DependencyEntryHandle const> dependency,
                         Zido::EntryFlags flags)
      : ResolverEntry(std::move(dependency), flags), table_(table), handle_(std::move(handle)) {}

  bool isResolved() override { return table_->resolved(*this); }
  void commitEntry(Vesk::Ptr<ResolverEntry> const&) override { table_->commit(*this, handle_); }
  Zido::SwTableBase const* orderedTable() const override { return table_; }

 private:
  AdjacencyTable* table_;
  Vesk::Ptr<AdjacencyTable::EntryHandle> handle_;
};

AdjacencyTable::EntryHandle::EntryHandle(Zido::EntryVersion version, AdjacencyTable* table,
                                         Key const& key, std::uint32_t index)
    : OrderedEntryHandle(version, table), key_(key), index_(index) {}

AdjacencyTable::AdjacencyTable(Vesk::Ptr<Centrum::EntityManager> const& entityManager,
                               Vesk::Ptr<Zido::GroupInterface> const& group,
                               Zido::OrderedSwTableSet* set)
    : OrderedSwTable(new Zido::CanonicalTableName(0, ZaduLpmLib::TcamConstants::tableNamespace,
                                                  ZaduLpmLib::TcamConstants::agentName,
                                                  AdjacencyConstants::tableName),
                     adjacencyTableId, 0, set),
      group_(group),
      keyOfIndex_(AdjacencyConstants::capacity + 1, nullptr) {
  statsIs();
  std::string const agentName = ZaduLpmLib::TcamConstants::agentName;
  config_ = checkAndwriteMountPantry<AdjacencyConfigPantry>(
      entityManager, AdjacencyConstants::configTypeName, AdjacencyConstants::configPantryPath(),
      agentName,
      [](QuorPantry::MountInfo& info) {
        info.collectionInfoIs(QuorPantry::CollectionInfo{AdjacencyConstants::configCollectionName,
                                                         AdjacencyConstants::capacity, 0});
      },
      [](Vesk::Ptr<AdjacencyConfigPantry>& pantry) { return pantry->collectionControl(); },
      [] { reportUnloadableItem("adjacencies::Adjacency"); });
  log_ = checkAndwriteMountPantry<AdjacencyLogPantry>(
      entityManager, AdjacencyConstants::logTypeName, AdjacencyConstants::logPantryPath(),
      agentName,
      [](QuorPantry::MountInfo& info) {
        info.collectionInfoIs(QuorPantry::CollectionInfo{AdjacencyConstants::logCollectionName,
                                                         AdjacencyConstants::logCapacity, 0});
      },
      [](Vesk::Ptr<AdjacencyLogPantry>& pantry) { return pantry->collectionControl(); },
      [] { reportUnloadableItem("entryLog::Adjacency"); });
  restore();
  group_->neededEntryLogIs(adjacencyTableId, tableVersion_);
}

AdjacencyTable::~AdjacencyTable() {
  group_->resolver()->resolverQueueDel(this);
}

void AdjacencyTable::restore() {
  ZaduLpmLib::AdjacencyLogRing& ring = changeLog();
  // A writer killed between the change log record and the scratchpad leaves
  // the scratchpad behind: the higher of the two is what the log accounts for.
  Zido::LogVersion logged = ring.scratchpad();
  if (ring.count() != 0) {
    logged = std::max(logged, ring.highKey());
  }
  tableVersion_ = logged;
  ZaduLpmLib::AdjacencyConfigMap& map = config();
  for (auto record = Pantry::guardedFirst(map); record;
       record = Pantry::guardedNextAfter(map, record->key)) {
    if (!record->key.valid() || record->index == 0 ||
        record->index > AdjacencyConstants::capacity || keyOfIndex_[record->index] != nullptr) {
      map.doCorruptionDetected(
          fmt::format("adjacency record {} with index {} skipped", record->key, record->index));
      continue;
    }
    auto const [at, added] = known_.try_emplace(record->key);
    at->second = Known{record->index, 0, record->inDeletion == 0, true, record->logVersion};
    keyOfIndex_[record->index] = &at->first;
    live_ += record->inDeletion == 0 ? 1 : 0;
    tableVersion_ = std::max(tableVersion_, record->logVersion);
  }
  rollForward(logged);
  for (std::uint32_t index = AdjacencyConstants::capacity; index >= 1; --index) {
    if (keyOfIndex_[index] == nullptr) {
      freeIndexes_.push_back(index);
    }
  }
  if (ring.scratchpad() < tableVersion_) {
    ring.scratchpadIs(tableVersion_);
  }
  QUOR_TRACE(traceHandle, 2, tag, " Restored {} next hops ({} live) at version {}", known_.size(),
             live_, tableVersion_);
}

void AdjacencyTable::rollForward(Zido::LogVersion logged) {
  // Configuration records newer than the log: a killed writer wrote them and
  // not their change log records. Log them in version order, as they were.
  std::vector<std::pair<Zido::LogVersion, Key const*>> missing;
  for (auto const& [key, known] : known_) {
    if (known.logVersion > logged) {
      missing.emplace_back(known.logVersion, &key);
    }
  }
  std::sort(missing.begin(), missing.end());
  for (auto const& [version, key] : missing) {
    Known const& known = known_.at(*key);
    AdjacencyLogRecord record;
    record.version = version;
    record.index = known.index;
    record.flags = known.live ? 0 : AdjacencyLogRecord::deletedBit;
    record.key = *key;
    changeLog().insert(record);
    QUOR_TRACE(traceHandle, 1, tag, " Rolled forward version {} of next hop {}", version, *key);
  }
}

Vesk::Ptr<AdjacencyTable::EntryHandle> AdjacencyTable::makeHandle(Key const& key,
                                                                  std::uint32_t index,
                                                                  ResponseHandler handler) {
  Vesk::Ptr<EntryHandle> handle(
      new EntryHandle(Zido::EntryVersion(++nextEntryVersion_, 0), this, key, index));
  handle->responseHandlerIs(std::move(handler));
  return handle;
}

void AdjacencyTable::completeNow(Vesk::Ptr<EntryHandle> const& handle, Zido::LogVersion version,
                                 Zido::EntryState state) {
  handle->logVersionIs(version);
  handle->entryStateIs(state);
  if (handle->responseHandler()) {
    handle->responseHandler()(handle);
  }
}

Vesk::Ptr<AdjacencyTable::EntryHandle> AdjacencyTable::adjacencyWrite(Key const& key,
                                                                      ResponseHandler handler) {
  if (!key.valid()) {
    throw ZaduLpmLib::AdjacencyKeyError(fmt::format("not a next hop: {}", key));
  }
  stats()->entryWriteCntInc(1);
  auto found = known_.find(key);
  if (found == known_.end()) {
    if (freeIndexes_.empty()) {
      QUOR_TRACE(traceHandle, 1, tag, " Adjacency table full ({} next hops): refusing {}",
                 AdjacencyConstants::capacity, key);
      Vesk::Ptr<EntryHandle> const handle = makeHandle(key, 0, std::move(handler));
      completeNow(handle, 0, Zido::EntryState::failed);
      return handle;
    }
    std::uint32_t const index = freeIndexes_.back();
    freeIndexes_.pop_back();
    found = known_.try_emplace(key, Known{index, 0, false, false, 0}).first;
    keyOfIndex_[index] = &found->first;
  }
  Known& known = found->second;
  Vesk::Ptr<EntryHandle> const handle = makeHandle(key, known.index, std::move(handler));
  if (known.live && known.pending == 0) {
    completeNow(handle, known.logVersion, Zido::EntryState::completed);
    return handle;
  }
  ++known.pending;
  ++pendingOperations_;
  group_->resolver()->resolverQueueEnq(
      new AdjacencyResolverEntry(this, handle, nullptr, Zido::EntryFlags::write));
  nudge();
  if (swTableSet() != nullptr) {
    swTableSet()->maybeUpdatePendingHwWrites(*this);
  }
  return handle;
}

Vesk::Ptr<AdjacencyTable::EntryHandle> AdjacencyTable::adjacencyRemove(
    Key const& key, Vesk::Ptr<Zido::DependencyEntryHandle const> const& dependency,
    ResponseHandler handler) {
  if (!key.valid()) {
    throw ZaduLpmLib::AdjacencyKeyError(fmt::format("not a next hop: {}", key));
  }
  stats()->entryRemoveCntInc(1);
  auto const found = known_.find(key);
  if (found == known_.end() || (!found->second.live && found->second.pending == 0)) {
    Vesk::Ptr<EntryHandle> const handle = makeHandle(key, 0, std::move(handler));
    completeNow(handle, 0, Zido::EntryState::completed);
    return handle;
  }
  Known& known = found->second;
  Vesk::Ptr<EntryHandle> const handle = makeHandle(key, known.index, std::move(handler));
  ++known.pending;
  ++pendingOperations_;
  group_->resolver()->resolverQueueEnq(
      new AdjacencyResolverEntry(this, handle, dependency, Zido::EntryFlags::entryDelete));
  nudge();
  if (swTableSet() != nullptr) {
    swTableSet()->maybeUpdatePendingHwWrites(*this);
  }
  return handle;
}

bool AdjacencyTable::resolved(Zido::ResolverEntry const& entry) const {
  if (changeLog().count() >= AdjacencyConstants::logCapacity) {
    QUOR_TRACE(traceHandle, 1, tag, " no space in the adjacency log");
    return false;
  }
  auto const& dependency = entry.dependantEntryHandle();
  return !dependency || dependency->entryState() != Zido::EntryState::pending;
}

void AdjacencyTable::commit(Zido::ResolverEntry const& entry,
                            Vesk::Ptr<EntryHandle> const& handle) {
  Key const& key = handle->key();
  Known& known = known_.at(key);
  --known.pending;
  --pendingOperations_;
  auto const& dependency = entry.dependantEntryHandle();
  if (dependency && Zido::isFailure(dependency->entryState())) {
    QUOR_TRACE(traceHandle, 1, tag, " Failed dependent entry for next hop: {}", key);
    completeNow(handle, 0, Zido::EntryState::dependencyFailed);
    maybeForget(key);
  } else if (entry.isEntryDeleted() && !known.live) {
    completeNow(handle, 0, Zido::EntryState::completed);  // removed meanwhile
    maybeForget(key);
  } else if (!entry.isEntryDeleted() && known.live) {
    completeNow(handle, known.logVersion, Zido::EntryState::completed);  // written meanwhile
  } else {
    bool const deleted = entry.isEntryDeleted();
    Zido::LogVersion version = 0;
    try {
      version = log(key, known, deleted, dependency.get());
    } catch (Vesk::Exception const& error) {
      // Nothing of the change is known to have happened: the operation
      // fails, and the routes that depend on it with it.
      QUOR_TRACE(traceHandle, 1, tag, " Failed to commit next hop {}: {}", key, error.what());
      completeNow(handle, 0, Zido::EntryState::failed);
      maybeForget(key);
      version = 0;
    }
    if (version != 0) {
      known.live = !deleted;
      live_ = deleted ? live_ - 1 : live_ + 1;
      known.logVersion = version;
      known.inConfig = true;
      handle->logVersionIs(version);
      handle->entryStateIs(Zido::EntryState::logged);
      waiting_.push_back(handle);
      stats()->commitCntInc(1);
    }
  }
  nudge();
  if (swTableSet() != nullptr) {
    swTableSet()->maybeUpdatePendingHwWrites(*this);
  }
}

Zido::LogVersion AdjacencyTable::log(Key const& key, Known const& known, bool deleted,
                                     Zido::DependencyEntryHandle const* dependency) {
  Zido::LogVersion const version = ++tableVersion_;
  AdjacencyConfigRecord configRecord;
  configRecord.logVersion = version;
  configRecord.index = known.index;
  configRecord.inDeletion = deleted ? 1 : 0;
  configRecord.key = key;
  config().insert(configRecord);
  AdjacencyLogRecord logRecord;
  logRecord.version = version;
  logRecord.index = known.index;
  logRecord.flags = deleted ? AdjacencyLogRecord::deletedBit : 0;
  logRecord.key = key;
  changeLog().insert(logRecord);
  changeLog().scratchpadIs(version);
  Vesk::Ptr<Zido::NeededEntry> needed(new Zido::NeededEntry);
  if (dependency != nullptr) {
    needed->add(dependency->entryTableVersion());
  }
  group_->addLogEntry(adjacencyTableId, version, needed);
  QUOR_TRACE(traceHandle, 2, tag, " {} next hop {} index {} at version {}",
             deleted ? "Deleted" : "Wrote", key, known.index, version);
  return version;
}

void AdjacencyTable::maybeForget(Key const& key) {
  auto const found = known_.find(key);
  if (found == known_.end()) {
    return;
  }
  Known const& known = found->second;
  if (known.pending != 0 || known.live || known.inConfig) {
    return;
  }
  keyOfIndex_[known.index] = nullptr;
  freeIndexes_.push_back(known.index);
  known_.erase(found);
}

void AdjacencyTable::tableStatusVersion(Zido::LogVersion version) {
  while (!waiting_.empty() && waiting_.front()->logVersion() <= version) {
    Vesk::Ptr<EntryHandle> const handle = std::move(waiting_.front());
    waiting_.pop_front();
    completeNow(handle, handle->logVersion(), Zido::EntryState::completed);
  }
  ZaduLpmLib::AdjacencyLogRing& ring = changeLog();
  while (ring.count() != 0 && ring.lowKey() <= version) {
    Zido::LogVersion const low = ring.lowKey();
    auto const logged = Pantry::guardedLookup(ring, low);
    AdjacencyLogRecord const& record = logged.record;
    if (logged.found && record.deleted()) {
      // The hardware side has taken the delete: the record in deletion goes,
      // and its index is free once nothing else holds it.
      auto const held = Pantry::guardedLookup(config(), record.key);
      if (held.found && held.record.inDeletion != 0 && held.record.logVersion == record.version) {
        config().del(record.key);
        if (auto const found = known_.find(record.key); found != known_.end()) {
          found->second.inConfig = false;
          maybeForget(record.key);
        }
      }
    }
    ring.del(low);
  }
  tableVersion_ = std::max(tableVersion_, version);
  nudge();
}

bool AdjacencyTable::hasPendingHwWrites() const {
  return pendingOperations_ != 0 || !waiting_.empty();
}

std::uint32_t AdjacencyTable::indexOf(Key const& key) const {
  auto const found = known_.find(key);
  return found == known_.end() ? 0 : found->second.index;
}

std::optional<AdjacencyTable::Key> AdjacencyTable::nextHop(std::uint32_t index) const {
  if (index == 0 || index >= keyOfIndex_.size() || keyOfIndex_[index] == nullptr) {
    return std::nullopt;
  }
  return *keyOfIndex_[index];
}

void AdjacencyTable::nudge() {
  group_->resolver()->updateGenId();
}

Vesk::TypeData const& AdjacencyTable::EntryHandle::staticTypeData() {
  static Vesk::TypeData const& type =
      Vesk::TypeBuilder<EntryHandle>("ZaduLpm::AdjacencyTable::EntryHandle",
                                     &Zido::OrderedEntryHandle::staticTypeData())
          .attribute("index", &EntryHandle::index)
          .done();
  return type;
}

Vesk::TypeData const& AdjacencyTable::staticTypeData() {
  static Vesk::TypeData const& type =
      Vesk::TypeBuilder<AdjacencyTable>("ZaduLpm::AdjacencyTable",
                                        &Zido::OrderedSwTable::staticTypeData())
          .attribute("tableVersion", &AdjacencyTable::tableVersion)
          .attribute("live", &AdjacencyTable::live)
          .attribute("indexesHeld", &AdjacencyTable::indexesHeld)
          .done();
  return type;
}

namespace {
[[maybe_unused]] Vesk::TypeData const& registeredTable = AdjacencyTable::staticTypeData();
[[maybe_unused]] Vesk::TypeData const& registeredHandle =
    AdjacencyTable::EntryHandle::staticTypeData();
}  // namespace

}  // namespace ZaduLpm
