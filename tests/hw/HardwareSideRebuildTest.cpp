// The hardware side's rebuild from the configuration tables, against the
// real table library: records in deletion stay in a unit's configuration
// table until the agent hears that the hardware has taken their deletes, so a
// hardware side restarted in that window finds them there. Its rebuild must
// program only the live records: a delete it had already published is never
// replayed, and a record rebuilt from it would stay in the TCAM for good.
//
// The agent runs in a child process (a TcamInterface over the test's scratch
// root, without an event loop: it never hears the hardware's version, so
// nothing is cleaned); the hardware sides run in this process, one after the
// other, as a hardware side that is restarted.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "ZaduLpm/TcamInterface.h"
#include "Zido/Constants.h"
#include "hw/HardwareSide.h"
#include "support/ChildProcess.h"
#include "support/TcamTableFixture.h"

namespace ZaduTest {
namespace {

using ZaduLpm::TcamInterface;

// What a unit holds: the adjacency by prefix, "10.0.1.0/24".
using Held = std::map<std::string, std::uint32_t>;

std::string prefixText(std::uint32_t prefix, std::uint8_t length) {
  return fmt::format("{}", TcamDataModelEntryKey(prefix, length));
}

class HardwareSideRebuildTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("ZADU_SHM_ROOT", scratch.path().c_str(), 1);
    store = ::testing::UnitTest::GetInstance()->current_test_info()->name();
  }
  void TearDown() override {
    stopHardware();
    Quor::TraceHandle::reset();
    unsetenv("ZADU_SHM_ROOT");
  }

  Vesk::Ptr<QuorSharedMem::EntityManager> sharedMemory() const {
    return QuorSharedMem::EntityManager::getEntityManager(store, true);
  }

  // An agent process: `body` gets its interface and reports through the
  // pipe. Started while no hardware side runs here: the fork would inherit
  // the hardware side's hold on the table versions.
  std::unique_ptr<ChildProcess> startAgent(
      std::function<void(TcamInterface&, Zido::GroupResolver&, int)> const& body) {
    return std::make_unique<ChildProcess>([this, body](int reportFd) {
      Vesk::Ptr<Centrum::EntityManager> const central = new Centrum::EntityManager(store, true);
      Vesk::Ptr<Zido::OrderedTableInterface> const agent =
          new Zido::OrderedTableInterface(central, nullptr);
      auto const intf = TcamInterface::getIntf(agent);
      auto const group =
          agent->groupInterfaceColl()->groupIntf(Zido::Constants::canonicalizeGroupName(
              ZaduLpmLib::TcamConstants::agentName, ZaduLpmLib::TcamConstants::groupName));
      body(*intf, *group->resolver(), reportFd);
      pause();
      return 0;
    });
  }

  // A hardware side (re)started on the store: it rebuilds every unit from
  // its configuration table, and follows the change log from the version
  // last published.
  void startHardware() {
    stopHardware();
    ZaduHw::HardwareOptions options;
    options.store = store;
    hardware = std::make_unique<ZaduHw::HardwareSide>(options);
    hardware->start(std::chrono::seconds(5), [] {});
  }
  // The hardware side's process ends: its hold on the table versions goes
  // with it.
  void stopHardware() {
    if (hardware) {
      hardware.reset();
      sharedMemory()->unmount(
          Zido::Constants::tableVersionPantryPath(Zido::Constants::canonicalizeGroupName(
              ZaduLpmLib::TcamConstants::agentName, ZaduLpmLib::TcamConstants::groupName)));
    }
  }
  // Lets the hardware side take everything the agent has logged.
  void drain() {
    for (int step = 0; step < 1000 && !hardware->drained(); ++step) {
      hardware->step();
    }
    ASSERT_TRUE(hardware->drained());
  }

