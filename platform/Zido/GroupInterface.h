// Zido::GroupInterface: the framework's view of one group of tables of an
// agent: its resolver, its table sets by table id, the log versions its
// tables report, and the table versions the hardware side publishes.
//
// Hardware progress. The hardware side publishes, per table id, the log
// version it has taken, in the group's shared-memory collection of
// TableVersion records (path Constants::tableVersionPantryPath, written by
// the hardware side through a TableVersionPublisher, mounted read-only here).
// With an event loop, the group polls that collection on a timer: every
// statusPollInterval while a set has hardware writes pending or the last
// poll delivered something, every idlePollInterval otherwise. When the
// version of a table id that has a table set
// changes, it calls the set's tableStatusVersion (every table of the set,
// then maybeUpdatePendingHwWrites), tells the resolver (updateGenId,
// maybeUpdateSuspend). A poll costs one lookup per table set; a timer rather
// than a wake-up descriptor keeps the two processes independent: either may
// restart without the other noticing. The collection may not exist yet (the
// hardware side has not started): the mount is retried at every poll.
//
// Needed entries. A table that registers its needed-entry log
// (neededEntryLogIs) has the needed entries of its log writes recorded in
// shared memory for hardware sides (NeededEntryLog.h gives the format); the
// group removes the records its hardware side has taken when it delivers
// the table's version. Other tables' needed entries are not kept.
//
// Thread safety: the agent's thread.
#pragma once

#include <absl/container/inlined_vector.h>

#include <chrono>
#include <map>
#include <string>

#include "Centrum/EntityManager.h"
#include "Hunkpool/Pool.h"
#include "Pantry/PantryMap.h"
#include "Quor/Entity.h"
#include "Quor/EventLoop.h"
#include "QuorPantry/PantryEntity.h"
#include "Zido/GroupResolver.h"
#include "Zido/NeededEntry.h"
#include "Zido/NeededEntryLog.h"
#include "Zido/OrderedSwTableSet.h"
#include "Zido/TableVersion.h"

namespace Zido {

using TableVersionMap = Pantry::PantryMap<TableVersion, TableVersionKeyOf>;
using TableVersionPantry = QuorPantry::CollectionEntity<TableVersionMap>;

class GroupInterface : public Quor::Entity {
  HUNKPOOL_CLASS_ALLOCATION(GroupInterface)

 public:
  static constexpr char const* tableVersionPantryType = "Zido::TableVersionPantry";
  static constexpr std::uint64_t tableVersionCapacity = 1024;
  // Short enough that handlers run soon after the hardware side publishes
  // (every operation waits for it, and the objects of the operations in
  // flight fall out of the cache while they wait); a poll costs one lookup
  // per table set and no allocation. The loop's waits round up to whole
  // milliseconds, so an agent with nothing else to do still polls only
  // about once a millisecond.
  static constexpr auto statusPollInterval = std::chrono::microseconds(200);
  static constexpr auto idlePollInterval = std::chrono::milliseconds(20);

  // `loop` may be null (no resolver passes and no polling are scheduled);
  // the group may outlive it, and then schedules nothing more.
  GroupInterface(std::string agentName, std::string groupName, std::uint16_t agentAndGroupId,
                 Vesk::Ptr<Centrum::EntityManager> entityManager, Quor::EventLoop* loop);
  ~GroupInterface() override;

  std::string const& agentName() const noexcept { return agentName_; }
  std::string const& groupName() const noexcept { return groupName_; }
  std::string canonicalName() const;
  std::uint16_t agentAndGroupId() const noexcept { return agentAndGroupId_; }
  Vesk::Ptr<GroupResolver> const& resolver() const noexcept { return resolver_; }

  Vesk::Ptr<OrderedSwTableSet> swTableSet(SwTableId tableId) const;
  bool swTableSetHas(SwTableId tableId) const { return swTableSets_.contains(tableId.value()); }
  // Holds `set` under its table id.
  void swTableSetIs(Vesk::Ptr<OrderedSwTableSet> const& set);
  // Withdraws the set of `tableId` (its owner goes away); returns it.
  Vesk::Ptr<OrderedSwTableSet> swTableSetDel(SwTableId tableId);

