#include "Zido/GroupResolver.h"

#include <algorithm>
#include <exception>

#include "Quor/Log.h"
#include "Vesk/TypeBuilder.h"

namespace Zido {

namespace {

QUOR_LOG_DESCRIPTOR(commitFailedDescriptor, "RESOLVER_COMMIT_FAILED",
                    "Commit of a queued table operation failed: %s",
                    "An operation raised an error while it was being committed; it was dropped",
                    "Check the table's client and its logs", 3);

Quor::LogHandle commitFailedLog(commitFailedDescriptor, Quor::LogHandle::Seconds(1), 1.0, 10, 0);

// A drain gives the prefetch hint to the entries ahead of the commit in
// groups of commitHintGroup, one group ahead: far enough for memory to answer
// before the commit reaches an entry, near enough that what it brought is
// still in the cache. Hinting a group at once lets the page walks of its
// entries (each a random page of a large table) overlap; one hint at a time
// waits for each walk alone.
constexpr std::size_t commitHintGroup = 4;

}  // namespace

ResolverEntry::ResolverEntry(Vesk::Ptr<DependencyEntryHandle const> dependantEntryHandle,
                             EntryFlags flags)
    : dependantEntryHandle_(std::move(dependantEntryHandle)), flags_(flags) {}

Vesk::TypeData const& ResolverEntry::staticTypeData() {
  static Vesk::TypeData const& type =
      Vesk::TypeBuilder<ResolverEntry>("Zido::ResolverEntry", &Quor::Entity::staticTypeData())
          .attribute(
              "dependantEntryHandle",
              [](ResolverEntry const& entry) {
                return Vesk::constPtrCast<DependencyEntryHandle>(entry.dependantEntryHandle());
              })
          .attribute(
              "flags",
              [](ResolverEntry const& entry) { return static_cast<std::uint32_t>(entry.flags()); })
          .operation("isEntryDeleted", &ResolverEntry::isEntryDeleted)
          .operation("isTableDeleted", &ResolverEntry::isTableDeleted)
          .operation("isResolved", &ResolverEntry::isResolved)
          .done();
  return type;
}

GroupResolver::GroupResolver(Quor::EventLoop* loop)
    : loop_(loop), self_(std::make_shared<GroupResolver*>(this)) {}

GroupResolver::~GroupResolver() {
  *self_ = nullptr;
}

void GroupResolver::resolverQueueEnq(Vesk::Ptr<ResolverEntry> const& entry) {
  SwTableBase const* table = entry->orderedTable();
  Queue& queue = queues_[table];
  if (!queue.active) {
    queue.active = true;
    active_.push_back(table);
  }
  queue.entries.push(entry);
  ++queued_;
  publisher().publish(*this, "queued");
  if (queue.entries.size() == 1) {
    updateGenId();  // a new head: it may be resolved already
  }
}

void GroupResolver::updateGenId() {
  ++genId_;
  maybeUpdateSuspend();
}

void GroupResolver::resolverQueueDel(SwTableBase const* table) {
  auto const found = queues_.find(table);
  if (found == queues_.end()) {
    return;
  }
  queued_ -= found->second.entries.size();
  if (table == draining_) {
    found->second.entries.clear();  // the drain stops; the pass erases the queue
    drainingGone_ = true;
  } else {
    if (found->second.active) {
      unlist(table);
    }
    queues_.erase(found);
  }
  publisher().publish(*this, "queued");
}

void GroupResolver::unlist(SwTableBase const* table) {
  auto const listed = std::find(active_.begin(), active_.end(), table);
  if (static_cast<std::size_t>(listed - active_.begin()) < nextActive_) {
    --nextActive_;
  }
  active_.erase(listed);
}

void GroupResolver::maybeUpdateSuspend() {
  if (queued_ == 0 || passScheduled_) {
    return;
  }
  if (suspended_ && genId_ == suspendedAtGenId_) {
    return;
  }
  suspended_ = false;
  schedulePass();
}

void GroupResolver::schedulePass() {
  Quor::EventLoop* const loop = loop_.get();
  if (loop == nullptr || passScheduled_) {
    return;
  }
  passScheduled_ = true;
  loop->defer([self = self_] {
    if (GroupResolver* resolver = *self) {
      resolver->passScheduled_ = false;
      resolver->runPass();
    }
  });
}

void GroupResolver::hintCommits(Queue const& queue, std::size_t first, std::size_t end) noexcept {
  for (std::size_t offset = first; offset < end; ++offset) {
    Vesk::Ptr<ResolverEntry> const* const ahead = queue.entries.peek(offset);
    if (ahead == nullptr) {
      return;
    }
    (*ahead)->prefetchCommit();
  }
}

std::size_t GroupResolver::drain(Queue& queue, std::size_t budget) {
  // The group right behind the head gets its hint now; from then on every
  // commitHintGroup-th commit hints the group after the next.
  hintCommits(queue, 1, commitHintGroup + 1);
  std::size_t committed = 0;
  while (committed < budget && !queue.entries.empty()) {
    if (committed % commitHintGroup == 0) {
      hintCommits(queue, commitHintGroup + 1, 2 * commitHintGroup + 1);
    }
    Vesk::Ptr<ResolverEntry> head = queue.entries.front();
    if (!head->isResolved()) {
      break;
    }
    queue.entries.pop();
    --queued_;
    ++committed;
    try {
      head->commitEntry(head);
    } catch (std::exception const& error) {
      ++commitFailures_;
      Quor::log(commitFailedLog, std::string(error.what()));
    }
  }
  return committed;
}

std::size_t GroupResolver::runPass(std::size_t budget) {
  ++passes_;
  std::size_t committed = 0;
  // Each table with queued entries gets its turn once, in order, starting
  // after the table the last pass stopped at. The cursor moves on before
  // the table's entries run, so that a table whose isResolved raises does
  // not keep the others from their turns; a table leaves the list only once
  // its queue is empty.
  for (std::size_t turns = active_.size(); turns > 0 && committed < budget; --turns) {
    if (nextActive_ >= active_.size()) {
      nextActive_ = 0;
    }
    SwTableBase const* const table = active_[nextActive_++];
    Queue& queue = queues_[table];
    draining_ = table;
    try {
      committed += drain(queue, budget - committed);
    } catch (...) {
      endDrain();
      throw;
    }
    if (endDrain() && queue.entries.empty()) {
      // The queue and its storage stay for the table's next entries.
      queue.active = false;
      unlist(table);
    }
  }
  commits_ += committed;
  if (committed > 0) {
    ++genId_;
    publisher().publish(*this, "queued");
  }
  if (queued_ == 0) {
    suspended_ = false;
  } else if (committed > 0) {
    // More may be possible: the budget ran out, or a commit may have
    // resolved another table's dependency.
    schedulePass();
  } else {
    suspended_ = true;
    suspendedAtGenId_ = genId_;
  }
  return committed;
}

bool GroupResolver::endDrain() {
  SwTableBase const* const table = draining_;
  draining_ = nullptr;
  if (!drainingGone_) {
    return true;
  }
  drainingGone_ = false;
  unlist(table);
  queues_.erase(table);
  return false;
}

std::size_t GroupResolver::runUntilIdle() {
  std::size_t total = 0;
  for (std::size_t committed = runPass(); committed > 0; committed = runPass()) {
    total += committed;
  }
  return total;
}

Vesk::TypeData const& GroupResolver::staticTypeData() {
  static Vesk::TypeData const& type =
      Vesk::TypeBuilder<GroupResolver>("Zido::GroupResolver", &Quor::Entity::staticTypeData())
          .attribute("queued", &GroupResolver::queued)
          .attribute("genId", &GroupResolver::genId)
          .attribute("suspended", &GroupResolver::suspended)
          .attribute("commits", &GroupResolver::commits)
          .attribute("commitFailures", &GroupResolver::commitFailures)
          .operation("updateGenId", &GroupResolver::updateGenId)
          .operation("maybeUpdateSuspend", &GroupResolver::maybeUpdateSuspend)
          .operation("runPass", [](GroupResolver& resolver) { return resolver.runPass(); })
          .done();
  return type;
}

namespace {
[[maybe_unused]] Vesk::TypeData const& entryRegistered = ResolverEntry::staticTypeData();
[[maybe_unused]] Vesk::TypeData const& resolverRegistered = GroupResolver::staticTypeData();
}  // namespace

}  // namespace Zido
