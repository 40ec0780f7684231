// ZaduLpm::AdjacencyTable: the next hops that routes point at, each with a
// stable adjacency index, as an ordered table of the agent's group (table id
// AdjacencyConstants::tableIdValue, one table for the switch) whose state
// lives in shared memory beside the TCAM table's.
//
// A client writes a next hop (one path or an ECMP group) and gets a handle
// whose hwIndexForDependentField() is the next hop's adjacency index, known
// at once. A route written with that handle as its dependency commits after
// the next hop, and its commit records the next hop's table version among
// its needed entries, so that a hardware side programs the adjacency first.
// A client removes a next hop once no route uses it, with the handle of the
// last route change that let it go as the dependency: the delete then
// commits after that change and needs its version.
//
// Shared memory (AdjacencyDataModel.h gives the format): the configuration
// table `adjacencies` (committed next hops by key, with their index) and the
// change log (one record per version; its scratchpad holds the table
// version). A commit writes, in this order, the configuration record, the
// change log record, the scratchpad and the group's needed entries, as the
// TCAM table's entry log does.
//
// Invariants:
//  1. A next hop keeps its index from its first write until the hardware
//     side has taken its delete and no operation on it is pending; only then
//     may the index name another next hop. A restarted agent finds every
//     committed next hop under the index it had (restored from the
//     configuration table), so a restart rewrites no route.
//  2. At most AdjacencyConstants::capacity next hops hold an index (live,
//     in deletion or pending); a write of a new next hop beyond that fails
//     at once (state failed), and routes that depend on it fail.
//  3. tableVersion is the highest version of the scratchpad, the change log
//     and the configuration table, also across a crash: the mount logs a
//     configuration record that a killed writer left without its change log
//     record (roll-forward), so the hardware side sees every committed
//     record.
//  4. Records in deletion stay in the configuration table until the
//     hardware side has taken their delete; the cleanup removes them with
//     their change log records.
//
// Handles: a write of a next hop already committed, with nothing pending on
// it, changes nothing and its handle completes at once (state completed, its
// log version the record's); so does a remove of a next hop that is not
// there. Other operations go pending -> logged -> completed, the handler
// called once at the end. Commits wait while the change log holds
// logCapacity records.
//
// Errors: a key that is not 1 to 64 distinct paths raises
// ZaduLpmLib::AdjacencyKeyError before anything changes. Mount errors
// propagate from the constructor.
//
// Costs: a write or remove is a hash lookup at accept and two record writes
// at commit; restore walks the configuration table once.
//
// Thread safety: the agent's thread.
#pragma once

#include <absl/container/node_hash_map.h>

#include <deque>
#include <optional>
#include <vector>

#include "Hunkpool/Pool.h"
#include "ZaduLpmLib/AdjacencyDataModel.h"
#include "Zido/GroupInterface.h"
#include "Zido/ResolverEntry.h"
#include "Zido/SwTable.h"

namespace ZaduLpm {

class AdjacencyTable : public Zido::OrderedSwTable {
  HUNKPOOL_CLASS_ALLOCATION(AdjacencyTable)

 public:
  using Key = ZaduLpmLib::AdjacencyKey;

  // The handle of one operation: the next hop and its adjacency index.
  class EntryHandle : public Zido::OrderedEntryHandle {
    HUNKPOOL_CLASS_ALLOCATION(EntryHandle)

   public:
    EntryHandle(Zido::EntryVersion version, AdjacencyTable* table, Key const& key,
                std::uint32_t index);
    Key const& key() const noexcept { return key_; }
    std::uint32_t index() const noexcept { return index_; }
    // The adjacency index, which a route's TCAM entry carries.
    std::uint32_t hwIndexForDependentField() const override { return index_; }

    Vesk::TypeData const& typeData() const override { return staticTypeData(); }
    static Vesk::TypeData const& staticTypeData();

   private:
    Key key_;
    std::uint32_t index_;
  };

