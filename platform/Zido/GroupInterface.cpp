#include "Zido/GroupInterface.h"

#include <absl/container/inlined_vector.h>

#include <fmt/format.h>

#include <filesystem>

#include "Quor/Assert.h"
#include "Quor/Log.h"
#include "QuorSharedMem/EntityManager.h"
#include "Vesk/Exception.h"
#include "Vesk/TypeBuilder.h"
#include "Zido/Constants.h"

namespace Zido {

namespace {

[[maybe_unused]] bool const pantryTypeRegistered = [] {
  QuorPantry::registerCollectionEntity<TableVersionMap>(GroupInterface::tableVersionPantryType);
  return true;
}();

QUOR_LOG_DESCRIPTOR(neededEntriesDroppedDescriptor, "NEEDED_ENTRIES_DROPPED",
                    "Needed entries of table %s not recorded: %s",
                    "The shared-memory record of what a table's changes need of other tables is "
                    "full; the hardware side orders the changes by its own checks",
                    "Check that the hardware side is taking the table's versions", 3);
Quor::LogHandle neededEntriesDroppedLog(neededEntriesDroppedDescriptor, Quor::LogHandle::Seconds(1),
                                        1.0, 0, 0);

QuorPantry::MountInfo tableVersionMountInfo(std::uint32_t pantryType) {
  QuorPantry::MountInfo info(pantryType);
  info.collectionInfoIs(
      QuorPantry::CollectionInfo{"tableVersion", GroupInterface::tableVersionCapacity, 0});
  return info;
}

}  // namespace

GroupInterface::GroupInterface(std::string agentName, std::string groupName,
                               std::uint16_t agentAndGroupId,
                               Vesk::Ptr<Centrum::EntityManager> entityManager,
                               Quor::EventLoop* loop)
    : agentName_(std::move(agentName)),
      groupName_(std::move(groupName)),
      agentAndGroupId_(agentAndGroupId),
      entityManager_(std::move(entityManager)),
      loop_(loop),
      resolver_(new GroupResolver(loop)) {}

GroupInterface::~GroupInterface() {
  if (Quor::EventLoop* const loop = loop_.get(); loop != nullptr && pollTimer_ != 0) {
    loop->timerDel(pollTimer_);
  }
}

std::string GroupInterface::canonicalName() const {
  return Constants::canonicalizeGroupName(agentName_, groupName_);
}

Vesk::Ptr<OrderedSwTableSet> GroupInterface::swTableSet(SwTableId tableId) const {
  auto const found = swTableSets_.find(tableId.value());
  return found == swTableSets_.end() ? nullptr : found->second;
}

void GroupInterface::swTableSetIs(Vesk::Ptr<OrderedSwTableSet> const& set) {
  Vesk::Ptr<OrderedSwTableSet>& held = swTableSets_[set->tableId().value()];
  if (held == set) {
    return;
  }
  held = set;
  publisher().publishKey(*this, "swTableSet", set->tableId().value());
  schedulePoll(true);
}

Vesk::Ptr<OrderedSwTableSet> GroupInterface::swTableSetDel(SwTableId tableId) {
  auto const found = swTableSets_.find(tableId.value());
  if (found == swTableSets_.end()) {
    return nullptr;
  }
  Vesk::Ptr<OrderedSwTableSet> removed = std::move(found->second);
  swTableSets_.erase(found);
  publisher().publishKey(*this, "swTableSet", tableId.value());
  return removed;
}

namespace {

// The running maximum `highest` raised by `needed`; false when nothing grew
// (the common case, found without copying the record).
bool grow(NeededEntryRecord const& highest, NeededEntry const& needed, NeededEntryRecord& grown) {
  auto const slotOf = [](NeededEntryRecord const& record, std::uint32_t tableIdValue) {
    std::uint32_t slot = 0;
    while (slot < record.count && record.needed[slot].tableIdValue != tableIdValue) {
      ++slot;
    }
    return slot;
  };
  bool grew = false;
  for (TableVersion const& each : needed.tableVersions()) {
    std::uint32_t const slot = slotOf(highest, each.tableIdValue);
    grew = grew || slot == highest.count || each.version > highest.needed[slot].version;
  }
  if (!grew) {
    return false;
  }
  grown = highest;
  for (TableVersion const& each : needed.tableVersions()) {
    std::uint32_t const slot = slotOf(grown, each.tableIdValue);
    if (slot == grown.count) {
      if (grown.count == NeededEntryRecord::maxTables) {
        throw Pantry::CollectionFullError(
            fmt::format("needs of more than {} tables", NeededEntryRecord::maxTables));
      }
      grown.needed[grown.count++] = TableVersion(each.tableId(), 0);
    }
    grown.needed[slot].version = std::max(grown.needed[slot].version, each.version);
  }
  return true;
}

}  // namespace

void GroupInterface::addLogEntry(SwTableId tableId, LogVersion version,
                                 Vesk::Ptr<NeededEntry const> const& neededEntry) {
  lastLogVersions_[tableId.value()] = version;
  NeededLog* const log = neededLogOf(tableId.value());
  if (log == nullptr) {
    return;
  }
  NeededEntryRing& ring = log->pantry->collection();
  if (neededEntry && !neededEntry->empty()) {
    // The change is logged already: a need that cannot be recorded is
    // reported and dropped, never raised into the commit.
    try {
      NeededEntryRecord grown;
      if (grow(log->highest, *neededEntry, grown)) {
        grown.sequence = log->highest.sequence + 1;
        grown.version = version;
        grown.tableIdValue = tableId.value();
        ring.insert(grown);
        log->highest = grown;
      }
    } catch (Pantry::CollectionFullError const& error) {
      Quor::log(neededEntriesDroppedLog, fmt::format("{}", tableId), error.what());
    }
  }
  ring.scratchpadIs(version);
}

GroupInterface::NeededLog* GroupInterface::neededLogOf(std::uint32_t tableIdValue) {
  for (NeededLog& log : neededLogs_) {
    if (log.tableIdValue == tableIdValue) {
      return &log;
    }
  }
  return nullptr;
}

void GroupInterface::neededEntryLogIs(SwTableId tableId, LogVersion tableVersion) {
  NeededLog* log = neededLogOf(tableId.value());
  if (log == nullptr) {
    auto manager = entityManager_->sharedMemory();
    std::string const path = Constants::neededEntryPantryPath(canonicalName(), tableId);
    auto group = manager->getMountGroup();
    QuorPantry::MountInfo info(QuorPantry::MountInfo::writer);
    info.collectionInfoIs(QuorPantry::CollectionInfo{NeededEntryLogFormat::collectionName,
                                                     NeededEntryLogFormat::capacity, 0});
    group->mount(path, NeededEntryLogFormat::typeName, info);
    group->doClose();
    auto pantry = Vesk::dynamicPtrCast<NeededEntryPantry>(manager->getEntity(path));
    QUOR_ASSERT_MSG(pantry, "the mount yields no needed-entry log");
    NeededEntryRecord highest;
    NeededEntryRing& ring = pantry->collection();
    if (ring.count() != 0) {
      try {
        highest = ring.lookup(ring.highKey()).record;
      } catch (Vesk::CorruptionDetectedException const& error) {
        // The needs start afresh from here; the sequence goes on after the
        // newest record, which a hardware side may have adopted.
        ring.doCorruptionDetected(error.msg());
        highest = NeededEntryRecord{};
        highest.sequence = ring.highKey();
      }
    }
    log = &neededLogs_.emplace_back(NeededLog{tableId.value(), std::move(pantry), highest});
  }
  NeededEntryRing& ring = log->pantry->collection();
  if (ring.scratchpad() < tableVersion) {
    ring.scratchpadIs(tableVersion);
  }
}

Vesk::Ptr<NeededEntryPantry> GroupInterface::neededEntryLog(SwTableId tableId) const {
  for (NeededLog const& log : neededLogs_) {
    if (log.tableIdValue == tableId.value()) {
      return log.pantry;
    }
  }
  return nullptr;
}

void GroupInterface::cleanupNeededEntries(SwTableId tableId, LogVersion version) {
  NeededLog* const log = neededLogOf(tableId.value());
  if (log == nullptr) {
    return;
  }
  // The newest record stays: it carries the sequence and the running
  // maximum to the next agent.
  NeededEntryRing& ring = log->pantry->collection();
  while (ring.count() > 1) {
    auto const lowest = ring.lookup(ring.lowKey());
    if (lowest.found && lowest.record.version > version) {
      break;
    }
    ring.del(ring.lowKey());
  }
}

LogVersion GroupInterface::lastLogVersion(SwTableId tableId) const {
  auto const found = lastLogVersions_.find(tableId.value());
  return found == lastLogVersions_.end() ? 0 : found->second;
}

Vesk::Ptr<TableVersionPantry> GroupInterface::tableVersionPantry() {
  if (!tableVersions_) {
    auto manager = entityManager_->sharedMemory();
    std::string const path = Constants::tableVersionPantryPath(canonicalName());
    if (!std::filesystem::exists(manager->filePathOf(path))) {
      return nullptr;
    }
    auto group = manager->getMountGroup();
    group->mount(path, tableVersionPantryType,
                 tableVersionMountInfo(QuorPantry::MountInfo::reader));
    group->doClose();
    tableVersions_ = Vesk::dynamicPtrCast<TableVersionPantry>(manager->getEntity(path));
  }
  return tableVersions_;
}

LogVersion GroupInterface::deliveredVersion(SwTableId tableId) const {
  auto const found = deliveredVersions_.find(tableId.value());
  return found == deliveredVersions_.end() ? 0 : found->second;
}

GroupInterface::Published GroupInterface::publishedVersion(SwTableId tableId) {
  Published published;
  Vesk::Ptr<TableVersionPantry> pantry;
  try {
    pantry = tableVersionPantry();
  } catch (Vesk::Exception const&) {
    return published;  // not a valid segment yet: the hardware side is creating it
  }
  if (!pantry) {
    return published;
  }
  TableVersionMap& versions = pantry->collection();
  try {
    published.present = versions.has(tableId.value());
  } catch (Vesk::CorruptionDetectedException const& error) {
    versions.doCorruptionDetected(error.msg());
    return published;
  }
  if (!published.present) {
    return published;
  }
  try {
    published.version = versions.lookup(tableId.value()).record.version;
    published.readable = true;
  } catch (Vesk::CorruptionDetectedException const& error) {
    versions.doCorruptionDetected(error.msg());
  }
  return published;
}

bool GroupInterface::pollTableVersions() {
  bool delivered = false;
  // A copy: a table's handlers may withdraw sets. Inline for the few sets a
  // group has, so that the poll allocates nothing.
  absl::InlinedVector<std::pair<std::uint32_t, Vesk::Ptr<OrderedSwTableSet>>, 4> const sets(
      swTableSets_.begin(), swTableSets_.end());
  for (auto const& [tableId, set] : sets) {
    Published const published = publishedVersion(SwTableId(tableId));
    if (!published.readable || published.version == deliveredVersion(SwTableId(tableId))) {
      continue;
    }
    deliveredVersions_[tableId] = published.version;
    cleanupNeededEntries(SwTableId(tableId), published.version);
    set->tableStatusVersion(published.version);
    delivered = true;
  }
  if (delivered) {
    resolver_->updateGenId();
  }
  return delivered;
}

void GroupInterface::schedulePoll(bool busy) {
  Quor::EventLoop* const loop = loop_.get();
  if (loop == nullptr || pollTimer_ != 0) {
    return;
  }
  pollTimer_ = loop->timerIs(busy ? Quor::EventLoop::Clock::duration(statusPollInterval)
                                  : Quor::EventLoop::Clock::duration(idlePollInterval),
                             [this] {
                               pollTimer_ = 0;
                               bool pending = pollTableVersions();
                               for (auto const& [tableId, set] : swTableSets_) {
                                 pending =
                                     pending || (set->status() && set->status()->pendingHwWrites());
                               }
                               schedulePoll(pending);
                             });
}

Vesk::TypeData const& GroupInterface::staticTypeData() {
  static Vesk::TypeData const& type =
      Vesk::TypeBuilder<GroupInterface>("Zido::GroupInterface", &Quor::Entity::staticTypeData())
          .attribute("agentName", &GroupInterface::agentName)
          .attribute("groupName", &GroupInterface::groupName)
          .attribute("agentAndGroupId", &GroupInterface::agentAndGroupId)
          .attribute("resolver", &GroupInterface::resolver)
          .operation("pollTableVersions", &GroupInterface::pollTableVersions)
          .done();
  return type;
}

TableVersionPublisher::TableVersionPublisher(Centrum::EntityManager const& entityManager,
                                             std::string const& canonicalGroupName) {
  auto manager = entityManager.sharedMemory();
  std::string const path = Constants::tableVersionPantryPath(canonicalGroupName);
  auto group = manager->getMountGroup();
  group->mount(path, GroupInterface::tableVersionPantryType,
               tableVersionMountInfo(QuorPantry::MountInfo::writer));
  group->doClose();
  pantry_ = Vesk::dynamicPtrCast<TableVersionPantry>(manager->getEntity(path));
}

void TableVersionPublisher::publish(SwTableId tableId, LogVersion version) {
  pantry_->collection().insert(TableVersion(tableId, version));
}

namespace {
[[maybe_unused]] Vesk::TypeData const& registered = GroupInterface::staticTypeData();
}  // namespace

}  // namespace Zido
