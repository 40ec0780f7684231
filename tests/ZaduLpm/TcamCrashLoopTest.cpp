// The product's promise across agent crashes: an agent that writes, removes
// and clears entries over several units is killed with SIGKILL at random
// moments, again and again, while a hardware-side reader in another process
// follows the change log and publishes the version it has taken. After each
// restart (units claimed in a random order, some written before others are
// claimed, reconcile sometimes run early) the reader, once caught up with
// the restarted agent's table version, holds exactly the live records of
// every unit's configuration table, and no version was handed out twice.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <numeric>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "ZaduLpm/TcamInterface.h"
#include "ZaduLpmLib/TcamConstants.h"
#include "Zido/Agent.h"
#include "Zido/Constants.h"
#include "support/ChildProcess.h"
#include "support/ScratchDirectory.h"
#include "support/TcamTableFixture.h"

namespace ZaduTest {
namespace {

using ZaduLpm::TcamInterface;
using ZaduLpm::TcamSwTable;

constexpr Zido::UnitId units = 4;
constexpr std::uint32_t keysPerUnit = 3000;
constexpr char const* storeName = "crashloop";

// What the reader answers to a check request.
struct CheckReport {
  Zido::LogVersion taken = 0;
  std::uint64_t problems = 0;
  char detail[240] = {};
};

// The hardware side: applies change log records in version order to its own
// view of each unit, publishes the version taken, and on the parent's
// request (a version) catches up to it and compares its view with every
// configuration table.
class HardwareReader {
 public:
  HardwareReader()
      : sharedMemory_(QuorSharedMem::EntityManager::getEntityManager(storeName, true)),
        central_(new Centrum::EntityManager(storeName, true)),
        publisher_(*central_, "ZaduRoute-ZaduRoute"),
        changeLog_(changeLogReader(
            sharedMemory_->filePathOf(ZaduLpmLib::TcamConstants::tableEntryLogPantryPath()))) {}

  [[noreturn]] void serve(int reportFd) {
    for (;;) {
      std::size_t const applied = follow();
      if (ChildProcess::parentSent()) {
        sendMessage(reportFd, check(ChildProcess::readFromParent<Zido::LogVersion>()));
      } else if (applied == 0) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
    }
  }

 private:
  using View = std::map<ZaduLpmLib::TcamDataModelEntryKey, ZaduLpmLib::TcamDataModelEntryData>;

  // Applies the records after the version taken; publishes every 1,024
  // versions and when drained. Returns the records applied.
  std::size_t follow() {
    std::size_t applied = 0;
    for (;;) {
      // The writer stores a record before it raises the high key: a high key
      // read first vouches for every version up to it.
      bool const held = changeLog_->count() != 0;
      Zido::LogVersion const high = changeLog_->highKey();
      auto const found = changeLog_->lookup(taken_ + 1);
      if (!found.found) {
        if (held && high > taken_ && problems_ == 0) {
          report(
              fmt::format("version {} is missing from the change log (high {})", taken_ + 1, high));
        }
        break;
      }
      apply(found.record);
      taken_ = found.record.version;
      if (++applied % 1024 == 0) {
        publisher_.publish(TcamInterface::tableId(), taken_);
      }
    }
    if (applied != 0) {
      publisher_.publish(TcamInterface::tableId(), taken_);
    }
    return applied;
  }

  void apply(ZaduLpmLib::TcamDataModelLogPantryEntry const& record) {
    View& view = views_[record.unitId];
    if (record.tableDeleted()) {
      view.clear();
    } else if (record.entryDeleted()) {
      view.erase(record.entry.key);
    } else {
      view[record.entry.key] = record.entry;
    }
  }

  CheckReport check(Zido::LogVersion agentVersion) {
    auto const deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (taken_ < agentVersion && std::chrono::steady_clock::now() < deadline) {
      if (follow() == 0) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
    }
    if (taken_ != agentVersion) {
      report(fmt::format("the agent resumes at version {} but the change log ends at {}",
                         agentVersion, taken_));
    }
    std::map<Zido::LogVersion, Zido::UnitId> versionUnits;
    for (Zido::UnitId unit = 0; unit < units; ++unit) {
      // A unit never made, or whose segment a killed agent was still
      // creating, holds nothing.
      Vesk::Ptr<ZaduLpmLib::TcamDataModelConfigMap> config;
      try {
        config = configReader(
            sharedMemory_->filePathOf(ZaduLpmLib::TcamConstants::configPantryPath(unit)));
      } catch (Vesk::Exception const&) {
      }
      View const& view = views_[unit];
      std::size_t live = 0;
      for (auto record = config ? config->first() : std::nullopt; record;
           record = config->nextAfter(record->key())) {
        auto const [where, first] = versionUnits.emplace(record->logVersion, unit);
        if (!first && where->second != unit) {
          report(fmt::format("version {} is in the configuration of units {} and {}",
                             record->logVersion, where->second, unit));
        }
        if (record->inDeletion) {
          continue;
        }
        ++live;
        auto const held = view.find(record->key());
        if (held == view.end() || !(held->second == record->logEntry.entry)) {
          report(fmt::format("unit {}: configured key {} (version {}) is {} on the hardware", unit,
                             record->key(), record->logVersion,
                             held == view.end() ? "missing" : "different"));
        }
      }
      if (live != view.size()) {
        report(fmt::format("unit {}: {} live configuration records, {} on the hardware", unit, live,
                           view.size()));
      }
    }
    CheckReport result;
    result.taken = taken_;
    result.problems = problems_;
    std::strncpy(result.detail, detail_.c_str(), sizeof(result.detail) - 1);
    problems_ = 0;
    detail_.clear();
    return result;
  }

