// The table interface: registration, initialisation against the hardware's
// published version, the making operations, per-unit tables, a restart after
// SIGKILL with restore and reconcile; and every text an operator can see
// (trace lines of levels 1 to 3, log messages, Rapidlog records), checked
// where each should be emitted.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <regex>
#include <stdexcept>
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
    // One store per test; a parameterised test's name holds a '/'.
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::replace(name.begin(), name.end(), '/', '_');
    central = new Centrum::EntityManager(name, true);
    agent = newAgent();
  }
  void TearDown() override {
    // The registry holds the interface; letting it go destroys the interface.
    Quor::Entity::singletonDel(Zido::SwTableInterfacesSingleton::typeName);
    agent = nullptr;
    Rapidlog::defaultRapidlogHandleIs(nullptr);
    Quor::TraceHandle::reset();
    unsetenv("ZADU_SHM_ROOT");
  }

 public:
  Vesk::Ptr<Zido::OrderedTableInterface> newAgent() const {
    return new Zido::OrderedTableInterface(central, nullptr);
  }
  // The table's group in `of` (by default this process's agent).
  Vesk::Ptr<Zido::GroupInterface> group(Zido::OrderedTableInterface* of = nullptr) const {
    return (of != nullptr ? of : agent.get())
        ->groupInterfaceColl()
        ->groupIntf("ZaduRoute-ZaduRoute");
  }
  Vesk::Ptr<QuorSharedMem::EntityManager> sharedMemory() const {
    return QuorSharedMem::EntityManager::getEntityManager(central->name(), true);
  }
  // The hardware side publishes `version` for the table, from another process.
  void publishHardwareVersion(Zido::LogVersion version) {
    ChildProcess hardware([&](int) {
      // A fresh process would hold no read-only mount of the versions.
      sharedMemory()->unmount(Zido::Constants::tableVersionPantryPath("ZaduRoute-ZaduRoute"));
      Zido::TableVersionPublisher(*central, "ZaduRoute-ZaduRoute")
          .publish(TcamInterface::tableId(), version);
      return 0;
    });
    ASSERT_EQ(hardware.wait(), 0);
  }
  // Runs an agent in another process: `body` gets its interface, and what it
  // accepted is committed afterwards.
  void runAgent(std::function<void(TcamInterface&)> const& body) {
    ChildProcess other([&](int) {
      auto const otherAgent = newAgent();
      body(*TcamInterface::getIntf(otherAgent));
      group(otherAgent.get())->resolver()->runUntilIdle();
      return 0;
    });
    ASSERT_EQ(other.wait(), 0);
  }
  // Another agent process writes key n to each unit of `units`.
  void writeInAnotherAgent(std::vector<Zido::UnitId> const& units, std::uint32_t keys = 1) {
    runAgent([&](TcamInterface& intf) {
      for (Zido::UnitId unit : units) {
        for (std::uint32_t n = 0; n < keys; ++n) {
          intf.makeSwTable(unit, nullptr, false)->entryWrite(keyOf(n), entryOf(n), nullptr);
        }
      }
    });
  }

 protected:
  std::string rapidlogPath() const { return scratch.file("trace.rlog"); }
  void useRapidlog() {
    Rapidlog::defaultRapidlogHandleIs(std::make_unique<Rapidlog::RapidlogHandle>(rapidlogPath()));
  }

  ScratchDirectory scratch;
  Vesk::Ptr<Centrum::EntityManager> central;
  Vesk::Ptr<Zido::OrderedTableInterface> agent;
};

TEST_F(TcamInterfaceTest, TheFirstCallMakesAndRegistersTheOneInterfaceWithOneTablePerUnit) {
  auto const intf = TcamInterface::getIntf(agent);
  auto const otherAgent = newAgent();
  EXPECT_EQ(TcamInterface::getIntf(otherAgent), intf);
  auto const registry = Quor::Entity::singletonExists(Zido::SwTableInterfacesSingleton::typeName);
  auto const& registered = dynamic_cast<Zido::SwTableInterfacesSingleton&>(*registry);
  EXPECT_TRUE(registered.swTableIntfHas("ZaduLpm::TcamInterface"));
  EXPECT_EQ(agent->swTableIntf("ZaduLpm::TcamInterface"), intf.get());
  EXPECT_FALSE(otherAgent->swTableIntfHas("ZaduLpm::TcamInterface"));
  ASSERT_TRUE(group());
  EXPECT_EQ(group()->swTableSet(TcamInterface::tableId()), intf->swTableSet());
  EXPECT_FALSE(intf->swTableStatus()->pendingHwWrites());

  // A unit has one table, which a later call updates or resets.
  auto const table = intf->makeSwTable(3, nullptr, false);
  EXPECT_EQ(table->status(), intf->swTableStatus());
  table->entryWrite(keyOf(1), entryOf(1), nullptr);
  group()->resolver()->runUntilIdle();

  EXPECT_EQ(intf->makeSwTable(3, nullptr, false), table);
  EXPECT_EQ(table->entrys(), 1u);
  Vesk::Ptr<ZaduLpm::TcamSwTableHelperBase> helper(new ZaduLpm::TcamSwTableHelperBase());
  EXPECT_EQ(intf->makeSwTable(3, helper, true), table);
  EXPECT_EQ(table->swTableHelper(), helper);
  EXPECT_EQ(table->entrys(), 0u);

  intf->onDelete();
  EXPECT_FALSE(agent->swTableIntfHas("ZaduLpm::TcamInterface"));
  EXPECT_TRUE(registered.swTableIntfHas("ZaduLpm::TcamInterface"));
}

