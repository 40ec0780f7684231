// The table interface: registration, initialisation against the hardware's
// published version, the making operations, per-unit tables and their
// restore, reconcile, the Rapidlog records, and a restart after SIGKILL.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "Quor/Log.h"
#include "Rapidlog/RapidlogHandle.h"
#include "Rapidlog/TraceFileReader.h"
#include "ZaduLpm/TcamInterface.h"
#include "Zido/Constants.h"
#include "agent/NextHopTable.h"
#include "support/ChildProcess.h"
#include "support/TcamTableFixture.h"

namespace ZaduTest {
namespace {

using ZaduLpm::TcamInterface;

class TcamInterfaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("ZADU_SHM_ROOT", scratch.path().c_str(), 1);
    central = new Centrum::EntityManager(
        ::testing::UnitTest::GetInstance()->current_test_info()->name(), true);
    agent = new Zido::OrderedTableInterface(central, nullptr);
  }
  void TearDown() override {
    // The registry holds the interface; letting it go destroys the interface.
    Quor::Entity::singletonDel(Zido::SwTableInterfacesSingleton::typeName);
    agent = nullptr;
    Rapidlog::defaultRapidlogHandleIs(nullptr);
    Quor::TraceHandle::reset();
    unsetenv("ZADU_SHM_ROOT");
  }

  Vesk::Ptr<Zido::GroupInterface> group() const {
    return agent->groupInterfaceColl()->groupIntf("ZaduRoute-ZaduRoute");
  }
  Vesk::Ptr<Zido::SwTableInterfacesSingleton> registry() const {
    return Vesk::staticPtrCast<Zido::SwTableInterfacesSingleton>(
        Quor::Entity::singletonExists(Zido::SwTableInterfacesSingleton::typeName));
  }
  // The hardware side publishes `version` for the table, from another process.
  void publishHardwareVersion(Zido::LogVersion version) {
    ChildProcess hardware([&](int) {
      // A fresh process would hold no read-only mount of the versions.
      QuorSharedMem::EntityManager::getEntityManager(central->name(), true)
          ->unmount(Zido::Constants::tableVersionPantryPath("ZaduRoute-ZaduRoute"));
      Zido::TableVersionPublisher(*central, "ZaduRoute-ZaduRoute")
          .publish(TcamInterface::tableId(), version);
      return 0;
    });
    ASSERT_EQ(hardware.wait(), 0);
  }
  // Runs an agent in another process: `body` gets its interface.
  int runAgent(std::function<void(TcamInterface&, Zido::GroupResolver&)> const& body) {
    ChildProcess other([&](int) {
      Vesk::Ptr<Zido::OrderedTableInterface> otherAgent(
          new Zido::OrderedTableInterface(central, nullptr));
      Vesk::Ptr<TcamInterface> const intf = TcamInterface::getIntf(otherAgent);
      body(*intf, *otherAgent->groupInterfaceColl()->groupIntf("ZaduRoute-ZaduRoute")->resolver());
      return 0;
    });
    return other.wait();
  }
  std::string rapidlogPath() const { return scratch.file("trace.rlog"); }
  void useRapidlog() {
    Rapidlog::defaultRapidlogHandleIs(std::make_unique<Rapidlog::RapidlogHandle>(rapidlogPath()));
  }
  std::vector<std::string> rapidlogMessages() const {
    std::vector<std::string> messages;
    for (auto const& record : Rapidlog::readTraceFile(rapidlogPath())) {
      messages.push_back(record.message);
    }
    return messages;
  }

  ScratchDirectory scratch;
  Vesk::Ptr<Centrum::EntityManager> central;
  Vesk::Ptr<Zido::OrderedTableInterface> agent;
};

