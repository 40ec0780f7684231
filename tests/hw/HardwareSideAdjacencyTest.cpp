// The hardware side with the agent's adjacency table: it programs a next hop
// before any route that points at it, resolves lookups to the next hop's
// paths, stops with a fault rather than hold a route to an absent adjacency
// or remove an adjacency under its routes, and catches up after a rebuild
// without mistaking the states it replays through for faults.
//
// The agent runs in a child process (no event loop: it never hears the
// hardware's version); the hardware side runs in this process.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "ZaduLpm/AdjacencyInterface.h"
#include "ZaduLpm/TcamInterface.h"
#include "Zido/Constants.h"
#include "hw/HardwareSide.h"
#include "support/ChildProcess.h"
#include "support/TcamTableFixture.h"

namespace ZaduTest {
namespace {

using ZaduLpm::AdjacencyTable;
using ZaduLpm::TcamInterface;
using ZaduLpmLib::AdjacencyKey;
using ZaduLpmLib::NextHopPath;

AdjacencyKey const ecmp =
    AdjacencyKey::of(std::vector<NextHopPath>{{0x0A000001, 1}, {0x0A000002, 2}});
AdjacencyKey const single = AdjacencyKey::of(NextHopPath{0x0A000003, 3});

// A route's entry: key n, forwarding to `index`.
ZaduLpmLib::TcamDataModelEntry routeTo(std::uint32_t n, std::uint32_t index) {
  return entryOf(n, index);
}

struct Agent {
  Vesk::Ptr<ZaduLpm::TcamSwTable> unit0;
  AdjacencyTable& adjacencies;
  Zido::GroupResolver& resolver;
};

class HardwareSideAdjacencyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("ZADU_SHM_ROOT", scratch.path().c_str(), 1);
    store = ::testing::UnitTest::GetInstance()->current_test_info()->name();
  }
  void TearDown() override {
    hardware.reset();
    Quor::TraceHandle::reset();
    unsetenv("ZADU_SHM_ROOT");
  }

  // An agent process that runs `body` and reports 1; told to go on, runs
  // `later` and reports 2; then waits to be stopped.
  std::unique_ptr<ChildProcess> runAgent(std::function<void(Agent&)> const& body,
                                         std::function<void(Agent&)> const& later = {}) {
    auto child = std::make_unique<ChildProcess>([this, body, later](int reportFd) {
      Vesk::Ptr<Centrum::EntityManager> const central = new Centrum::EntityManager(store, true);
      Vesk::Ptr<Zido::OrderedTableInterface> const tables =
          new Zido::OrderedTableInterface(central, nullptr);
      auto const tcam = TcamInterface::getIntf(tables);
      auto const unit0 = tcam->makeSwTable(0, nullptr, true);
      auto const adjacencies = ZaduLpm::AdjacencyInterface::getIntf(tables);
      auto const group =
          tables->groupInterfaceColl()->groupIntf(Zido::Constants::canonicalizeGroupName(
              ZaduLpmLib::TcamConstants::agentName, ZaduLpmLib::TcamConstants::groupName));
      Agent agent{unit0, *adjacencies->table(), *group->resolver()};
      body(agent);
      agent.resolver.runUntilIdle();
      sendMessage(reportFd, 1);
      if (later) {
        ChildProcess::waitForParent();
        later(agent);
        agent.resolver.runUntilIdle();
        sendMessage(reportFd, 2);
      }
      pause();
      return 0;
    });
    EXPECT_EQ(child->readOne<int>(), 1);
    return child;
  }

  void startHardware(std::uint32_t batch = 1024) {
    ZaduHw::HardwareOptions options;
    options.store = store;
    options.batch = batch;
    hardware = std::make_unique<ZaduHw::HardwareSide>(options);
    hardware->start(std::chrono::seconds(5), [] {});
  }
  void drain() {
    for (int step = 0; step < 100 && !hardware->drained(); ++step) {
      hardware->step();
    }
    ASSERT_TRUE(hardware->drained());
  }
  // The next hop a lookup of `address` on unit 0 resolves to, or null.
  AdjacencyKey const* resolve(std::uint32_t address) const {
    auto const result = hardware->units().at(0).lookup(address);
    return result ? hardware->adjacencies().find(*result) : nullptr;
  }