TEST_F(TcamInterfaceTest, InitialisationCatchesUpWithTheHardwaresVersion) {
  writeInAnotherAgent({0}, 3);  // versions 1 to 3
  Vesk::Ptr<TcamInterface> intf;
  // A new interface after the hardware published `published` (0: nothing
  // published) has `pending` writes and keeps `records` change log records.
  auto const initialise = [&](Zido::LogVersion published, bool pending, std::uint64_t records) {
    intf = nullptr;
    if (published != 0) {
      publishHardwareVersion(published);
    }
    Quor::Entity::singletonDel(Zido::SwTableInterfacesSingleton::typeName);
    agent = newAgent();
    sharedMemory()->unmount(ZaduLpmLib::TcamConstants::tableEntryLogPantryPath());
    intf = TcamInterface::getIntf(agent);
    EXPECT_EQ(intf->swTableStatus()->pendingHwWrites(), pending) << published;
    EXPECT_EQ(intf->entryLog()->entryLogRecords(), records) << published;
  };
  initialise(0, false, 3);  // no cleanup
  initialise(2, true, 1);
  initialise(3, false, 0);
  // The hardware took more than the log remembers (the log was remade): new
  // versions go on above what it took.
  initialise(10, false, 0);
  EXPECT_EQ(intf->entryLog()->tableVersion(), 10u);
  auto const handle =
      intf->makeSwTable(0, nullptr, false)->entryWrite(keyOf(9), entryOf(9), nullptr);
  group()->resolver()->runUntilIdle();
  EXPECT_EQ(handle->logVersion(), 11u);
}

