// The TCAM table inside the agent: ns per operation, and allocations per
// operation, for
//   accept     entryWrite of 65,536 distinct keys, and of 64 hot keys
//              rewritten (nothing committed)
//   in-log     the table's in-log queue (enqueue then dequeue) against
//              std::deque
//   entry log  entryIs, entryDel, tableDel of 65,536 entries spread over 1, 4
//              and 8 mounted units, and the cleanup per cleaned version
//   road       entryWrite -> resolver commit -> tableStatusVersion -> handler,
//              in batches of 4,096, for 65,536 keys on 1 unit and on 8 units
//   reads      entryRead and entryHas of pending and of committed keys
//   walk       a full iteration of 65,536 committed entries
//   interface  makeSwTable restoring 0, 1,000 and 65,536 committed entries
//              (after a remount, as a restarted agent does), and reconcile
//              of 8 units of 65,536 entries each
//
//   table_bench [--quick] [group]   (--quick: one round instead of three;
//                                    group: accept, in-log, entry-log, road,
//                                    reads, interface; all when absent)
//
// Shared memory lives under a scratch directory in /dev/shm. "slab" counts
// objects taken from the slab pools (handles, wrappers, resolver entries,
// needed-entry sets); "heap" counts calls of the global operator new.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <new>
#include <string>
#include <vector>

#include "CountingAllocator.h"
#include "ZaduLpm/TcamInterface.h"
#include "ZaduLpm/TcamSwTable.h"
#include "ZaduLpmLib/TcamConstants.h"
#include "Zido/GroupInterface.h"
#include "Zido/OrderedSwTableSet.h"

namespace {

using Clock = std::chrono::steady_clock;
using ZaduLpm::TcamSwTable;
using ZaduLpmLib::TcamDataModelEntry;
using ZaduLpmLib::TcamDataModelEntryKey;

constexpr std::uint32_t keys = 65536;
int rounds = 3;

TcamDataModelEntryKey keyOf(std::uint32_t n) {
  return TcamDataModelEntryKey((10u << 24) | (n << 8), 24);
}
TcamDataModelEntry entryOf(std::uint32_t n) {
  TcamDataModelEntry entry;
  entry.data.key = keyOf(n);
  entry.data.adjacencyIndex = n;
  return entry;
}

std::uint64_t slabAllocations() {
  return TcamSwTable::EntryHandle::memAllocationTracker_.allocated() +
         ZaduLpm::TcamEntryWrapper::memAllocationTracker_.allocated() +
         ZaduLpm::TcamResolverEntry::memAllocationTracker_.allocated() +
         Zido::NeededEntry::memAllocationTracker_.allocated();
}

struct Figure {
  double ns = 1e300;
  double slab = 0;
  double heap = 0;
};
std::map<std::string, Figure> figures;
std::vector<std::string> order;

// Runs `body` (which does `operations` operations) and keeps the best time.
template <class Body>
void measure(std::string const& name, std::size_t operations, Body&& body) {
  std::uint64_t const slab = slabAllocations();
  std::uint64_t const heap = heapAllocationCount();
  Clock::time_point const start = Clock::now();
  body();
  double const ns = std::chrono::duration<double, std::nano>(Clock::now() - start).count() /
                    static_cast<double>(operations);
  auto [figure, inserted] = figures.try_emplace(name);
  if (inserted) {
    order.push_back(name);
  }
  if (ns < figure->second.ns) {
    figure->second.ns = ns;
    figure->second.slab = static_cast<double>(slabAllocations() - slab) / operations;
    figure->second.heap = static_cast<double>(heapAllocationCount() - heap) / operations;
  }
}

// An agent's table id on a fresh shared-memory root, with `units` tables.
class Agent {
 public:
  explicit Agent(Zido::UnitId units) {
    static int serial = 0;
    root_ = std::filesystem::path(std::filesystem::exists("/dev/shm") ? "/dev/shm" : "/tmp") /
            ("zadu-table-bench-" + std::to_string(getpid()) + "-" + std::to_string(serial++));
    std::filesystem::create_directories(root_);
    setenv("ZADU_SHM_ROOT", root_.c_str(), 1);
    central = new Centrum::EntityManager(root_.filename().string(), true);
    group =
        new Zido::GroupInterface(ZaduLpmLib::TcamConstants::agentName,
                                 ZaduLpmLib::TcamConstants::groupName, 0x0201, central, nullptr);
    set = new Zido::OrderedSwTableSet(tableId, new Zido::OrderedSwTableStatus(tableId));
    entryLog =
        ZaduLpm::tcamEntryLogFactory(tableId, central, group, ZaduLpmLib::TcamConstants::agentName);
    for (Zido::UnitId unit = 0; unit < units; ++unit) {
      tables.push_back(
          ZaduLpm::makeUnitSwTable(new Zido::CanonicalTableName(0, "ZaduRoute", "ZaduLpm", "Tcam"),
                                   unit, *set, entryLog, group->resolver(), 0));
      set->swTableIs(tables.back());
    }
  }
  ~Agent() {
    tables.clear();
    set = nullptr;
    entryLog = nullptr;
    group = nullptr;
    central = nullptr;
    std::filesystem::remove_all(root_);
  }