  // The unit's TCAM in the running hardware side.
  Held tcam(Zido::UnitId unit) const {
    Held held;
    auto const found = hardware->units().find(unit);
    if (found != hardware->units().end()) {
      found->second.forEach([&](std::uint32_t prefix, std::uint8_t length, std::uint32_t result) {
        held[prefixText(prefix, length)] = result;
      });
    }
    return held;
  }
  // The live records of the unit's configuration table, read as the
  // hardware side reads them; `inDeletion` counts the others.
  Held liveConfig(Zido::UnitId unit, std::size_t* inDeletion = nullptr) const {
    auto const config =
        configReader(sharedMemory()->filePathOf(ZaduLpmLib::TcamConstants::configPantryPath(unit)));
    Held held;
    std::size_t deleted = 0;
    for (auto record = config->first(); record; record = config->nextAfter(record->key())) {
      if (record->inDeletion) {
        ++deleted;
      } else {
        held[prefixText(record->key().prefix, record->key().length)] =
            record->logEntry.entry.adjacencyIndex;
      }
    }
    if (inDeletion != nullptr) {
      *inDeletion = deleted;
    }
    return held;
  }

  // Keys first to end - 1 (keyOf(n)), each with adjacency `adjacency`.
  static Held keys(std::uint32_t first, std::uint32_t end, std::uint32_t adjacency) {
    Held held;
    for (std::uint32_t n = first; n < end; ++n) {
      held[prefixText(keyOf(n).prefix, keyOf(n).length)] = adjacency;
    }
    return held;
  }

  ScratchDirectory scratch;
  std::string store;
  std::unique_ptr<ZaduHw::HardwareSide> hardware;
};

TEST_F(HardwareSideRebuildTest, RecordsInDeletionAreNotProgrammedWhetherTheirDeleteWasTakenOrNot) {
  // Units 0 and 1 get keys 0 to 99; the hardware side takes them.
  auto const agent = startAgent([](TcamInterface& intf, Zido::GroupResolver& resolver, int fd) {
    auto const unit0 = intf.makeSwTable(0, nullptr, true);
    auto const unit1 = intf.makeSwTable(1, nullptr, true);
    for (std::uint32_t n = 0; n < 100; ++n) {
      unit0->entryWrite(keyOf(n), entryOf(n, 1), nullptr);
      unit1->entryWrite(keyOf(n), entryOf(n, 2), nullptr);
    }
    resolver.runUntilIdle();
    sendMessage(fd, 1);
    // Deletes the hardware side takes and publishes: keys 0 to 29 of unit 0
    // and 0 to 9 of unit 1.
    ChildProcess::waitForParent();
    for (std::uint32_t n = 0; n < 30; ++n) {
      unit0->entryRemove(keyOf(n), nullptr);
    }
    for (std::uint32_t n = 0; n < 10; ++n) {
      unit1->entryRemove(keyOf(n), nullptr);
    }
    resolver.runUntilIdle();
    sendMessage(fd, 2);
    // Changes made while the hardware side is down: deletes of keys 30 to
    // 39 of unit 0, a rewrite of key 50 on unit 1.
    ChildProcess::waitForParent();
    for (std::uint32_t n = 30; n < 40; ++n) {
      unit0->entryRemove(keyOf(n), nullptr);
    }
    unit1->entryWrite(keyOf(50), entryOf(50, 7), nullptr);
    resolver.runUntilIdle();
    sendMessage(fd, 3);
  });
  ASSERT_EQ(agent->readOne<int>(), 1);
  startHardware();
  drain();
  agent->tellChild();
  ASSERT_EQ(agent->readOne<int>(), 2);
  drain();
  EXPECT_EQ(tcam(0), keys(30, 100, 1));
  agent->tellChild();
  ASSERT_EQ(agent->readOne<int>(), 3);

  // The agent never heard the published version: every delete is still in
  // the configuration, marked.
  std::size_t inDeletion = 0;
  EXPECT_EQ(liveConfig(0, &inDeletion), keys(40, 100, 1));
  EXPECT_EQ(inDeletion, 40u);
  Held unit1 = keys(10, 100, 2);
  unit1[prefixText(keyOf(50).prefix, keyOf(50).length)] = 7;
  EXPECT_EQ(liveConfig(1, &inDeletion), unit1);
  EXPECT_EQ(inDeletion, 10u);

  // A restarted hardware side: its rebuild holds the live records only, and
  // so does it once it has followed the log.
  startHardware();
  EXPECT_EQ(tcam(0), keys(40, 100, 1));
  EXPECT_EQ(tcam(1), liveConfig(1));
  drain();
  EXPECT_EQ(tcam(0), keys(40, 100, 1));
  EXPECT_EQ(tcam(1), unit1);
}