TEST_F(TcamInterfaceTest, TheFirstCallMakesAndRegistersTheOneInterface) {
  auto const intf = TcamInterface::getIntf(agent);
  Vesk::Ptr<Zido::OrderedTableInterface> otherAgent(
      new Zido::OrderedTableInterface(central, nullptr));
  EXPECT_EQ(TcamInterface::getIntf(otherAgent), intf);
  EXPECT_TRUE(registry()->swTableIntfHas("ZaduLpm::TcamInterface"));
  EXPECT_EQ(agent->swTableIntf("ZaduLpm::TcamInterface"), intf.get());
  EXPECT_FALSE(otherAgent->swTableIntfHas("ZaduLpm::TcamInterface"));
  EXPECT_EQ(intf->tableName(), "Tcam");
  EXPECT_EQ(intf->groupName(), "ZaduRoute");
  EXPECT_EQ(intf->agentName(), "ZaduRoute");
  EXPECT_EQ(intf->tableNamespace(), "ZaduLpm");
  EXPECT_EQ(Vesk::attribute(*intf, "tableId"), Vesk::Value(33622025u));
  ASSERT_TRUE(group());
  EXPECT_EQ(group()->swTableSet(TcamInterface::tableId()), intf->swTableSet());
  EXPECT_EQ(intf->swTableSet()->status(), intf->swTableStatus());
  EXPECT_FALSE(intf->swTableStatus()->pendingHwWrites());

  intf->onDelete();
  EXPECT_FALSE(agent->swTableIntfHas("ZaduLpm::TcamInterface"));
  EXPECT_TRUE(registry()->swTableIntfHas("ZaduLpm::TcamInterface"));
}

TEST_F(TcamInterfaceTest, InitialisationCatchesUpWithTheHardwaresVersion) {
  // Another agent process logs three versions.
  ASSERT_EQ(runAgent([](TcamInterface& intf, Zido::GroupResolver& resolver) {
              auto const table = intf.makeSwTable(0, nullptr, false);
              for (std::uint32_t n = 0; n < 3; ++n) {
                table->entryWrite(keyOf(n), entryOf(n), nullptr);
              }
              resolver.runUntilIdle();
            }),
            0);
  // No published version: no cleanup, pending writes stay off.
  {
    Quor::TraceCapture trace;
    Quor::TraceHandle::levelsIs("TcamInterface", 0xFFFF);
    auto const intf = TcamInterface::getIntf(agent);
    EXPECT_TRUE(trace.contains(" Creating entry log for 02:01:0809"));
    EXPECT_TRUE(trace.contains(" Entry log created for table id: 02:01:0809 at version: 3"));
    EXPECT_TRUE(trace.atLevel("TcamInterface", 3).size() == 1u);  // no cleanup traced
    EXPECT_FALSE(intf->swTableStatus()->pendingHwWrites());
    EXPECT_EQ(intf->entryLog()->entryLogRecords(), 3u);
  }
  auto const initialise = [&](Zido::LogVersion published) {
    publishHardwareVersion(published);
    Quor::Entity::singletonDel(Zido::SwTableInterfacesSingleton::typeName);
    agent = new Zido::OrderedTableInterface(central, nullptr);
    QuorSharedMem::EntityManager::getEntityManager(central->name(), true)
        ->unmount(ZaduLpmLib::TcamConstants::tableEntryLogPantryPath());
    return TcamInterface::getIntf(agent);
  };
  {
    Quor::TraceCapture trace;
    Quor::TraceHandle::levelsIs("TcamInterface", 0xFFFF);
    auto const intf = initialise(3);
    EXPECT_TRUE(trace.contains(" Cleaned entry log until table version: 3"));
    EXPECT_FALSE(trace.contains(" Turning ON pendingHwWrites"));
    EXPECT_FALSE(intf->swTableStatus()->pendingHwWrites());
    EXPECT_EQ(intf->entryLog()->entryLogRecords(), 0u);
  }
  Quor::TraceCapture trace;
  Quor::TraceHandle::levelsIs("TcamInterface", 0xFFFF);
  {
    auto const intf = initialise(2);
    EXPECT_TRUE(trace.contains(" Turning ON pendingHwWrites"));
    EXPECT_TRUE(intf->swTableStatus()->pendingHwWrites());
  }
  // The hardware took more than the log remembers (the log was remade): new
  // versions go on above what it took.
  auto const intf = initialise(10);
  EXPECT_FALSE(intf->swTableStatus()->pendingHwWrites());
  EXPECT_EQ(intf->entryLog()->tableVersion(), 10u);
  auto const handle =
      intf->makeSwTable(0, nullptr, false)->entryWrite(keyOf(9), entryOf(9), nullptr);
  group()->resolver()->runUntilIdle();
  EXPECT_EQ(handle->logVersion(), 11u);
}

