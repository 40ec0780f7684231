// Zido::GroupResolver: commits the queued operations of a group's tables in
// an order their dependencies allow.
//
// Order. Each table has one first-in first-out queue: an entry is committed
// only after every entry queued before it on the same table. So a write and a
// later remove of the same key commit in that order, and nothing crosses a
// remove-all of its table. An entry whose dependency is still pending holds
// back the entries queued after it on its own table (all keys), but never the
// entries of other tables.
//
// Passes. A pass visits the tables with queued entries in turn; for each it
// asks the head entry isResolved and, while the answer is yes, commits it and
// moves to the next, until the table is blocked or empty. A pass commits at
// most passBudget entries and then ends; the resolver schedules the next pass
// on the event loop (defer), so file descriptors, timers and the hardware
// side's progress are served between passes under a flood of writes.
//
// Suspension. When a pass ends with entries queued but none of them resolved
// (a full change log, dependencies still pending), the resolver suspends: it
// schedules nothing until something that could change an answer changes.
// Callers say so with updateGenId (the generation id counts such changes:
// a new entry, a commit, the hardware's progress), then maybeUpdateSuspend,
// which schedules a pass if entries are queued and, when suspended, the
// generation id moved since the suspension. A pass that commits anything
// counts as a change too.
//
// Failures. A commitEntry that throws is counted (commitFailures), logged as
// RESOLVER_COMMIT_FAILED with the exception's message, and dropped; what it
// did before throwing stays done, and the pass goes on with the next entry.
//
// Without an event loop, nothing is scheduled: the owner runs passes itself
// (runPass, runUntilIdle).
//
// Thread safety: the agent's thread.
#pragma once

#include <absl/container/node_hash_map.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "Hunkpool/Pool.h"
#include "Quor/Entity.h"
#include "Quor/EventLoop.h"
#include "Quor/FifoQueue.h"
#include "Zido/ResolverEntry.h"

namespace Zido {

class GroupResolver : public Quor::Entity {
  HUNKPOOL_CLASS_ALLOCATION(GroupResolver)

 public:
  static constexpr std::size_t passBudget = 4096;

  // `loop` may be null; the resolver stops scheduling passes once it is gone.
  explicit GroupResolver(Quor::EventLoop* loop);
  ~GroupResolver() override;

  // Queues `entry` behind the entries of its table; schedules a pass when it
  // is the head of its table's queue.
  void resolverQueueEnq(Vesk::Ptr<ResolverEntry> const& entry);
  // Something that could change an answer changed: counts it and schedules
  // a pass if entries are queued.
  void updateGenId();
  void maybeUpdateSuspend();
  // Drops every entry queued for `table` (a table that goes away calls it).
  void resolverQueueDel(SwTableBase const* table);

  // Runs one pass of at most `budget` commits; returns the commits made.
  std::size_t runPass(std::size_t budget = passBudget);
  // Runs passes until one commits nothing; returns the commits made.
  std::size_t runUntilIdle();

  std::uint64_t genId() const noexcept { return genId_; }
  bool suspended() const noexcept { return suspended_; }
  bool passScheduled() const noexcept { return passScheduled_; }
  std::size_t queued() const noexcept { return queued_; }
  std::uint64_t commits() const noexcept { return commits_; }
  std::uint64_t commitFailures() const noexcept { return commitFailures_; }
  std::uint64_t passes() const noexcept { return passes_; }

  Vesk::TypeData const& typeData() const override { return staticTypeData(); }
  static Vesk::TypeData const& staticTypeData();

 private:
  struct Queue {
    Quor::FifoQueue<Vesk::Ptr<ResolverEntry>> entries;
    bool active = false;  // listed in active_
  };

  void schedulePass();
  // Commits the head entries of one table's queue while they are resolved.
  std::size_t drain(Queue& queue, std::size_t budget);
  // Gives the prefetch hint to the entries [first, end) places behind the
  // head of queue, as far as there are any.
  static void hintCommits(Queue const& queue, std::size_t first, std::size_t end) noexcept;
  // Takes `table` off the list of tables with queued entries.
  void unlist(SwTableBase const* table);
  // Ends the drain of draining_; when its table went away meanwhile, erases
  // its queue and returns false.
  bool endDrain();

  Quor::EventLoop::Ref loop_;
  // Node-based, so that a queue stays put while a commit queues entries on
  // other tables. A table's queue stays when it empties, keeping its storage.
  absl::node_hash_map<SwTableBase const*, Queue> queues_;
  // Tables with queued entries, in the order passes visit them, and the
  // index of the one the next turn visits. A vector over the few tables of a
  // group: a pass rotates through it without allocating.
  std::vector<SwTableBase const*> active_;
  std::size_t nextActive_ = 0;
  // The table whose queue a pass is draining, and whether it went away
  // meanwhile (a commit released it): its queue is then erased once the
  // drain is over, not under it.
  SwTableBase const* draining_ = nullptr;
  bool drainingGone_ = false;
  std::size_t queued_ = 0;
  std::uint64_t genId_ = 0;
  std::uint64_t suspendedAtGenId_ = 0;
  bool suspended_ = false;
  bool passScheduled_ = false;
  std::uint64_t commits_ = 0;
  std::uint64_t commitFailures_ = 0;
  std::uint64_t passes_ = 0;
  // Cleared when the resolver goes, so that a pass scheduled on the loop
  // does nothing afterwards.
  std::shared_ptr<GroupResolver*> self_;
};

}  // namespace Zido
