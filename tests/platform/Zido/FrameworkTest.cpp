#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>

#include "Zido/Constants.h"
#include "Zido/GenId.h"
#include "Zido/OrderedTableInterface.h"
#include "Zido/SwTable.h"
#include "support/ChildProcess.h"
#include "support/ScratchDirectory.h"

namespace ZaduTest {
namespace {

TEST(IdentifiersTest, IdsAndVersionsPackPrintAndCompareConfigPathsRoundTrip) {
  Zido::SwTableId const id(0x02010809);
  EXPECT_EQ(Zido::SwTableId(2, 1, 0x0809), id);
  EXPECT_EQ(fmt::format("{}", id), "02:01:0809");
  // An entry version is invalid only when both of its halves are.
  EXPECT_TRUE(Zido::EntryVersion(Zido::EntryVersion::invalidCounter, 0).valid());
  EXPECT_TRUE(Zido::EntryVersion(0, Zido::EntryVersion::invalidSecond).valid());
  EXPECT_TRUE(Zido::EntryVersion(0, 0).next().isEq(Zido::EntryVersion(1, 0)));
  EXPECT_FALSE(Zido::EntryVersion(0, 0).isEq(Zido::EntryVersion(0, 1)));
  EXPECT_EQ(fmt::format("{} {}", Zido::EntryVersion(0, 0), Zido::EntryVersion()), "{0, 0} invalid");
  EXPECT_TRUE(Zido::MajorVersion(0).valid());

  // A unit's configuration path gives its unit back; malformed paths are refused.
  std::string const group = Zido::Constants::canonicalizeGroupName("ZaduRoute", "ZaduRoute");
  std::string const base =
      Zido::Constants::canonicalGroupTableConfigPantryPathBase(group, "ZaduLpm", "Tcam");
  for (Zido::UnitId unit : {0, 7, 65535}) {
    std::string const path = Zido::Constants::configPantryPath(group, "ZaduLpm", "Tcam", unit);
    EXPECT_TRUE(path.starts_with(base));
    EXPECT_EQ(Zido::Constants::getUnitIdFromConfigPath(path), unit);
  }
  for (std::string const bad :
       {"", "zido/g/config/unit", "zido/g/config/unitX", "zido/g/unit3", "zido/g/config/unit65536",
        "zido/g/config/unit01", "zido/g/config/unit3/x", "zido/g/config/unit-1"}) {
    EXPECT_THROW(Zido::Constants::getUnitIdFromConfigPath(bad), Vesk::Exception) << bad;
  }
}

// A table that records the status versions it is told.
class RecordingTable : public Zido::OrderedSwTable {
  HUNKPOOL_CLASS_ALLOCATION(RecordingTable)

 public:
  RecordingTable(Zido::SwTableId tableId, Zido::UnitId unit, Zido::OrderedSwTableSet* set)
      : OrderedSwTable(new Zido::CanonicalTableName(0, "g", "ns", "t"), tableId, unit, set) {}
  void tableStatusVersion(Zido::LogVersion version) override {
    told.push_back(version);
    if (throws) {
      throw std::runtime_error("handler failed");
    }
  }
  bool hasPendingHwWrites() const override { return told.empty() || told.back() < 10; }
  std::vector<Zido::LogVersion> told;
  bool throws = false;
};

class FrameworkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("ZADU_SHM_ROOT", scratch.path().c_str(), 1);
    name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    central = new Centrum::EntityManager(name, true);
  }
  void TearDown() override { unsetenv("ZADU_SHM_ROOT"); }

  ScratchDirectory scratch;
  std::string name;
  Vesk::Ptr<Centrum::EntityManager> central;
};

TEST_F(FrameworkTest, TheHardwareSidesVersionsReachEveryTableOfTheSetEvenPastOneThatRaises) {
  Quor::EventLoop loop;
  Vesk::Ptr<Zido::OrderedTableInterface> agent(new Zido::OrderedTableInterface(central, &loop));
  agent->makeGroupIntf("Agent", "Group", 0x0201);
  agent->makeGroupIntf("Agent", "Group", 0x0201);  // once only
  EXPECT_EQ(agent->groupInterfaceColl()->groups().size(), 1u);
  auto group = agent->groupInterfaceColl()->groupIntf("Agent-Group");
  ASSERT_TRUE(group);

  Zido::SwTableId const tableId(0x02010809);
  Vesk::Ptr<Zido::OrderedSwTableSet> set(
      new Zido::OrderedSwTableSet(tableId, new Zido::OrderedSwTableStatus(tableId)));
  Vesk::Ptr<RecordingTable> unit0(new RecordingTable(tableId, 0, set.get()));
  Vesk::Ptr<RecordingTable> unit1(new RecordingTable(tableId, 1, set.get()));
  set->swTableIs(unit0);
  set->swTableIs(unit1);
  group->swTableSetIs(set);
  loop.runFor(std::chrono::milliseconds(5));  // no publisher yet: nothing told
  EXPECT_TRUE(unit0->told.empty());

  // The hardware side, in another process, publishes two versions.
  ChildProcess hardware([&](int reportFd) {
    Zido::TableVersionPublisher publisher(*central, "Agent-Group");
    publisher.publish(tableId, 7);
    sendMessage(reportFd, 1);
    ChildProcess::waitForParent();
    publisher.publish(tableId, 12);
    sendMessage(reportFd, 2);
    pause();
    return 0;
  });
  EXPECT_EQ(hardware.readOne<int>(), 1);
  EXPECT_TRUE(runUntil(loop, [&] { return !unit1->told.empty(); }));
  EXPECT_EQ(unit0->told, (std::vector<Zido::LogVersion>{7}));
  EXPECT_EQ(unit1->told, (std::vector<Zido::LogVersion>{7}));
  EXPECT_TRUE(set->status()->pendingHwWrites());

  // A table that raises keeps the version neither from the others nor from
  // the set's status.
  unit0->throws = true;
  hardware.tellChild();
  EXPECT_EQ(hardware.readOne<int>(), 2);
  EXPECT_TRUE(runUntil(loop, [&] { return unit1->told.size() == 2; }));
  EXPECT_EQ(unit0->told, (std::vector<Zido::LogVersion>{7, 12}));
  EXPECT_FALSE(set->status()->pendingHwWrites());
  EXPECT_EQ(group->deliveredVersion(tableId), 12u);
}

TEST_F(FrameworkTest, GenerationIdsOutliveTheirProcess) {
  std::string const path = Zido::Constants::relaunchGenIdPath("ZaduRoute");
  ChildProcess agent([&](int) {
    auto id = Zido::GenId::mount(*central, path);
    id->majorIdInc(1);
    id->majorIdInc(1);
    return 0;
  });
  EXPECT_EQ(agent.wait(), 0);
  auto id = Vesk::dynamicPtrCast<Zido::GenId>(central->getEntity(path));
  ASSERT_TRUE(id);
  EXPECT_EQ(id->majorId(), 2u);
  EXPECT_EQ(id->majorIdInc(1), 3u);
}

}  // namespace
}  // namespace ZaduTest