TEST_F(TcamInterfaceTest, AnUnreadableHardwareVersionIsReportedAndInitialisationGoesOn) {
  publishHardwareVersion(7);
  // Damage the record's home slot in the hardware side's file.
  auto const sharedMemory = QuorSharedMem::EntityManager::getEntityManager(central->name(), true);
  std::string const path = Zido::Constants::tableVersionPantryPath("ZaduRoute-ZaduRoute");
  {
    auto const versions = Zido::TableVersionMap::mountReader(
        sharedMemory->filePathOf(path), Zido::GroupInterface::tableVersionCapacity,
        Zido::GroupInterface::tableVersionPantryType, "tableVersion");
    std::size_t const offset =
        versions->segment().slotFileOffset(versions->homeOf(TcamInterface::tableId().value()));
    std::FILE* file = std::fopen(sharedMemory->filePathOf(path).c_str(), "r+b");
    ASSERT_NE(file, nullptr);
    std::fseek(file, static_cast<long>(offset + 3 * 8 + 1), SEEK_SET);  // the version word
    std::fputc(0x5A, file);
    std::fclose(file);
  }
  auto const intf = TcamInterface::getIntf(agent);
  auto const pantry = group()->tableVersionPantry();
  ASSERT_TRUE(pantry);
  EXPECT_GE(pantry->collection().corruptionsDetected(), 1u);
  EXPECT_FALSE(intf->swTableStatus()->pendingHwWrites());
  // Tables are still made; the unreadable version counts as none.
  EXPECT_TRUE(intf->makeSwTable(0, nullptr, false));
  EXPECT_GE(pantry->collection().corruptionsDetected(), 2u);
}

TEST_F(TcamInterfaceTest, ASecondInterfaceInAProcessStops) {
  auto const intf = TcamInterface::getIntf(agent);
  EXPECT_DEATH(Vesk::Ptr<TcamInterface>(new TcamInterface(agent)), "Interface already created");
  EXPECT_DEATH(
      {
        group()->swTableSetDel(TcamInterface::tableId());
        intf->makeSwTable(0, nullptr, false);
      },
      "groupIntf->swTableSetHas\\( tableId\\(\\) \\)");
  EXPECT_DEATH(
      {
        intf->agentNameIs("Other");
        intf->makeSwTable(0, nullptr, false);
      },
      "groupIntf");
  EXPECT_DEATH(
      {
        intf->swTableSet()->swTableIs(
            new ZaduAgent::NextHopTable(TcamInterface::tableId(), 5, group()->resolver()));
        intf->makeSwTable(5, nullptr, false);
      },
      "existingTbl");
}

