// The library's roads: the agent's tables over a real event loop with
// zadulpm-hw in another process, and the ceiling, where the agent publishes
// the hardware's version itself after every batch.
#include <cstdlib>

#include "ZaduLpm/AdjacencyInterface.h"
#include "ZaduLpm/TcamInterface.h"
#include "ZaduLpmLib/TcamConstants.h"
#include "Zido/Agent.h"
#include "Zido/Constants.h"
#include "Zido/GroupInterface.h"
#include "Zido/OrderedSwTableSet.h"
#include "bench/roads/ChildProcess.h"
#include "bench/roads/Road.h"

namespace ZaduBench {

namespace {

using ZaduLpm::TcamSwTable;
using Tables = std::vector<Vesk::Ptr<TcamSwTable>>;
using NextHops = std::vector<Vesk::Ptr<ZaduLpm::AdjacencyTable::EntryHandle>>;

// Accepts every operation of the workload, calling `pump` after each batch,
// and `steady` where phase 2 starts.
template <class Pump, class Steady>
void accept(Workload const& workload, Recorder& recorder, Tables const& tables,
            NextHops const& nextHops, Pump&& pump, Steady&& steady) {
  for (std::size_t index = 0; index < workload.operations.size(); ++index) {
    if (index == workload.firstSteadyOperation) {
      steady();
    }
    Operation const& operation = workload.operations[index];
    ZaduLpmLib::TcamDataModelEntryKey const key(operation.prefix, operation.length);
    TcamSwTable::ResponseHandler const handler = [&recorder, index](auto const&) {
      recorder.answered(index);
    };
    recorder.accepted(index);
    TcamSwTable& table = *tables[operation.unit];
    if (operation.remove) {
      table.entryRemoveWithResponseHandler(key, nullptr, handler);
    } else {
      // A route points at its next hop's adjacency and commits after it.
      ZaduLpm::AdjacencyTable::EntryHandle const& nextHop = *nextHops[operation.adjacency];
      ZaduLpmLib::TcamDataModelEntry entry;
      entry.keyIs(key);
      entry.data.adjacencyIndex = nextHop.index();
      table.entryWriteWithResponseHandler(key, entry, nextHops[operation.adjacency], handler);
    }
    if ((index + 1) % batch == 0) {
      pump();
    }
  }
}

NextHops nextHopHandles(ZaduLpm::AdjacencyTable& table, Workload const& workload) {
  NextHops handles;
  for (ZaduLpmLib::AdjacencyKey const& key : workload.nextHopKeys) {
    handles.push_back(table.adjacencyWrite(key));
  }
  return handles;
}

// Restarts the agent on the root the road left and restores unit 0.
double restoreMilliseconds() {
  Zido::Agent agent;
  auto const intf = ZaduLpm::TcamInterface::getIntf(agent.orderedTableInterface());
  auto const began = std::chrono::steady_clock::now();
  Vesk::Ptr<TcamSwTable> const table = intf->makeSwTable(0, nullptr, false);
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - began)
      .count();
}

}  // namespace

RoadResult runZadulpmRoad(Workload const& workload, RoadOptions const& options) {
  setenv("ZADU_SHM_ROOT", options.scratch.c_str(), 1);
  RoadResult result(options.acknowledgeOnly ? "zadulpm, hw acknowledges only" : "zadulpm",
                    workload.operations.size());
  Recorder recorder(workload.operations.size());
  {
    Zido::Agent agent;
    auto const intf = ZaduLpm::TcamInterface::getIntf(agent.orderedTableInterface());
    Tables tables;
    for (std::uint16_t unit = 0; unit < workload.units; ++unit) {
      tables.push_back(intf->makeSwTable(unit, nullptr, true));
    }
    auto const adjacencies = ZaduLpm::AdjacencyInterface::getIntf(agent.orderedTableInterface());
    auto const nextHops = nextHopHandles(*adjacencies->table(), workload);
    std::vector<std::string> arguments{"--root", options.scratch, "--wait", "30"};
    if (options.acknowledgeOnly) {
      arguments.push_back("--acknowledge-only");
    }
    ChildProcess hardware(options.hwProgram, arguments);

    ProcessMeter meter;
    accept(
        workload, recorder, tables, nextHops, [&] { agent.runUntilIdle(); },
        [&] { meter.steadyStateStarts(); });
    bool const settled =
        agent.runUntil([&] { return recorder.answerCount() == workload.operations.size(); },
                       std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                           std::chrono::duration<double>(options.timeoutSeconds)));
    if (!settled && hardware.exited()) {
      result.problem = "zadulpm-hw exited early";
    }
    meter.finish(result, recorder, workload.operations.size() - workload.firstSteadyOperation);
    result.storeMebibytes = mebibytesUnder(options.scratch);
    hardware.stop();
  }
  result.restoreMilliseconds = restoreMilliseconds();
  return result;
}

RoadResult runCeilingRoad(Workload const& workload, RoadOptions const& options) {
  setenv("ZADU_SHM_ROOT", options.scratch.c_str(), 1);
  RoadResult result("ceiling: in-process hw", workload.operations.size());
  Recorder recorder(workload.operations.size());
  Zido::SwTableId const tableId{ZaduLpmLib::TcamConstants::tableIdValue};
  Vesk::Ptr<Centrum::EntityManager> const central = new Centrum::EntityManager("ZaduRoute", true);
  Vesk::Ptr<Zido::GroupInterface> const group =
      new Zido::GroupInterface(ZaduLpmLib::TcamConstants::agentName,
                               ZaduLpmLib::TcamConstants::groupName, 0x0201, central, nullptr);
  Vesk::Ptr<Zido::OrderedSwTableSet> const set =
      new Zido::OrderedSwTableSet(tableId, new Zido::OrderedSwTableStatus(tableId));
  Vesk::Ptr<ZaduLpm::TcamEntryLog> const entryLog =
      ZaduLpm::tcamEntryLogFactory(tableId, central, group, ZaduLpmLib::TcamConstants::agentName);
  Tables tables;
  for (std::uint16_t unit = 0; unit < workload.units; ++unit) {
    tables.push_back(
        ZaduLpm::makeUnitSwTable(new Zido::CanonicalTableName(0, "ZaduRoute", "ZaduLpm", "Tcam"),
                                 unit, *set, entryLog, group->resolver(), 0));
    set->swTableIs(tables.back());
  }
  group->neededEntryLogIs(tableId, entryLog->tableVersion());
  Vesk::Ptr<ZaduLpm::AdjacencyTable> const adjacencies =
      new ZaduLpm::AdjacencyTable(central, group, nullptr);
  auto const nextHops = nextHopHandles(*adjacencies, workload);
  auto const publish = [&] {
    group->resolver()->runUntilIdle();
    adjacencies->tableStatusVersion(adjacencies->tableVersion());
    set->tableStatusVersion(entryLog->tableVersion());
  };

  ProcessMeter meter;
  accept(workload, recorder, tables, nextHops, publish, [&] { meter.steadyStateStarts(); });
  publish();
  publish();
  meter.finish(result, recorder, workload.operations.size() - workload.firstSteadyOperation);
  result.storeMebibytes = mebibytesUnder(options.scratch);
  tables.clear();
  return result;
}

}  // namespace ZaduBench