TEST_F(HardwareSideRebuildTest, AUnitClearedByATableDeleteIsRebuiltEmpty) {
  auto first = startAgent([](TcamInterface& intf, Zido::GroupResolver& resolver, int fd) {
    for (Zido::UnitId unit = 0; unit < 3; ++unit) {
      auto const table = intf.makeSwTable(unit, nullptr, true);
      for (std::uint32_t n = 0; n < 50; ++n) {
        table->entryWrite(keyOf(n), entryOf(n, unit + 1), nullptr);
      }
    }
    resolver.runUntilIdle();
    sendMessage(fd, 1);
  });
  ASSERT_EQ(first->readOne<int>(), 1);
  startHardware();
  drain();
  EXPECT_EQ(tcam(2), keys(0, 50, 3));
  stopHardware();
  first->killNow();

  // The restarted agent claims units 0 and 1: reconcile clears unit 2 with
  // a table delete, which the next hardware side takes and publishes.
  auto const second = startAgent([](TcamInterface& intf, Zido::GroupResolver&, int fd) {
    intf.makeSwTable(0, nullptr, false);
    intf.makeSwTable(1, nullptr, false);
    intf.reconcile();
    sendMessage(fd, 2);
  });
  ASSERT_EQ(second->readOne<int>(), 2);
  startHardware();
  drain();
  EXPECT_TRUE(tcam(2).empty());
  std::size_t inDeletion = 0;
  EXPECT_TRUE(liveConfig(2, &inDeletion).empty());
  EXPECT_EQ(inDeletion, 50u);

  startHardware();
  EXPECT_TRUE(tcam(2).empty());
  EXPECT_EQ(tcam(0), keys(0, 50, 1));
  EXPECT_EQ(tcam(1), keys(0, 50, 2));
  drain();
  EXPECT_TRUE(tcam(2).empty());
  EXPECT_EQ(tcam(0), keys(0, 50, 1));
}

TEST_F(HardwareSideRebuildTest, AChangeLogItCannotUseIsReportedAtOnceNotWaitedFor) {
  // Waiting for the agent makes sense only while the log is not there yet:
  // a log path that is no file, or a directory on the way that is a link,
  // will not mend itself, and start() says so without waiting out its wait.
  std::filesystem::path const logFile =
      QuorSharedMem::EntityManager::getEntityManager(store, true)
          ->filePathOf(ZaduLpmLib::TcamConstants::tableEntryLogPantryPath());
  std::filesystem::create_directories(logFile);
  ZaduHw::HardwareOptions options;
  options.store = store;
  auto const startFails = [&](std::string const& naming) {
    ZaduHw::HardwareSide hardwareSide(options);
    try {
      hardwareSide.start(std::chrono::seconds(60), [] {});
      ADD_FAILURE() << "started over " << naming;
    } catch (ZaduHw::HardwareError const& error) {
      EXPECT_NE(std::string(error.what()).find(naming), std::string::npos) << error.what();
      EXPECT_EQ(std::string(error.what()).find("is the agent running?"), std::string::npos);
    }
    sharedMemory()->unmount(
        Zido::Constants::tableVersionPantryPath(ZaduLpmLib::TcamConstants::canonicalGroupName()));
  };
  startFails(logFile.string());

  std::filesystem::path const tables = logFile.parent_path().parent_path();  // .../ZaduLpm
  std::filesystem::path const elsewhere = scratch.path() / "elsewhere";
  std::filesystem::remove_all(logFile);
  std::filesystem::rename(tables, elsewhere);
  std::filesystem::create_directory_symlink(elsewhere, tables);
  startFails(tables.string());
}

}  // namespace
}  // namespace ZaduTest