  Zido::SwTableId const tableId{ZaduLpmLib::TcamConstants::tableIdValue};
  Vesk::Ptr<Centrum::EntityManager> central;
  Vesk::Ptr<Zido::GroupInterface> group;
  Vesk::Ptr<Zido::OrderedSwTableSet> set;
  Vesk::Ptr<ZaduLpm::TcamEntryLog> entryLog;
  std::vector<Vesk::Ptr<TcamSwTable>> tables;

 private:
  std::filesystem::path root_;
};

void acceptBench() {
  {
    Agent agent(1);
    TcamSwTable& table = *agent.tables[0];
    measure("accept: entryWrite, 65,536 distinct keys", keys, [&] {
      for (std::uint32_t n = 0; n < keys; ++n) {
        table.entryWrite(keyOf(n), entryOf(n), nullptr);
      }
    });
  }
  {
    Agent agent(1);
    TcamSwTable& table = *agent.tables[0];
    measure("accept: entryWrite, 64 hot keys rewritten", keys, [&] {
      for (std::uint32_t n = 0; n < keys; ++n) {
        table.entryWrite(keyOf(n % 64), entryOf(n), nullptr);
      }
    });
  }
}

void inLogBench() {
  Agent agent(1);
  TcamSwTable& table = *agent.tables[0];
  std::vector<Vesk::Ptr<TcamSwTable::EntryHandle>> handles;
  for (std::uint32_t n = 0; n < keys; ++n) {
    handles.push_back(ZaduLpm::entryHandleFactory({0, 0}, keyOf(n), &table));
  }
  measure("in-log: enqueue + dequeue (table queue)", keys, [&] {
    for (auto const& handle : handles) {
      table.entryHandleInLogEnq(handle);
    }
    while (table.entryHandleInLogDeq()) {
    }
  });
  measure("in-log: enqueue + dequeue (std::deque)", keys, [&] {
    std::deque<Vesk::Ptr<TcamSwTable::EntryHandle>> queue;
    for (auto const& handle : handles) {
      queue.push_back(handle);
    }
    while (!queue.empty()) {
      queue.pop_front();
    }
  });
}

void entryLogBench() {
  for (Zido::UnitId units : {1, 4, 8}) {
    Agent agent(units);
    ZaduLpm::TcamEntryLog& log = *agent.entryLog;
    std::string const suffix = ", " + std::to_string(units) + " unit" + (units > 1 ? "s" : "");
    auto const unitOf = [&](std::uint32_t n) { return static_cast<Zido::UnitId>(n % units); };
    measure("entry log: entryIs" + suffix, keys, [&] {
      for (std::uint32_t n = 0; n < keys; ++n) {
        log.entryIs({entryOf(n).data, {}}, {}, nullptr, unitOf(n), nullptr, false);
      }
    });
    measure("entry log: entryDel" + suffix, keys, [&] {
      for (std::uint32_t n = 0; n < keys; ++n) {
        log.entryDel(keyOf(n), nullptr, unitOf(n));
      }
    });
    measure("entry log: cleanup, per version" + suffix, 2 * keys,
            [&] { log.cleanupEntryLog(log.tableVersion()); });
    for (std::uint32_t n = 0; n < keys; ++n) {
      log.entryIs({entryOf(n).data, {}}, {}, nullptr, unitOf(n), nullptr, false);
    }
    measure("entry log: tableDel, per entry" + suffix, keys, [&] {
      for (Zido::UnitId unit = 0; unit < units; ++unit) {
        log.tableDel(nullptr, unit);
      }
    });
  }
}

void roadBench() {
  for (Zido::UnitId units : {1, 8}) {
    Agent agent(units);
    std::uint64_t completed = 0;
    TcamSwTable::ResponseHandler const handler = [&](auto const&) { ++completed; };
    std::uint32_t const operations = keys * units;
    std::string const name = "road: write to handler, 65,536 keys on " + std::to_string(units) +
                             " unit" + (units > 1 ? "s" : "");
    measure(name, operations, [&] {
      constexpr std::uint32_t batch = 4096;
      for (std::uint32_t first = 0; first < keys; first += batch) {
        for (auto const& table : agent.tables) {
          for (std::uint32_t n = first; n < first + batch; ++n) {
            table->entryWriteWithResponseHandler(keyOf(n), entryOf(n), nullptr, handler);
          }
        }
        agent.group->resolver()->runUntilIdle();
        agent.set->tableStatusVersion(agent.entryLog->tableVersion());
      }
    });
    if (completed != operations) {
      std::fprintf(stderr, "road: %llu of %u handlers called\n",
                   static_cast<unsigned long long>(completed), operations);
      std::exit(1);
    }
  }
}

void readBench() {
  Agent agent(1);
  TcamSwTable& table = *agent.tables[0];
  for (std::uint32_t n = 0; n < keys; ++n) {
    table.entryWrite(keyOf(n), entryOf(n), nullptr);
  }
  std::uint64_t found = 0;
  measure("reads: entryRead, pending keys", keys, [&] {
    for (std::uint32_t n = 0; n < keys; ++n) {
      found += table.entryRead(keyOf(n)).data.adjacencyIndex;
    }
  });
  measure("reads: entryHas, pending keys", keys, [&] {
    for (std::uint32_t n = 0; n < keys; ++n) {
      found += table.entryHas(keyOf(n)) ? 1 : 0;
    }
  });
  agent.group->resolver()->runUntilIdle();
  measure("reads: entryRead, committed keys", keys, [&] {
    for (std::uint32_t n = 0; n < keys; ++n) {
      found += table.entryRead(keyOf(n)).data.adjacencyIndex;
    }
  });
  measure("reads: entryHas, committed keys", keys, [&] {
    for (std::uint32_t n = 0; n < keys; ++n) {
      found += table.entryHas(keyOf(n)) ? 1 : 0;
    }
  });
  std::uint32_t walked = 0;
  measure("walk: full iteration, 65,536 committed", keys, [&] {
    walked = 0;
    for (TcamDataModelEntry const& entry : table.entryIteratorConst()) {
      walked += entry.data.adjacencyIndex == 0 ? 0 : 1;
    }
  });
  if (walked != keys - 1 || found == 0) {
    std::fprintf(stderr, "walk: %u entries\n", walked);
    std::exit(1);
  }
}

// A restarted agent: the process registry and the mounts of the previous
// agent are gone, the shared memory stays.
class RestartingAgent {
 public:
  RestartingAgent() {
    static int serial = 0;
    root_ = std::filesystem::path(std::filesystem::exists("/dev/shm") ? "/dev/shm" : "/tmp") /
            ("zadu-interface-bench-" + std::to_string(getpid()) + "-" + std::to_string(serial++));
    std::filesystem::create_directories(root_);
    setenv("ZADU_SHM_ROOT", root_.c_str(), 1);
    central = new Centrum::EntityManager(root_.filename().string(), true);
  }
  ~RestartingAgent() {
    stop();
    central = nullptr;
    std::filesystem::remove_all(root_);
  }
  Vesk::Ptr<ZaduLpm::TcamInterface> start() {
    agent = new Zido::OrderedTableInterface(central, nullptr);
    return ZaduLpm::TcamInterface::getIntf(agent);
  }
  void stop() {
    Quor::Entity::singletonDel(Zido::SwTableInterfacesSingleton::typeName);
    agent = nullptr;
    auto const sharedMemory =
        QuorSharedMem::EntityManager::getEntityManager(central->name(), central->local());
    sharedMemory->unmount(ZaduLpmLib::TcamConstants::tableEntryLogPantryPath());
    for (Zido::UnitId unit = 0; unit < 8; ++unit) {
      sharedMemory->unmount(ZaduLpmLib::TcamConstants::configPantryPath(unit));
    }
  }
  // Commits `entries` entries to each of `units` units, then stops.
  void populate(Zido::UnitId units, std::uint32_t entries) {
    {
      auto const intf = start();
      for (Zido::UnitId unit = 0; unit < units; ++unit) {
        intf->makeSwTable(unit, nullptr, false);
        for (std::uint32_t n = 0; n < entries; ++n) {
          intf->entryLog()->entryIs({entryOf(n).data, {}}, {}, nullptr, unit, nullptr, false);
        }
      }
      intf->entryLog()->cleanupEntryLog(intf->entryLog()->tableVersion());
    }
    stop();
  }