TEST_F(TcamInterfaceTest, AnUnreadableHardwareVersionIsReportedAndInitialisationGoesOn) {
  publishHardwareVersion(7);
  // Damage the version word of the record's home slot in the hardware side's file.
  damageHomeSlot(*Zido::TableVersionMap::mountReader(
                     sharedMemory()->filePathOf(
                         Zido::Constants::tableVersionPantryPath("ZaduRoute-ZaduRoute")),
                     Zido::GroupInterface::tableVersionCapacity,
                     Zido::GroupInterface::tableVersionPantryType, "tableVersion"),
                 TcamInterface::tableId().value(), 3 * 8 + 1);
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

// The restart: an agent process commits, is killed with SIGKILL; a new agent
// restores the units its client asks for, clears the rest, continues the
// versions and honours the hardware's published version.
TEST_F(TcamInterfaceTest, ARestartedAgentFindsExactlyWhatWasCommitted) {
  std::uint32_t const perUnit[] = {200, 50, 7};
  ChildProcess first([&](int reportFd) {
    auto const firstAgent = newAgent();
    auto const intf = TcamInterface::getIntf(firstAgent);
    auto& resolver = *group(firstAgent.get())->resolver();
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
  publishHardwareVersion(lastVersion - 10);

  useRapidlog();
  auto const intf = TcamInterface::getIntf(agent);
  EXPECT_TRUE(intf->swTableStatus()->pendingHwWrites());  // the hardware is behind
  EXPECT_EQ(intf->entryLog()->tableVersion(), lastVersion);
  auto const unit0 = intf->makeSwTable(0, nullptr, false);
  auto const unit1 = intf->makeSwTable(1, nullptr, false);
  intf->reconcile();  // unit 2: nobody asked
  EXPECT_TRUE(intf->swTableSet()->swTableHas(2));
  EXPECT_EQ(intf->entryLog()->entrys(2), 0u);
  intf->reconcile();  // nothing left to clear: nothing logged
  EXPECT_EQ(intf->entryLog()->tableVersion(), lastVersion + 1);
  // The operator's decoder prints the records.
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

class TcamTextTest;

// One step and the texts it must and must not emit: trace lines as
// "handle level: message" (the message trimmed), log messages as
// "NAME: message", Rapidlog records as "rapidlog: message". A text ending in
// '*' stands for every line that starts with the rest. `prepare` runs
// before anything is captured.
struct OperatorTexts {
  char const* name;
  std::function<void(TcamTextTest&)> step;
  std::vector<std::string> emitted;
  std::vector<std::string> notEmitted = {};
  std::function<void(TcamTextTest&)> prepare = {};
};
void PrintTo(OperatorTexts const& texts, std::ostream* out) {
  *out << texts.name;
}

class TcamTextTest : public TcamInterfaceTest, public ::testing::WithParamInterface<OperatorTexts> {
 public:
  // The interface the registry holds, made by the first call.
  Vesk::Ptr<TcamInterface> intf() { return TcamInterface::getIntf(agent); }
  Vesk::Ptr<ZaduLpm::TcamEntryLog> entryLog() { return intf()->entryLog(); }
  Vesk::Ptr<TcamSwTable> table(Zido::UnitId unit = 0) {
    return intf()->makeSwTable(unit, nullptr, false);
  }
  void commitAll() {
    intf();
    group()->resolver()->runUntilIdle();
  }
};

TEST_P(TcamTextTest, AreEmittedWhereTheyShouldBe) {
  static std::regex const edges("^ +| +$");
  if (GetParam().prepare) {
    GetParam().prepare(*this);
  }
  useRapidlog();
  Quor::TraceHandle::levelsIs("*", 0x000E);
  Quor::TraceCapture traces;
  Quor::LogCapture logs;
  GetParam().step(*this);
  auto const trimmed = [](std::string const& text) { return std::regex_replace(text, edges, ""); };
  std::vector<std::string> lines;
  for (auto const& record : traces.records()) {
    lines.push_back(fmt::format("{} {}: {}", record.handle, record.level, trimmed(record.message)));
  }
  for (auto const& record : logs.records()) {
    lines.push_back(record.name + ": " + record.message);
  }
  for (auto const& record : Rapidlog::readTraceFile(rapidlogPath())) {
    lines.push_back("rapidlog: " + trimmed(record.message));
  }
  auto const emitted = [&](std::string const& text) {
    return std::any_of(lines.begin(), lines.end(), [&](std::string const& line) {
      return text.ends_with('*') ? line.starts_with(text.substr(0, text.size() - 1)) : line == text;
    });
  };
  for (bool const wanted : {true, false}) {
    for (std::string const& text : wanted ? GetParam().emitted : GetParam().notEmitted) {
      EXPECT_EQ(emitted(text), wanted) << text << "\namong\n" << ::testing::PrintToString(lines);
    }
  }
}

// Steps rows share: starting the interface; another agent's three writes to
// unit 0, and unless 0 the hardware's published version.
auto const start = [](TcamTextTest& t) { t.intf(); };
std::function<void(TcamTextTest&)> threeWritten(Zido::LogVersion published = 0) {
  return [published](TcamTextTest& t) {
    t.writeInAnotherAgent({0}, 3);
    if (published != 0) {
      t.publishHardwareVersion(published);
    }
  };
}

std::string const configBase = "zido/ZaduRoute-ZaduRoute/ZaduLpm/Tcam/config/";

OperatorTexts const operatorTexts[] = {
    {"StartWithoutAHardwareVersion",
     start,
     {"TcamInterface 3: Creating entry log for 02:01:0809", "TcamEntryLog 2: Mounted entryLog: *",
      "TcamInterface 2: Entry log created for table id: 02:01:0809 at version: 3"},
     {"TcamInterface 3: Cleaned entry log*", "TcamInterface 2: Turning ON pendingHwWrites"},
     threeWritten()},
    {"StartCaughtUpWithTheHardware",
     start,
     {"TcamInterface 3: Cleaned entry log until table version: 3"},
     {"TcamInterface 2: Turning ON pendingHwWrites"},
     threeWritten(3)},
    {"StartAheadOfTheHardware",
     start,
     {"TcamInterface 2: Turning ON pendingHwWrites"},
     {},
     threeWritten(2)},
    {"StartAfterAWriterWasKilledMidWrite",
     start,
     {"TcamEntryLog 2: Rolled forward 1 configuration records the change log lacked, "
      "tableVersion: 1"},
     {},
     [](TcamTextTest& t) {
       t.runAgent([](TcamInterface& intf) {
         intf.makeSwTable(0, nullptr, false);
         intf.entryLog()->tableConfigPantry(0)->swTableEntriesIs({1, {}, false});  // not logged
       });
     }},
    {"StartOnDamagedCollections",
     [](TcamTextTest& t) { t.table(1); },
     {"HW_ABSTRACTION_ERROR: Hardware abstraction error: unable to load item: entryLog::Tcam",
      "HW_ABSTRACTION_ERROR: Hardware abstraction error: unable to load item: entryCfg::Tcam"},
     {},
     [](TcamTextTest& t) {
       t.writeInAnotherAgent({1});
       for (auto const& path : {ZaduLpmLib::TcamConstants::configPantryPath(1),
                                ZaduLpmLib::TcamConstants::tableEntryLogPantryPath()}) {
         std::ofstream(t.sharedMemory()->filePathOf(path)) << "not a segment";
       }
     }},
    {"RestoreAndReconcile",
     [](TcamTextTest& t) {
       t.table(1);
       t.intf()->reconcile();
     },
     {"TcamEntryLog 2: Mounted config for unitId: 1 at *",
      "TcamInterface 2: Restored 1 entries for table: Tcam, unitId: 1",
      "rapidlog: Restored 1 entries for table: Tcam, unitId: 1",
      "TcamInterface 3: No. of config entities found: 3, in pantry path: " + configBase,
      "TCAM_CONFIG_ENTITY_SKIPPED: Skipping " + configBase +
          "stray, found under the TCAM configuration path: not a segment of this layout version",
      "TcamInterface 3: Found inactive unit id: 4",
      "TcamInterface 2: Clearing entries for table: Tcam, unitId: 4",
      "rapidlog: Clearing entries for table: Tcam, unitId: 4"},
     {"TcamInterface 3: Found inactive unit id: 1"},
     [](TcamTextTest& t) {
       t.writeInAnotherAgent({1, 4});
       std::ofstream(t.sharedMemory()->filePathOf(configBase + "stray")) << "x";
     }},
    {"MakeATableAgainThenLetTheInterfaceGo",
     [](TcamTextTest& t) {
       t.table(3);
       t.intf()->makeSwTable(3, new ZaduLpm::TcamSwTableHelperBase(), true);
       t.intf()->onDelete();
     },
     {"TcamInterface 3: swTable with unitId: 3 exists",
      "TcamInterface 2: Update software table helper",
      "TcamInterface 2: Clearing entries for table id: 02:01:0809", "TcamInterface 2: onDelete"}},
    {"AcceptAndWaitForADependency",
     [](TcamTextTest& t) {
       t.table()->entryRemove(keyOf(2), nullptr);
       t.table()->entryRemoveAll(nullptr);
       auto const dependency = dependencyIn(Zido::EntryState::pending);
       t.table()->entryWrite(keyOf(4), entryOf(4), dependency);
       t.commitAll();
       dependency->entryStateIs(Zido::EntryState::logged);
       t.group()->resolver()->updateGenId();
       t.commitAll();
     },
     {"TcamSwTable 2: Done processing remove for key: 10.0.2.0/24",
      "TcamSwTable 2: Done processing remove all",
      "TcamSwTable 2: Done processing write for key: 10.0.4.0/24",
      "TcamSwTable 3: key: 10.0.4.0/24 dependant entry not yet resolved",
      "TcamSwTable 3: key: 10.0.4.0/24 dependant entry is resolved",
      "TcamSwTable 3: key: 10.0.4.0/24, isEntryDeleted: false, isTableDeleted: false, resolved: "
      "true"}},
    {"FailADependentOperation",
     [](TcamTextTest& t) {
       auto const failed = dependencyIn(Zido::EntryState::hardwareFailed);
       t.table()->entryWrite(keyOf(3), entryOf(3), failed);
       t.table()->entryRemoveAll(failed);
       t.commitAll();
       ZaduLpm::tcamEntryWrapperFactory(entryOf(3), nullptr)->finalizeOnFailure(t.table(), false);
     },
     {"TcamSwTable 1: Failed dependent entry for key: 10.0.3.0/24",
      "TcamSwTable 1: Failed to commit entry key: 10.0.3.0/24",
      "TcamSwTable 1: Failed dependent entry for remove all",
      "TcamSwTable 1: Failed to commit entry remove all operation",
      "TcamSwTable 3: retVal: false"}},
    {"HoldBackWithoutRoomInTheChangeLog",
     [](TcamTextTest& t) {
       t.table()->entryWrite(keyOf(1), entryOf(1), nullptr);
       t.commitAll();
       fillChangeLog(*t.entryLog(), 2, ZaduLpmLib::TcamConstants::entryLogCapacity);
       t.table()->entryRemove(keyOf(1), nullptr);
       t.commitAll();
     },
     {"TcamSwTable 1: key: 10.0.1.0/24, isEntryDeleted: true : no space in entryLog!"}},
    {"FailAWriteToAFullUnit",
     [](TcamTextTest& t) {
       fillConfig(*t.table()->entryLog(), 0);
       t.table()->entryWrite(keyOf(1), entryOf(1), nullptr);
       t.commitAll();
     },
     {"RESOLVER_COMMIT_FAILED: Commit of a queued table operation failed: configuration table of "
      "unitId 0 is full: cannot add key 10.0.1.0/24 (pantry collection swTableEntries at *"}},
    {"CompleteWhatTheHardwareTook",
     [](TcamTextTest& t) {
       t.table()->entryWriteWithResponseHandler(keyOf(1), entryOf(1), nullptr, [](auto const&) {
         throw std::runtime_error("client failed");
       });
       t.commitAll();
       t.intf()->swTableSet()->tableStatusVersion(1);
     },
     {"TcamSwTable 3: Processing version: 1, key: 10.0.1.0/24",
      "TABLE_STATUS_VERSION_FAILED: Hardware progress could not be applied to table 02:01:0809 "
      "unit 0: client failed",
      "TcamSwTable 3: pendingHwWrites for swTable: tableId: 02:01:0809, unitId0 is false"}},
    {"ReadAndUpdate",
     [](TcamTextTest& t) {
       auto const table = t.table();
       table->entryWrite(keyOf(1), entryOf(1), nullptr);
       table->entryWrite(keyOf(2), entryOf(2), nullptr);
       t.commitAll();
       table->entryRemove(keyOf(2), nullptr);
       table->entryRead(keyOf(2));
       table->entryRead(keyOf(9));
       table->updateEntry(keyOf(9));
       table->updateEntry(keyOf(1));
       table->swTableHelperIs(new AdjacencyChanger());
       table->updateEntry(keyOf(1));
     },
     {"TcamSwTable 1: Failed to find entry for key: 10.0.9.0/24",
      "TcamSwTable 3: key: 10.0.9.0/24 entry does not exist",
      "TcamSwTable 3: key: 10.0.1.0/24, commitToLog: true, no change in logEntry or don't commit "
      "to log",
      "TcamSwTable 3: key: 10.0.1.0/24, neededEntry: {}, entryLogVersion: 3"},
     {"TcamSwTable 1: Failed to find entry for key: 10.0.2.0/24"}},
    {"SuppressDeleteAndCleanUp",
     [](TcamTextTest& t) {
       Vesk::Ptr<Zido::SwTableStats> stats(new Zido::SwTableStats());
       t.table(0);
       t.table(1);
       for (std::uint32_t value : {1, 1, 2}) {
         t.entryLog()->entryIs({entryOf(1, value).data, {}}, {}, nullptr, 0, stats, true);
       }
       t.entryLog()->entryIs({entryOf(1).data, {}}, {}, nullptr, 1, stats, false);
       t.entryLog()->entryDel(keyOf(4), nullptr, 0);
       t.entryLog()->tableDel(nullptr, 0);
       t.entryLog()->tableConfigPantryDel(1);
       t.entryLog()->cleanupEntryLog(t.entryLog()->tableVersion());
     },
     {"TcamEntryLog 3: Suppressing identical write for key: 10.0.1.0/24",
      "TcamEntryLog 3: Not Suppressing write because entry or resource key is different  for key: "
      "10.0.1.0/24",
      "TcamEntryLog 3: key: 10.0.4.0/24 entry does not exist. So ignoring delete",
      "TcamEntryLog 3: deleteing all entries for unitId: 0",
      "TcamEntryLog 3: configPantry not found for unitId: 1"}},
    {"ReadADamagedRecord",
     [](TcamTextTest& t) {
       for (std::uint32_t n = 0; n < 10; ++n) {
         t.table()->entryWrite(keyOf(n), entryOf(n), nullptr);
       }
       t.commitAll();
       damageHomeSlot(t.entryLog()->tableConfigPantry(0)->swTableEntries(), keyOf(4));
       t.table()->entryFromConfig(keyOf(4));
     },
     {"PANTRY_CORRUPTION_DETECTED: Shared-memory collection corruption detected: pantry segment "
      "*"}}};

INSTANTIATE_TEST_SUITE_P(Every, TcamTextTest, ::testing::ValuesIn(operatorTexts),
                         [](auto const& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ZaduTest