  // Mounts the table's shared memory as its writer, restores the next hops
  // and rolls forward what a killed writer left. `group` is the group the
  // table orders its operations in; `set` (not owned, may be null) is told
  // when the table's pending state changes.
  AdjacencyTable(Vesk::Ptr<Centrum::EntityManager> const& entityManager,
                 Vesk::Ptr<Zido::GroupInterface> const& group, Zido::OrderedSwTableSet* set);
  ~AdjacencyTable() override;

  // Accepts a write of next hop `key`. A full table gives a failed handle.
  Vesk::Ptr<EntryHandle> adjacencyWrite(Key const& key, ResponseHandler handler = {});
  // Accepts a remove of next hop `key`, committed once `dependency` (may be
  // null) is no longer pending.
  Vesk::Ptr<EntryHandle> adjacencyRemove(
      Key const& key, Vesk::Ptr<Zido::DependencyEntryHandle const> const& dependency,
      ResponseHandler handler = {});

  // Reads, as the table will stand once everything pending commits: the
  // index of `key` (0: none) and the next hop of an index.
  std::uint32_t indexOf(Key const& key) const;
  std::optional<Key> nextHop(std::uint32_t index) const;
  // Next hops holding an index (live, in deletion or pending).
  std::uint32_t indexesHeld() const noexcept { return static_cast<std::uint32_t>(known_.size()); }
  // Committed next hops, not in deletion.
  std::uint32_t live() const noexcept { return live_; }

  Zido::LogVersion tableVersion() const noexcept { return tableVersion_; }
  ZaduLpmLib::AdjacencyConfigMap& config() const noexcept { return config_->collection(); }
  ZaduLpmLib::AdjacencyLogRing& changeLog() const noexcept { return log_->collection(); }

  void tableStatusVersion(Zido::LogVersion version) override;
  bool hasPendingHwWrites() const override;

  Vesk::TypeData const& typeData() const override { return staticTypeData(); }
  static Vesk::TypeData const& staticTypeData();

 private:
  friend class AdjacencyResolverEntry;

  // What the table knows of a next hop that holds an index.
  struct Known {
    std::uint32_t index = 0;
    std::uint32_t pending = 0;  // operations accepted, not yet committed
    bool live = false;          // committed and not in deletion
    bool inConfig = false;      // a configuration record exists (live or in deletion)
    Zido::LogVersion logVersion = 0;
  };
  struct KeyHash {
    std::size_t operator()(Key const& key) const noexcept { return key.hash(); }
  };

  void restore();
  void rollForward(Zido::LogVersion logged);
  Vesk::Ptr<EntryHandle> makeHandle(Key const& key, std::uint32_t index, ResponseHandler handler);
  void completeNow(Vesk::Ptr<EntryHandle> const& handle, Zido::LogVersion version,
                   Zido::EntryState state);
  bool resolved(Zido::ResolverEntry const& entry) const;
  void commit(Zido::ResolverEntry const& entry, Vesk::Ptr<EntryHandle> const& handle);
  // Logs a change of `known`'s next hop; returns its version.
  Zido::LogVersion log(Key const& key, Known const& known, bool deleted,
                       Zido::DependencyEntryHandle const* dependency);
  // Gives the index back when nothing holds it any more.
  void maybeForget(Key const& key);
  void nudge();

  Vesk::Ptr<Zido::GroupInterface> group_;
  Vesk::Ptr<ZaduLpmLib::AdjacencyConfigPantry> config_;
  Vesk::Ptr<ZaduLpmLib::AdjacencyLogPantry> log_;
  Zido::LogVersion tableVersion_ = 0;
  absl::node_hash_map<Key, Known, KeyHash> known_;
  std::vector<Key const*> keyOfIndex_;      // by index; null when free
  std::vector<std::uint32_t> freeIndexes_;  // a stack, lowest on top
  std::uint32_t live_ = 0;
  std::uint64_t pendingOperations_ = 0;
  std::uint64_t nextEntryVersion_ = 0;
  std::deque<Vesk::Ptr<EntryHandle>> waiting_;  // logged, in log order
};

}  // namespace ZaduLpm
