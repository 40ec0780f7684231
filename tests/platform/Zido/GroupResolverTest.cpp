#include "Zido/GroupResolver.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "Zido/SwTable.h"
#include "agent/NextHopTable.h"
#include "support/QueueTable.h"

namespace {

using ZaduTest::QueueTable;
using Zido::EntryState;

// An operation that records its commit; resolved when its dependency is not
// pending; its resolution may be told to throw.
class Operation : public Zido::ResolverEntry {
  HUNKPOOL_CLASS_ALLOCATION(Operation)

 public:
  Operation(std::string name, QueueTable* table, std::vector<std::string>* log,
            Vesk::Ptr<Zido::DependencyEntryHandle const> dependency = nullptr)
      : ResolverEntry(std::move(dependency), Zido::EntryFlags::write),
        name_(std::move(name)),
        table_(table),
        log_(log) {}

  bool isResolved() override {
    if (name_.starts_with("unanswerable") && unanswerable) {
      throw std::runtime_error("cannot tell");
    }
    return !dependantEntryHandle() || dependantEntryHandle()->entryState() != EntryState::pending;
  }
  void commitEntry(Vesk::Ptr<Zido::ResolverEntry> const& self) override {
    EXPECT_EQ(self.get(), this);
    log_->push_back(name_);
    if (notify != nullptr) {
      notify->updateGenId();  // as a table's commit tells its resolver
    }
    if (afterCommit) {
      afterCommit();
    }
  }

  // Records the resolver's prefetch hints, when set.
  void prefetchCommit() const noexcept override {
    if (hints != nullptr) {
      hints->push_back(fmt::format("hint {}", name_));
    }
  }

  static inline bool unanswerable = true;
  static inline std::vector<std::string>* hints = nullptr;
  static inline Zido::GroupResolver* notify = nullptr;
  static inline std::function<void()> afterCommit;
  Zido::SwTableBase const* orderedTable() const override { return table_; }

 private:
  std::string name_;
  QueueTable* table_;
  std::vector<std::string>* log_;
};

class GroupResolverTest : public ::testing::Test {
 protected:
  void TearDown() override { Operation::hints = nullptr; }

  void enqueue(std::string name, QueueTable* table,
               Vesk::Ptr<Zido::DependencyEntryHandle const> dependency = nullptr) {
    resolver->resolverQueueEnq(new Operation(std::move(name), table, &committed, dependency));
    resolver->updateGenId();
    resolver->maybeUpdateSuspend();
  }