  // A table's log now holds `version`, which needs `neededEntry`: recorded
  // in the table's needed-entry log when it has one. Costs a compare and a
  // store; a record only when the needs grow.
  void addLogEntry(SwTableId tableId, LogVersion version,
                   Vesk::Ptr<NeededEntry const> const& neededEntry);
  // Mounts the needed-entry log of `tableId` as its writer (a mount error
  // propagates) and marks the needs of every version up to `tableVersion`,
  // the table's last version, final. Call once the table's own log is
  // mounted; again later is harmless.
  void neededEntryLogIs(SwTableId tableId, LogVersion tableVersion);
  // The table's needed-entry log, or null.
  Vesk::Ptr<NeededEntryPantry> neededEntryLog(SwTableId tableId) const;
  // The last version addLogEntry reported for the table id; 0 when none.
  LogVersion lastLogVersion(SwTableId tableId) const;

  // The hardware side's collection of table versions; null while it does not
  // exist. Lookups in it may raise Vesk::CorruptionDetectedException.
  Vesk::Ptr<TableVersionPantry> tableVersionPantry();
  // What the hardware side has published for a table id. `present` is false
  // when it has published nothing readable (no collection yet, a collection
  // still being made, no record, or a presence test that failed its check);
  // `readable` is false when the record exists but failed its check. Checks
  // that fail are reported to the collection.
  struct Published {
    bool present = false;
    bool readable = false;
    LogVersion version = 0;
  };
  // The one reader of the published versions: the poll below and a table
  // interface catching up at start both read through it.
  Published publishedVersion(SwTableId tableId);
  // Polls the published table versions and delivers changed ones; returns
  // whether it delivered any.
  bool pollTableVersions();
  // The version last delivered to the table id's set; 0 when none.
  LogVersion deliveredVersion(SwTableId tableId) const;

  Vesk::TypeData const& typeData() const override { return staticTypeData(); }
  static Vesk::TypeData const& staticTypeData();

 private:
  void schedulePoll(bool busy);
  // Removes the needed-entry records of `tableId` at or below `version`.
  void cleanupNeededEntries(SwTableId tableId, LogVersion version);

  struct NeededLog {
    std::uint32_t tableIdValue;
    Vesk::Ptr<NeededEntryPantry> pantry;
    NeededEntryRecord highest;  // the needs recorded last (the running maximum)
  };
  NeededLog* neededLogOf(std::uint32_t tableIdValue);

  std::string agentName_;
  std::string groupName_;
  std::uint16_t agentAndGroupId_;
  Vesk::Ptr<Centrum::EntityManager> entityManager_;
  Quor::EventLoop::Ref loop_;
  Vesk::Ptr<GroupResolver> resolver_;
  std::map<std::uint32_t, Vesk::Ptr<OrderedSwTableSet>> swTableSets_;
  std::map<std::uint32_t, LogVersion> lastLogVersions_;
  std::map<std::uint32_t, LogVersion> deliveredVersions_;
  Vesk::Ptr<TableVersionPantry> tableVersions_;
  absl::InlinedVector<NeededLog, 2> neededLogs_;
  Quor::EventLoop::TimerId pollTimer_ = 0;
};

// The hardware side's end: mounts the group's collection of table versions as
// its writer and publishes the version it has taken of a table id.
class TableVersionPublisher : public Quor::Entity {
  HUNKPOOL_CLASS_ALLOCATION(TableVersionPublisher)

 public:
  TableVersionPublisher(Centrum::EntityManager const& entityManager,
                        std::string const& canonicalGroupName);

  void publish(SwTableId tableId, LogVersion version);
  Vesk::Ptr<TableVersionPantry> const& pantry() const noexcept { return pantry_; }

 private:
  Vesk::Ptr<TableVersionPantry> pantry_;
};

}  // namespace Zido