  void report(std::string const& problem) {
    if (problems_++ == 0) {
      detail_ = problem;
    }
  }

  Vesk::Ptr<QuorSharedMem::EntityManager> sharedMemory_;
  Vesk::Ptr<Centrum::EntityManager> central_;
  Zido::TableVersionPublisher publisher_;
  Vesk::Ptr<ZaduLpmLib::TcamDataModelLogRing> changeLog_;
  Zido::LogVersion taken_ = 0;
  std::map<Zido::UnitId, View> views_;
  std::uint64_t problems_ = 0;
  std::string detail_;
};

// One life of the agent: reports the table version it resumes at, waits for
// the parent, then claims its units in a random order while writing, and
// churns until it is killed.
[[noreturn]] void agentLife(int reportFd, unsigned seed) {
  Zido::Agent agent(storeName);
  auto const intf = TcamInterface::getIntf(agent.orderedTableInterface());
  sendMessage(reportFd, intf->entryLog()->tableVersion());
  ChildProcess::waitForParent();

  std::mt19937 random(seed);
  std::vector<Zido::UnitId> order(units);
  std::iota(order.begin(), order.end(), Zido::UnitId{0});
  std::shuffle(order.begin(), order.end(), random);
  std::vector<Vesk::Ptr<TcamSwTable>> tables;
  auto const churn = [&](int operations) {
    for (int n = 0; n < operations; ++n) {
      TcamSwTable& table = *tables[random() % tables.size()];
      std::uint32_t const key = random() % keysPerUnit;
      std::uint32_t const choice = random() % 1000;
      if (choice < 700) {
        table.entryWrite(keyOf(key), entryOf(key, random() % 4096), nullptr);
      } else if (choice < 998) {
        table.entryRemove(keyOf(key), nullptr);
      } else {
        table.entryRemoveAll(nullptr);
      }
    }
  };
  bool const reconcileEarly = random() % 2 == 0;
  for (std::size_t claimed = 0; claimed < order.size(); ++claimed) {
    tables.push_back(intf->makeSwTable(order[claimed], nullptr, false));
    churn(300);
    agent.runUntilIdle();
    if (reconcileEarly && claimed == 0) {
      intf->reconcile();  // the units not claimed yet are cleared here
    }
  }
  for (;;) {
    churn(200);
    agent.runFor(std::chrono::microseconds(100));
  }
}

TEST(TcamCrashLoopTest, TheHardwareSideSeesEveryCommittedRecordWhereverTheAgentIsKilled) {
  ScratchDirectory scratch;
  setenv("ZADU_SHM_ROOT", scratch.path().c_str(), 1);
  long const kills = knob("ZADU_CRASH_ITERATIONS", 200) / 5;
  std::mt19937 random(static_cast<unsigned>(knob("ZADU_CRASH_SEED", 13)));
  std::unique_ptr<ChildProcess> reader;
  for (long life = 0; life <= kills; ++life) {
    unsigned const seed = static_cast<unsigned>(random());
    ChildProcess agent([&](int reportFd) -> int { agentLife(reportFd, seed); });
    Zido::LogVersion const resumedAt = agent.readOne<Zido::LogVersion>();
    if (!reader) {
      reader = std::make_unique<ChildProcess>(
          [](int reportFd) -> int { HardwareReader().serve(reportFd); });
    }
    reader->sendToChild(resumedAt);
    CheckReport const report = reader->readOne<CheckReport>();
    ASSERT_EQ(report.problems, 0u) << "after " << life << " kills: " << report.detail;
    ASSERT_EQ(report.taken, resumedAt);
    if (life == kills) {
      break;
    }
    agent.tellChild();
    std::this_thread::sleep_for(std::chrono::microseconds(500 + random() % 30000));
    ASSERT_EQ(agent.killNow(), 128 + SIGKILL) << "the agent stopped on its own in life " << life;
  }
  unsetenv("ZADU_SHM_ROOT");
}

}  // namespace
}  // namespace ZaduTest
