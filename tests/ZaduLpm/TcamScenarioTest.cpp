// The whole road inside the agent, on the real group resolver and event
// loop, with the hardware side publishing its table versions from another
// process through shared memory: dependencies on a next-hop table (pending,
// resolved, failed), writes, removes, a remove-all, the versions they take,
// completions in order, and the change log cleaned as the hardware takes it.
// (The pending collections and records each step leaves are checked by the
// table's own tests.)
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Quor/EventLoop.h"
#include "agent/NextHopTable.h"
#include "support/ChildProcess.h"
#include "support/TcamTableFixture.h"

namespace ZaduTest {
namespace {

class TcamScenarioTest : public TcamTableFixture {
 protected:
  Quor::EventLoop* loop() override { return &eventLoop; }

  // A handler that records "key state" in completion order.
  TcamSwTable::ResponseHandler recorder() {
    return [this](Vesk::Ptr<Zido::OrderedEntryHandle const> const& handle) {
      auto const own = Vesk::dynamicPtrCast<TcamSwTable::EntryHandle const>(handle);
      completions.push_back(
          fmt::format("{} {}", own->key(), static_cast<unsigned>(handle->entryState())));
    };
  }

  Quor::EventLoop eventLoop;
  std::vector<std::string> completions;
};

TEST_F(TcamScenarioTest, OperationsTravelFromAcceptanceToTheHardwareAndBack) {
  using State = Zido::EntryState;
  group->swTableSetIs(set);
  Vesk::Ptr<ZaduAgent::NextHopTable> nextHops(
      new ZaduAgent::NextHopTable(Zido::SwTableId(0x02010001), unit, group->resolver()));

  // A route waits for its next hop; the operations queued behind it on the
  // table wait with it.
  auto const nextHop = nextHops->nextHopWrite(1);
  auto const route1 =
      table->entryWriteWithResponseHandler(keyOf(1), entryOf(1), nextHop, recorder());
  auto const route2 =
      table->entryWriteWithResponseHandler(keyOf(2), entryOf(2), nullptr, recorder());
  auto const removeAbsent = table->entryRemoveWithResponseHandler(keyOf(9), nullptr, recorder());
  EXPECT_EQ(route1->entryState(), State::pending);
  ASSERT_TRUE(runUntil(eventLoop, [&] { return removeAbsent->entryState() == State::completed; }));
  EXPECT_EQ(nextHop->entryState(), State::logged);
  EXPECT_EQ(route1->logVersion(), 1u);
  EXPECT_EQ(route2->logVersion(), 2u);
  EXPECT_EQ(route1->entryState(), State::logged);
  EXPECT_EQ(completions, std::vector<std::string>{"10.0.9.0/24 4"});  // nothing to remove
  EXPECT_EQ(removeAbsent->logVersion(), 0u);
  EXPECT_EQ(changeLog().count(), 2u);

  // A route whose next hop the hardware refused fails; nothing is logged.
  auto const refusedHop = nextHops->nextHopWrite(2);
  ASSERT_TRUE(runUntil(eventLoop, [&] { return refusedHop->entryState() == State::logged; }));
  nextHops->hardwareFailed(refusedHop);
  auto const route4 =
      table->entryWriteWithResponseHandler(keyOf(4), entryOf(4), refusedHop, recorder());
  ASSERT_TRUE(runUntil(eventLoop, [&] { return route4->entryState() == State::dependencyFailed; }));
  EXPECT_EQ(completions.back(), "10.0.4.0/24 5");
  EXPECT_EQ(entryLog->tableVersion(), 2u);

  // A remove, then a remove-all, both logged.
  auto const remove2 = table->entryRemoveWithResponseHandler(keyOf(2), nullptr, recorder());
  table->entryRemoveAllWithResponseHandler(nullptr, recorder());
  ASSERT_TRUE(runUntil(eventLoop, [&] { return !table->transientRemoveAllVersion().valid(); }));
  EXPECT_EQ(remove2->logVersion(), 3u);
  EXPECT_EQ(entryLog->tableVersion(), 4u);
  EXPECT_TRUE(changeLog().lookup(4).record.tableDeleted());
  EXPECT_TRUE(set->status()->pendingHwWrites());

  // The hardware side takes versions 2 and then 4.
  ChildProcess hardware([&](int reportFd) {
    Zido::TableVersionPublisher publisher(*central, group->canonicalName());
    for (Zido::LogVersion version : {2, 4}) {
      ChildProcess::waitForParent();
      publisher.publish(tableId, version);
      sendMessage(reportFd, version);
    }
    return 0;
  });
  completions.clear();
  hardware.tellChild();
  EXPECT_EQ(hardware.readOne<Zido::LogVersion>(), 2u);
  ASSERT_TRUE(runUntil(eventLoop, [&] { return completions.size() == 2; }));
  EXPECT_EQ(completions, (std::vector<std::string>{"10.0.1.0/24 4", "10.0.2.0/24 4"}));
  EXPECT_FALSE(changeLog().has(2));
  EXPECT_TRUE(changeLog().has(3));
  EXPECT_TRUE(table->hasPendingHwWrites());

  hardware.tellChild();
  EXPECT_EQ(hardware.readOne<Zido::LogVersion>(), 4u);
  ASSERT_TRUE(runUntil(eventLoop, [&] { return completions.size() == 3; }));
  EXPECT_EQ(completions.back(), "10.0.2.0/24 4");
  EXPECT_EQ(remove2->entryState(), State::completed);
  EXPECT_EQ(changeLog().count(), 0u);
  EXPECT_EQ(config().count(), 0u);
  EXPECT_TRUE(table->entryHandleInLogQueue().empty());
  EXPECT_FALSE(table->hasPendingHwWrites());
  EXPECT_FALSE(set->status()->pendingHwWrites());
  EXPECT_EQ(hardware.wait(), 0);
  EXPECT_EQ(table->stats()->commitCnt(), 6u);
}

}  // namespace
}  // namespace ZaduTest