  Quor::EventLoop loop;
  Vesk::Ptr<Zido::GroupResolver> resolver{new Zido::GroupResolver(&loop)};
  Vesk::Ptr<QueueTable> tableA{new QueueTable(0)};
  Vesk::Ptr<QueueTable> tableB{new QueueTable(1)};
  std::vector<std::string> committed;
};

TEST_F(GroupResolverTest, ABlockedEntryHoldsBackItsOwnTableOnly) {
  Vesk::Ptr<Zido::OrderedEntryHandle> dependency(
      new Zido::OrderedEntryHandle(Zido::EntryVersion(0, 0), tableB.get()));
  enqueue("a1", tableA.get());
  enqueue("a2", tableA.get(), dependency);
  enqueue("a3", tableA.get());
  enqueue("b1", tableB.get());
  loop.runUntilIdle();
  EXPECT_EQ(committed, (std::vector<std::string>{"a1", "b1"}));
  EXPECT_TRUE(resolver->suspended());
  EXPECT_EQ(resolver->queued(), 2u);

  // Nothing changed: no pass is scheduled.
  resolver->maybeUpdateSuspend();
  EXPECT_FALSE(resolver->passScheduled());

  // The dependency commits elsewhere; the owner of that news says so.
  dependency->entryStateIs(EntryState::logged);
  resolver->updateGenId();
  resolver->maybeUpdateSuspend();
  loop.runUntilIdle();
  EXPECT_EQ(committed, (std::vector<std::string>{"a1", "b1", "a2", "a3"}));
  EXPECT_FALSE(resolver->suspended());
  EXPECT_EQ(resolver->queued(), 0u);
}

// The prefetch hint reaches the entries behind the head in groups, before
// their turn; it changes nothing: the entries commit in order.
TEST_F(GroupResolverTest, EntriesBehindTheHeadAreHintedBeforeTheirTurn) {
  Operation::hints = &committed;
  for (int i = 0; i < 10; ++i) {
    enqueue(fmt::format("a{}", i), tableA.get());
  }
  enqueue("b0", tableB.get());
  loop.runUntilIdle();
  Operation::hints = nullptr;
  // In groups of four, one group ahead; each entry is hinted once.
  EXPECT_EQ(committed,
            (std::vector<std::string>{"hint a1", "hint a2", "hint a3", "hint a4", "hint a5",
                                      "hint a6", "hint a7", "hint a8", "a0",      "a1",
                                      "a2",      "a3",      "hint a9", "a4",      "a5",
                                      "a6",      "a7",      "a8",      "a9",      "b0"}));
}

// Passes are bounded and yield to the loop, also when commits tell the
// resolver of their progress (as every real commit does): a timer armed
// before the first pass runs after exactly one pass's budget, and again
// after the next.
TEST_F(GroupResolverTest, PassesAreBoundedAndYieldToTheLoop) {
  Operation::notify = resolver.get();
  std::size_t const budget = Zido::GroupResolver::passBudget;
  std::size_t const total = 3 * budget + 10;
  for (std::size_t i = 0; i < total; ++i) {
    enqueue(i % 2 == 0 ? "a" : "b", i % 2 == 0 ? tableA.get() : tableB.get());
  }
  std::vector<std::size_t> committedAtEachTurn;
  std::function<void()> watch = [&] {
    committedAtEachTurn.push_back(committed.size());
    if (committed.size() < total) {
      loop.timerIs(std::chrono::milliseconds(0), watch);
    }
  };
  loop.defer([&] { loop.timerIs(std::chrono::milliseconds(0), watch); });
  loop.runUntilIdle();
  Operation::notify = nullptr;
  EXPECT_EQ(committed.size(), total);
  ASSERT_GE(committedAtEachTurn.size(), 2u);
  EXPECT_EQ(committedAtEachTurn[0], budget);
  EXPECT_EQ(committedAtEachTurn[1], 2 * budget);
  EXPECT_GE(resolver->passes(), 4u);
}

TEST_F(GroupResolverTest, EntriesStayQueuedWhileTheyCannotAnswerAndGoWithTheirTable) {
  Vesk::Ptr<Zido::GroupResolver> manual(new Zido::GroupResolver(nullptr));
  manual->resolverQueueEnq(new Operation("unanswerable", tableA.get(), &committed));
  manual->resolverQueueEnq(new Operation("a2", tableA.get(), &committed));
  EXPECT_THROW(manual->runPass(), std::runtime_error);
  EXPECT_EQ(manual->queued(), 2u);
  Operation::unanswerable = false;
  EXPECT_EQ(manual->runUntilIdle(), 2u);
  Operation::unanswerable = true;
  EXPECT_EQ(committed, (std::vector<std::string>{"unanswerable", "a2"}));

  // A table whose head cannot answer does not keep the others from their
  // turns: the next pass starts with the next table.
  committed.clear();
  manual->resolverQueueEnq(new Operation("unanswerable", tableA.get(), &committed));
  manual->resolverQueueEnq(new Operation("b1", tableB.get(), &committed));
  EXPECT_THROW(manual->runPass(), std::runtime_error);
  EXPECT_THROW(manual->runPass(), std::runtime_error);
  EXPECT_EQ(committed, (std::vector<std::string>{"b1"}));
  EXPECT_EQ(manual->queued(), 1u);

  // A table that goes away takes its queued entries with it, and only those.
  committed.clear();
  auto nextHops = Vesk::Ptr<ZaduAgent::NextHopTable>(
      new ZaduAgent::NextHopTable(Zido::SwTableId(2, 1, 7), 0, resolver));
  nextHops->nextHopWrite(1);
  nextHops->nextHopWrite(2);
  enqueue("a", tableA.get());
  EXPECT_EQ(resolver->queued(), 3u);
  nextHops.reset();
  EXPECT_EQ(resolver->queued(), 1u);
  loop.runUntilIdle();
  EXPECT_EQ(committed, (std::vector<std::string>{"a"}));

  // A commit that releases its own table ends that table's turn; the other
  // tables go on and the released table's queue is gone.
  committed.clear();
  Vesk::Ptr<QueueTable> released(new QueueTable(3, resolver.get()));
  enqueue("r1", released.get());
  enqueue("r2", released.get());
  enqueue("b", tableB.get());
  Operation::afterCommit = [&] {
    if (committed.back() == "r1") {
      released.reset();
    }
  };
  loop.runUntilIdle();
  Operation::afterCommit = nullptr;
  std::sort(committed.begin(), committed.end());
  EXPECT_EQ(committed, (std::vector<std::string>{"b", "r1"}));
  EXPECT_EQ(resolver->queued(), 0u);
  enqueue("a again", tableA.get());
  loop.runUntilIdle();
  EXPECT_EQ(committed.back(), "a again");
}

// Routes of one table depend on next hops of another table of the group.
TEST_F(GroupResolverTest, DependenciesOnNextHopsMoveThroughTheirStates) {
  Vesk::Ptr<ZaduAgent::NextHopTable> nextHops(
      new ZaduAgent::NextHopTable(Zido::SwTableId(2, 1, 7), 0, resolver));
  // The next hop is queued before the route, on its own table: the resolver
  // commits it first, which resolves the route in the next pass.
  auto const hop = nextHops->nextHopWrite(42);
  EXPECT_EQ(hop->entryState(), EntryState::pending);
  enqueue("route via 42", tableA.get(), hop);
  EXPECT_TRUE(nextHops->hasPendingHwWrites());
  loop.runUntilIdle();
  EXPECT_EQ(hop->entryState(), EntryState::logged);
  EXPECT_EQ(hop->logVersion(), 1u);
  EXPECT_EQ(hop->entryTableVersion(), Zido::TableVersion(Zido::SwTableId(2, 1, 7), 1));
  EXPECT_EQ(committed, (std::vector<std::string>{"route via 42"}));

  nextHops->tableStatusVersion(1);
  EXPECT_EQ(hop->entryState(), EntryState::completed);
  EXPECT_FALSE(nextHops->hasPendingHwWrites());

  // Failures are final states that release dependants.
  auto const refused = nextHops->nextHopWrite(43);
  enqueue("route via 43", tableA.get(), refused);
  nextHops->refuse(refused);
  loop.runUntilIdle();
  EXPECT_EQ(refused->entryState(), EntryState::failed);
  EXPECT_EQ(committed.back(), "route via 43");  // released, to take its failure path
  nextHops->tableStatusVersion(100);
  EXPECT_EQ(refused->entryState(), EntryState::failed);  // final
  auto const broken = nextHops->nextHopWrite(44);
  loop.runUntilIdle();
  nextHops->hardwareFailed(broken);
  EXPECT_EQ(broken->entryState(), EntryState::hardwareFailed);
  EXPECT_FALSE(nextHops->hasPendingHwWrites());
  EXPECT_EQ(nextHops->stats()->commitCnt(), 2u);
}

}  // namespace