  ScratchDirectory scratch;
  std::string store;
  std::unique_ptr<ZaduHw::HardwareSide> hardware;
};

TEST_F(HardwareSideAdjacencyTest, ANextHopIsProgrammedBeforeItsRoutesAndLookupsResolveToItsPaths) {
  auto const agent = runAgent([](Agent& agent) {
    auto const group = agent.adjacencies.adjacencyWrite(ecmp);
    auto const path = agent.adjacencies.adjacencyWrite(single);
    agent.unit0->entryWrite(keyOf(1), routeTo(1, group->index()), group);
    agent.unit0->entryWrite(keyOf(2), routeTo(2, path->index()), path);
  });
  // One version per step: the first route needs the group, so the group
  // comes first, then the route; then the single path, then its route.
  startHardware(1);
  hardware->step();
  EXPECT_EQ(hardware->adjacencyTaken(), 1u);
  EXPECT_EQ(hardware->taken(), 0u);
  hardware->step();
  EXPECT_EQ(hardware->taken(), 1u);
  drain();
  EXPECT_EQ(hardware->adjacencies().size(), 2u);
  ASSERT_NE(resolve(keyOf(1).prefix | 7), nullptr);
  EXPECT_EQ(*resolve(keyOf(1).prefix | 7), ecmp);
  EXPECT_EQ(*resolve(keyOf(2).prefix), single);
  EXPECT_EQ(hardware->verify(), std::nullopt);
  EXPECT_EQ(hardware->counters().adjacencyWrites, 2u);
}

// The two faults a running hardware side refuses to program. (Replayed
// after a rebuild, the same records are states the log passes through.)
TEST_F(HardwareSideAdjacencyTest, ARouteToAnAdjacencyTheChipNeverGotIsAFault) {
  auto const toNowhere =
      runAgent([](Agent&) {},
               [](Agent& agent) { agent.unit0->entryWrite(keyOf(1), routeTo(1, 77), nullptr); });
  startHardware();
  drain();
  toNowhere->tellChild();
  ASSERT_EQ(toNowhere->readOne<int>(), 2);
  EXPECT_THROW(drain(), ZaduHw::HardwareFault);
}

TEST_F(HardwareSideAdjacencyTest, RemovingAnAdjacencyThatRoutesStillUseIsAFault) {
  auto const agent = runAgent(
      [](Agent& agent) {
        auto const path = agent.adjacencies.adjacencyWrite(single);
        agent.unit0->entryWrite(keyOf(1), routeTo(1, path->index()), path);
      },
      [](Agent& agent) { agent.adjacencies.adjacencyRemove(single, nullptr); });
  startHardware();
  drain();
  agent->tellChild();
  ASSERT_EQ(agent->readOne<int>(), 2);
  EXPECT_THROW(drain(), ZaduHw::HardwareFault);
}

TEST_F(HardwareSideAdjacencyTest, ARestartedHardwareSideReplaysPastStatesThatNeverCoexisted) {
  // A route to the next hop, its remove, the next hop's remove after it, the
  // next hop again and another route to it: the configuration ends with
  // the next hop and the second route, and a hardware side that rebuilds
  // from it and replays the log from the start passes through a remove of
  // the next hop while the rebuilt second route points at it.
  auto const agent = runAgent([](Agent& agent) {
    auto const first = agent.adjacencies.adjacencyWrite(single);
    agent.unit0->entryWrite(keyOf(1), routeTo(1, first->index()), first);
    agent.resolver.runUntilIdle();
    auto const gone = agent.unit0->entryRemove(keyOf(1), nullptr);
    agent.adjacencies.adjacencyRemove(single, gone);
    agent.resolver.runUntilIdle();
    auto const again = agent.adjacencies.adjacencyWrite(single);
    agent.unit0->entryWrite(keyOf(2), routeTo(2, again->index()), again);
  });
  startHardware();
  drain();
  EXPECT_EQ(hardware->units().at(0).size(), 1u);
  ASSERT_NE(resolve(keyOf(2).prefix), nullptr);
  EXPECT_EQ(*resolve(keyOf(2).prefix), single);
  EXPECT_EQ(hardware->verify(), std::nullopt);
}

}  // namespace
}  // namespace ZaduTest
