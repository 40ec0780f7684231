// The adjacency table across agent crashes: a writer process that writes and
// removes next hops (and plays the hardware side, taking what it logged now
// and then) is killed with SIGKILL at random moments, again and again. After
// each kill the table, mounted again, must hold every next hop under the
// index its configuration record names, no index twice, a table version
// that never went back, and a change log that accounts for every
// configuration record it has not cleaned (what the killed writer left
// without its log record is rolled forward).
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "ZaduLpm/AdjacencyTable.h"
#include "Zido/Constants.h"
#include "support/ChildProcess.h"
#include "support/TcamTableFixture.h"

namespace ZaduTest {
namespace {

using ZaduLpm::AdjacencyTable;
using ZaduLpmLib::AdjacencyConstants;
using ZaduLpmLib::AdjacencyKey;
using ZaduLpmLib::NextHopPath;

constexpr char const* storeName = "adjacencycrashloop";

// Next hop n of a pool of 48: a single path, or for every fourth an ECMP
// group of three.
AdjacencyKey poolNextHop(std::uint32_t n) {
  if (n % 4 == 0) {
    return AdjacencyKey::of(
        std::vector<NextHopPath>{{0x0A000000u | n, 1}, {0x0A000100u | n, 2}, {0x0A000200u | n, 3}});
  }
  return AdjacencyKey::of(NextHopPath{0x0A000000u | n, n % 7});
}

struct Table {
  Table()
      : central(new Centrum::EntityManager(storeName, true)),
        group(new Zido::GroupInterface(ZaduLpmLib::TcamConstants::agentName,
                                       ZaduLpmLib::TcamConstants::groupName, 0x0201, central,
                                       nullptr)),
        table(new AdjacencyTable(central, group, nullptr)) {}
  ~Table() {
    table = nullptr;
    auto const sharedMemory = QuorSharedMem::EntityManager::getEntityManager(storeName, true);
    sharedMemory->unmount(AdjacencyConstants::configPantryPath());
    sharedMemory->unmount(AdjacencyConstants::logPantryPath());
    sharedMemory->unmount(Zido::Constants::neededEntryPantryPath(
        group->canonicalName(), Zido::SwTableId(AdjacencyConstants::tableIdValue)));
  }
  Vesk::Ptr<Centrum::EntityManager> central;
  Vesk::Ptr<Zido::GroupInterface> group;
  Vesk::Ptr<AdjacencyTable> table;
};

TEST(AdjacencyCrashLoopTest, AKilledWriterLeavesEveryIndexAndVersionIntact) {
  ScratchDirectory scratch;
  setenv("ZADU_SHM_ROOT", scratch.path().c_str(), 1);
  long const kills = knob("ZADU_CRASH_ITERATIONS", 200) / 5;
  std::mt19937 random(static_cast<unsigned>(knob("ZADU_CRASH_SEED", 17)));
  Zido::LogVersion before = 0;
  for (long life = 0; life < kills; ++life) {
    unsigned const seed = static_cast<unsigned>(random());
    {
      ChildProcess writer([seed](int reportFd) {
        Table agent;
        std::mt19937 choices(seed);
        sendMessage(reportFd, 1);
        for (;;) {
          AdjacencyKey const nextHop = poolNextHop(choices() % 48);
          if (choices() % 3 == 0) {
            agent.table->adjacencyRemove(nextHop, nullptr);
          } else {
            agent.table->adjacencyWrite(nextHop);
          }
          agent.group->resolver()->runUntilIdle();
          if (choices() % 8 == 0) {
            agent.table->tableStatusVersion(agent.table->tableVersion());
          }
        }
        return 0;
      });
      ASSERT_EQ(writer.readOne<int>(), 1);
      std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
      writer.killNow();
    }

    Table restarted;
    AdjacencyTable& table = *restarted.table;
    ASSERT_GE(table.tableVersion(), before) << "life " << life;
    before = table.tableVersion();
    ZaduLpmLib::AdjacencyLogRing& log = table.changeLog();
    std::set<std::uint32_t> indexes;
    auto& config = table.config();
    for (auto record = config.first(); record; record = config.nextAfter(record->key)) {
      SCOPED_TRACE(fmt::format("life {}: next hop {} index {} version {}", life, record->key,
                               record->index, record->logVersion));
      ASSERT_TRUE(record->key.valid());
      ASSERT_TRUE(indexes.insert(record->index).second) << "an index held twice";
      EXPECT_EQ(table.indexOf(record->key), record->index);
      ASSERT_LE(record->logVersion, table.tableVersion());
      if (log.count() != 0 && record->logVersion >= log.lowKey()) {
        auto const logged = log.lookup(record->logVersion);
        ASSERT_TRUE(logged.found) << "a configuration record the change log does not account for";
        EXPECT_EQ(logged.record.key, record->key);
        EXPECT_EQ(logged.record.index, record->index);
        EXPECT_EQ(logged.record.deleted(), record->inDeletion != 0);
      }
    }
    EXPECT_EQ(log.scratchpad(), table.tableVersion());
  }
  unsetenv("ZADU_SHM_ROOT");
}

}  // namespace
}  // namespace ZaduTest