TEST_F(TcamInterfaceTest, AUnitHasOneTableWhichLaterCallsUpdate) {
  useRapidlog();
  auto const intf = TcamInterface::getIntf(agent);
  Quor::TraceCapture trace;
  Quor::TraceHandle::levelsIs("TcamInterface", 0xFFFF);
  Quor::TraceHandle::levelsIs("TcamSwTable", 1 << 8);
  auto const table = intf->makeSwTable(3, nullptr, false);
  EXPECT_EQ(&table->swTableHelper()->typeData(), &ZaduLpm::TcamSwTableHelperBase::staticTypeData());
  EXPECT_EQ(table->status(), intf->swTableStatus());
  EXPECT_EQ(table->name()->tableName(), "Tcam");
  EXPECT_TRUE(trace.contains(" Restored 0 entries for table: Tcam, unitId: 3"));
  EXPECT_TRUE(trace.contains("tableVersion: 0"));  // told the (absent) hardware version
  EXPECT_EQ(rapidlogMessages(),
            std::vector<std::string>{" Restored 0 entries for table: Tcam, unitId: 3"});

  trace.clear();
  EXPECT_EQ(intf->makeSwTable(3, nullptr, false), table);
  EXPECT_FALSE(trace.contains("tableVersion: 0"));
  EXPECT_TRUE(trace.contains("swTable with unitId: 3 exists"));
  Vesk::Ptr<ZaduLpm::TcamSwTableHelperBase> helper(new ZaduLpm::TcamSwTableHelperBase());
  intf->makeSwTable(3, helper, true);
  EXPECT_EQ(table->swTableHelper(), helper);
  EXPECT_TRUE(trace.contains("Update software table helper"));
  EXPECT_TRUE(trace.contains(" Clearing entries for table id: 02:01:0809"));
  EXPECT_EQ(rapidlogMessages().size(), 1u);  // nothing written on this path
}

TEST_F(TcamInterfaceTest, ReconcileClearsTheUnitsNoClientAskedFor) {
  ASSERT_EQ(
      runAgent([](TcamInterface& intf, Zido::GroupResolver& resolver) {
        for (Zido::UnitId unit : {1, 4}) {
          intf.makeSwTable(unit, nullptr, false)->entryWrite(keyOf(unit), entryOf(unit), nullptr);
        }
        resolver.runUntilIdle();
      }),
      0);
  // Files under the path base that are no configuration tables of ours.
  std::string const base = Zido::Constants::canonicalGroupTableConfigPantryPathBase(
      "ZaduRoute-ZaduRoute", "ZaduLpm", "Tcam");
  auto const sharedMemory = QuorSharedMem::EntityManager::getEntityManager(central->name(), true);
  std::ofstream(sharedMemory->filePathOf(base + "stray")) << "not a segment";

  useRapidlog();
  auto const intf = TcamInterface::getIntf(agent);
  intf->makeSwTable(1, nullptr, false);
  Quor::TraceCapture trace;
  Quor::TraceHandle::levelsIs("TcamInterface", 0xFFFF);
  Quor::LogCapture logs;
  intf->reconcile();
  EXPECT_TRUE(trace.contains(" No. of config entities found: 3, in pantry path: " + base));
  EXPECT_TRUE(trace.contains(" Found inactive unit id: 4 "));
  EXPECT_FALSE(trace.contains(" Found inactive unit id: 1 "));
  EXPECT_TRUE(trace.contains(" Clearing entries for table: Tcam, unitId: 4"));
  ASSERT_EQ(logs.records().size(), 1u);
  EXPECT_EQ(logs.records()[0].name, "TCAM_CONFIG_ENTITY_SKIPPED");
  EXPECT_THAT(logs.records()[0].message, ::testing::HasSubstr("stray"));
  EXPECT_TRUE(intf->swTableSet()->swTableHas(4));
  EXPECT_EQ(intf->entryLog()->entrys(4), 0u);
  EXPECT_EQ(intf->entryLog()->entrys(1), 1u);
  EXPECT_EQ(rapidlogMessages(),
            (std::vector<std::string>{" Restored 1 entries for table: Tcam, unitId: 1",
                                      " Clearing entries for table: Tcam, unitId: 4"}));
  trace.clear();
  intf->reconcile();
  EXPECT_FALSE(trace.contains(" Found inactive unit id: 4 "));
}