  Vesk::Ptr<Centrum::EntityManager> central;
  Vesk::Ptr<Zido::OrderedTableInterface> agent;

 private:
  std::filesystem::path root_;
};

void interfaceBench() {
  for (std::uint32_t entries : {0u, 1000u, keys}) {
    RestartingAgent agent;
    agent.populate(1, entries);
    auto const intf = agent.start();
    measure("interface: makeSwTable restoring " + std::to_string(entries) + " entries (us)", 1000,
            [&] {
              if (intf->makeSwTable(0, nullptr, false)->entrys() != entries) {
                std::fprintf(stderr, "restore: wrong count\n");
                std::exit(1);
              }
            });
  }
  RestartingAgent agent;
  agent.populate(8, keys);
  auto const intf = agent.start();
  measure("interface: reconcile, 8 units of 65,536 (us)", 1000, [&] { intf->reconcile(); });
}

}  // namespace

int main(int argc, char** argv) {
  std::map<std::string, void (*)()> const groups{
      {"accept", acceptBench}, {"in-log", inLogBench}, {"entry-log", entryLogBench},
      {"road", roadBench},     {"reads", readBench},   {"interface", interfaceBench}};
  std::vector<void (*)()> chosen;
  for (int argument = 1; argument < argc; ++argument) {
    if (std::strcmp(argv[argument], "--quick") == 0) {
      rounds = 1;
    } else if (auto const group = groups.find(argv[argument]); group != groups.end()) {
      chosen.push_back(group->second);
    } else {
      std::fprintf(
          stderr,
          "usage: table_bench [--quick] [accept|in-log|entry-log|road|reads|interface]...\n");
      return 2;
    }
  }
  if (chosen.empty()) {
    chosen = {acceptBench, inLogBench, entryLogBench, roadBench, readBench, interfaceBench};
  }
  for (int round = 0; round < rounds; ++round) {
    for (auto const run : chosen) {
      run();
    }
  }
  std::printf("%-52s %10s %8s %8s\n", "operation", "ns/op", "slab/op", "heap/op");
  for (std::string const& name : order) {
    Figure const& figure = figures[name];
    std::printf("%-52s %10.1f %8.2f %8.3f\n", name.c_str(), figure.ns, figure.slab, figure.heap);
  }
  return 0;
}