// The restart: an agent process commits, is killed with SIGKILL; a new agent
// restores the units its client asks for, clears the rest, continues the
// versions and honours the hardware's published version.
TEST_F(TcamInterfaceTest, ARestartedAgentFindsExactlyWhatWasCommitted) {
  std::uint32_t const perUnit[] = {200, 50, 7};
  ChildProcess first([&](int reportFd) {
    Vesk::Ptr<Zido::OrderedTableInterface> firstAgent(
        new Zido::OrderedTableInterface(central, nullptr));
    auto const intf = TcamInterface::getIntf(firstAgent);
    auto& resolver =
        *firstAgent->groupInterfaceColl()->groupIntf("ZaduRoute-ZaduRoute")->resolver();
    for (Zido::UnitId unit = 0; unit < 3; ++unit) {
      auto const table = intf->makeSwTable(unit, nullptr, false);
      for (std::uint32_t n = 0; n < perUnit[unit] + 3; ++n) {
        table->entryWrite(keyOf(n), entryOf(n, unit + 1), nullptr);
      }
      for (std::uint32_t n = perUnit[unit]; n < perUnit[unit] + 3; ++n) {
        table->entryRemove(keyOf(n), nullptr);
      }
      resolver.runUntilIdle();
    }
    // Accepted but never committed: lost with the process, as it should be.
    intf->makeSwTable(0, nullptr, false)->entryWrite(keyOf(9999), entryOf(9999), nullptr);
    sendMessage(reportFd, intf->entryLog()->tableVersion());
    pause();
    return 0;
  });
  Zido::LogVersion const lastVersion = first.readOne<Zido::LogVersion>();
  first.killNow();
  first.wait();
  publishHardwareVersion(lastVersion - 10);

  useRapidlog();
  auto const intf = TcamInterface::getIntf(agent);
  EXPECT_TRUE(intf->swTableStatus()->pendingHwWrites());  // the hardware is behind
  EXPECT_EQ(intf->entryLog()->tableVersion(), lastVersion);
  auto const unit0 = intf->makeSwTable(0, nullptr, false);
  auto const unit1 = intf->makeSwTable(1, nullptr, false);
  intf->reconcile();  // unit 2: nobody asked
  EXPECT_EQ(rapidlogMessages(),
            (std::vector<std::string>{" Restored 200 entries for table: Tcam, unitId: 0",
                                      " Restored 50 entries for table: Tcam, unitId: 1",
                                      " Clearing entries for table: Tcam, unitId: 2"}));
  // The operator's decoder prints the same.
  std::string const decoded = runCommand(std::string(ZADULPM_COMMAND) + " trace " + rapidlogPath());
  EXPECT_THAT(decoded, ::testing::ContainsRegex(
                           "TcamInterface::makeSwTable  Restored 200 entries for table: Tcam, "
                           "unitId: 0\n"));
  for (Zido::UnitId unit : {0, 1}) {
    auto const table = unit == 0 ? unit0 : unit1;
    EXPECT_EQ(table->entrys(), perUnit[unit]);
    std::uint32_t walked = 0;
    for (auto const& entry : table->entryIteratorConst()) {
      EXPECT_EQ(entry.data.adjacencyIndex, unit + 1u);
      ++walked;
    }
    EXPECT_EQ(walked, perUnit[unit]);
    for (std::uint32_t n = 0; n < perUnit[unit] + 3; ++n) {
      EXPECT_EQ(table->entryHas(keyOf(n)), n < perUnit[unit]) << unit << " " << n;
    }
    EXPECT_EQ(table->entryRead(keyOf(5)), committedOf(entryOf(5, unit + 1)));
  }
  EXPECT_FALSE(unit0->entryHas(keyOf(9999)));
  EXPECT_EQ(intf->entryLog()->entrys(2), 0u);
  // Versions go on after the old ones.
  auto const handle = unit0->entryWrite(keyOf(7000), entryOf(7000), nullptr);
  group()->resolver()->runUntilIdle();
  EXPECT_EQ(handle->logVersion(), lastVersion + 2);  // after unit 2's clear
}

// A client that returns from main holding its interface, with the event loop
// gone before the process registry lets the interface go, exits cleanly.
TEST_F(TcamInterfaceTest, AClientThatTearsNothingDownExitsCleanly) {
  for (char const* mode : {"locals", "agent"}) {
    EXPECT_EQ(runCommand(std::string(EXITING_CLIENT) + " " + mode + " 2>&1"), "ok\n") << mode;
  }
}

}  // namespace
}  // namespace ZaduTest
