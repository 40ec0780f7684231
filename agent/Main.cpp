// zadulpm-agent: a client agent that uses the library as a routing agent
// does: it programs a route table over its units, each route pointing at the
// adjacency of its next hop (one path or an ECMP group) in the adjacency
// table and depending on that next hop's handle; with --churn it then
// churns it (new next hops, removes, a remove-all and refill of unit 0);
// once its routes are answered it removes the next hops no route uses, and
// reports. With --restore it resynchronises after a restart instead: units
// restored from shared memory, reconcile, then every claimed unit brought to
// the intended final route set (next hops keep their indexes, so routes
// already in place are not written again).
#include <fmt/format.h>
#include <CLI/CLI.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include <unistd.h>

#include "CommandLine/CommandLine.h"
#include "Pantry/Segment.h"
#include "ZaduLpm/AdjacencyInterface.h"
#include "ZaduLpm/TcamInterface.h"
#include "ZaduLpmLib/Ipv4Text.h"
#include "Zido/Agent.h"
#include "Zido/Constants.h"
#include "agent/Programmer.h"
#include "agent/Routes.h"

namespace {

using Clock = std::chrono::steady_clock;
using ZaduAgent::Programmer;
using ZaduAgent::Route;

struct Options {
  std::string routeFile;
  std::uint16_t units = 4;
  std::uint32_t generated = 200000;
  std::uint64_t seed = 1;
  bool restore = false;
  bool churn = false;
  bool allowEmpty = false;
  int skipUnit = -1;
  double timeout = 120;
  bool json = false;
  bool quiet = false;
  std::string intentFile;
  std::string configFile;
  std::string adjacencyFile;
};

std::uint64_t keyNumber(std::uint32_t prefix, std::uint8_t length) {
  return (std::uint64_t{prefix} << 8) | length;
}

// Writes "unit prefix/length adjacency" lines.
void writeLines(std::string const& file, std::vector<std::string> const& lines) {
  std::string text;
  for (std::string const& line : lines) {
    text += line;
    text += '\n';
  }
  CommandLine::writeOutputFile(file, text);
}

std::string lineOf(std::uint16_t unit, std::uint32_t prefix, std::uint8_t length,
                   std::string const& nextHop) {
  return fmt::format("{} {}/{} {}", unit, ZaduLpmLib::formatIpv4(prefix), length, nextHop);
}

int run(Options const& options) {
  ZaduAgent::RouteSet const set =
      options.routeFile.empty()
          ? ZaduAgent::generateRoutes(options.generated, options.units, options.seed)
          : ZaduAgent::readRouteFile(options.routeFile, options.units);
  std::vector<Route> const& routes = set.routes;
  ZaduAgent::Churn const churn =
      options.churn ? ZaduAgent::planChurn(routes, options.seed) : ZaduAgent::Churn{};
  std::vector<Route> const intended = ZaduAgent::intendedRoutes(routes, churn, set.nextHops.size());
  auto const claimed = [&](std::uint16_t unit) { return unit != options.skipUnit; };

  Zido::Agent agent;
  auto const intf = ZaduLpm::TcamInterface::getIntf(agent.orderedTableInterface());
  std::map<std::uint16_t, Vesk::Ptr<ZaduLpm::TcamSwTable>> tables;
  nlohmann::json restoreMs = nlohmann::json::object();
  for (std::uint16_t unit = 0; unit < options.units; ++unit) {
    if (claimed(unit)) {
      Clock::time_point const began = Clock::now();
      tables[unit] = intf->makeSwTable(unit, nullptr, !options.restore);
      restoreMs[std::to_string(unit)] =
          std::chrono::duration<double, std::milli>(Clock::now() - began).count();
    }
  }
  if (options.restore && !options.allowEmpty &&
      std::none_of(intended.begin(), intended.end(),
                   [&](Route const& route) { return claimed(route.unit); })) {
    std::string held;
    std::uint64_t total = 0;
    for (auto const& [unit, table] : tables) {
      if (std::uint32_t const count = table->entrys(); count != 0) {
        held += fmt::format("{}{} on unit {}", held.empty() ? "" : ", ", count, unit);
        total += count;
      }
    }
    if (total != 0) {
      std::fprintf(stderr,
                   "zadulpm-agent: no routes to program, so --restore would remove all %llu "
                   "routes (%s); pass --allow-empty to remove them\n",
                   static_cast<unsigned long long>(total), held.c_str());
      return 2;
    }
  }
  auto const adjacencies = ZaduLpm::AdjacencyInterface::getIntf(agent.orderedTableInterface());
  ZaduLpm::AdjacencyTable& adjacencyTable = *adjacencies->table();
  Programmer programmer(agent, adjacencyTable, set.nextHops, Programmer::Settings{});
  for (auto const& [unit, table] : tables) {
    programmer.learn(unit, *table);
  }
  intf->reconcile();
  programmer.showProgress(!options.quiet && isatty(STDERR_FILENO) != 0);
  Clock::time_point const began = Clock::now();
  std::uint64_t unchanged = 0;
  bool settled = true;
  if (!options.restore) {
    programmer.step("programming", routes.size());
    for (Route const& route : routes) {
      if (claimed(route.unit)) {
        programmer.write(*tables[route.unit], route, route.nextHop);
      }
    }
    settled = programmer.settle(options.timeout);
    std::fprintf(stderr, "zadulpm-agent: programmed %zu routes%s\n", routes.size(),
                 options.churn ? "; churning" : "");
    if (options.churn) {
      programmer.step("churning", churn.rewritten.size() + churn.removed.size() +
                                      intended.size() / options.units);
      for (std::size_t index : churn.rewritten) {
        Route const& route = routes[index];
        if (claimed(route.unit)) {
          programmer.write(*tables[route.unit], route,
                           ZaduAgent::rewrittenNextHop(route, set.nextHops.size()));
        }
      }
      for (std::size_t index : churn.removed) {
        Route const& route = routes[index];
        if (claimed(route.unit)) {
          programmer.remove(*tables[route.unit], {route.prefix, route.length});
        }
      }
      if (claimed(0)) {
        programmer.removeAll(*tables[0]);
        for (Route const& route : intended) {
          if (route.unit == 0) {
            programmer.write(*tables[0], route, route.nextHop);
          }
        }
      }
    }
  } else {
    programmer.step("restoring", intended.size());
    std::map<std::uint16_t, std::set<std::uint64_t>> wanted;
    for (Route const& route : intended) {
      if (!claimed(route.unit)) {
        continue;
      }
      wanted[route.unit].insert(keyNumber(route.prefix, route.length));
      ZaduLpm::TcamSwTable& table = *tables[route.unit];
      if (programmer.holds(table, route, route.nextHop)) {
        ++unchanged;  // already as intended: nothing to write
        continue;
      }
      programmer.write(table, route, route.nextHop);
    }
    for (auto const& [unit, table] : tables) {
      std::vector<ZaduLpmLib::TcamDataModelEntryKey> stale;
      for (auto const& entry : table->entryIteratorConst()) {
        if (!wanted[unit].contains(keyNumber(entry.key().prefix, entry.key().length))) {
          stale.push_back(entry.key());
        }
      }
      for (auto const& key : stale) {
        programmer.remove(*table, key);
      }
    }
  }
  settled = programmer.settle(options.timeout) && settled;
  if (settled) {
    // Only once every route change is answered, and so taken by the
    // hardware side on every unit: a next hop is removed after all of them.
    programmer.removeUnusedNextHops();
    settled = programmer.settle(options.timeout);
  }
  double const seconds = std::chrono::duration<double>(Clock::now() - began).count();

  // Routes name their next hop by its paths: "unit prefix/length paths".
  auto const nextHopText = [&](std::uint32_t index) {
    std::optional<ZaduLpmLib::AdjacencyKey> const nextHop = adjacencyTable.nextHop(index);
    return nextHop ? fmt::format("{}", *nextHop) : fmt::format("adjacency {}", index);
  };
  if (!options.intentFile.empty()) {
    std::vector<std::string> lines;
    for (Route const& route : intended) {
      if (claimed(route.unit)) {
        lines.push_back(lineOf(route.unit, route.prefix, route.length,
                               fmt::format("{}", programmer.nextHop(route.nextHop))));
      }
    }
    writeLines(options.intentFile, lines);
  }
  nlohmann::json entries = nlohmann::json::object();
  std::vector<std::string> configured;
  for (auto const& [unit, table] : tables) {
    entries[std::to_string(unit)] = table->entrys();
    auto& config = intf->entryLog()->tableConfigPantry(unit)->swTableEntries();
    for (auto record = config.first(); record; record = config.nextAfter(record->key())) {
      if (!record->inDeletion) {
        configured.push_back(lineOf(unit, record->key().prefix, record->key().length,
                                    nextHopText(record->logEntry.entry.adjacencyIndex)));
      }
    }
  }
  if (!options.configFile.empty()) {
    writeLines(options.configFile, configured);
  }
  if (!options.adjacencyFile.empty()) {
    std::vector<std::string> lines;
    auto& config = adjacencyTable.config();
    for (auto record = config.first(); record; record = config.nextAfter(record->key)) {
      if (record->inDeletion == 0) {
        lines.push_back(fmt::format("{} {}", record->index, record->key));
      }
    }
    writeLines(options.adjacencyFile, lines);
  }
  nlohmann::json report = {
      {"mode", options.restore ? "restore" : "program"},
      {"routes", routes.size()},
      {"entriesPerUnit", entries},
      {"nextHops", {{"live", adjacencyTable.live()}, {"removed", programmer.nextHopsRemoved()}}},
      {"operations", programmer.accepted()},
      {"answered", programmer.answered()},
      {"duplicateAnswers", programmer.duplicateAnswers()},
      {"unchangedSkipped", unchanged},
      {"seconds", seconds},
      {"operationsPerSecond", seconds > 0 ? programmer.accepted() / seconds : 0.0},
      {"latencyMicroseconds",
       {{"p50", programmer.latency(0.5)},
        {"p99", programmer.latency(0.99)},
        {"max", programmer.latency(1.0)}}},
      {"states", programmer.states()},
      {"refused", programmer.refused()},
      {"restoreMilliseconds", restoreMs},
      {"settled", settled}};
  if (options.json) {
    std::puts(report.dump(2).c_str());
  } else {
    std::printf("%s: %llu operations in %.2f s (%.0f per second), %llu answered\n",
                options.restore ? "restore" : "program",
                static_cast<unsigned long long>(programmer.accepted()), seconds,
                report["operationsPerSecond"].get<double>(),
                static_cast<unsigned long long>(programmer.answered()));
    std::printf("latency: p50 %.0f us, p99 %.0f us, max %.0f us\n", programmer.latency(0.5),
                programmer.latency(0.99), programmer.latency(1.0));
    std::printf("entries per unit: %s; states: %s\n", entries.dump().c_str(),
                report["states"].dump().c_str());
    std::printf("next hops: %u live, %llu removed\n", adjacencyTable.live(),
                static_cast<unsigned long long>(programmer.nextHopsRemoved()));
    std::printf("restore ms per unit: %s; unchanged routes skipped: %llu\n",
                restoreMs.dump().c_str(), static_cast<unsigned long long>(unchanged));
    std::printf("refused (unit or adjacency table full): %llu\n",
                static_cast<unsigned long long>(programmer.refusedCount()));
    for (std::string const& route : programmer.refused()) {
      std::printf("  refused %s\n", route.c_str());
    }
  }
  if (programmer.duplicateAnswers() != 0) {
    std::fprintf(stderr, "zadulpm-agent: %llu operations were answered more than once\n",
                 static_cast<unsigned long long>(programmer.duplicateAnswers()));
    return 5;
  }
  if (!settled) {
    std::fprintf(stderr,
                 "zadulpm-agent: %llu operations still unanswered after %.0f s: is zadulpm-hw "
                 "running?\n",
                 static_cast<unsigned long long>(programmer.accepted() - programmer.answered()),
                 options.timeout);
    return 4;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "zadulpm-agent: programs a route table through the library, churns it and reports; with "
      "--restore, resynchronises after a restart."};
  CommandLine::nameProgram(app, "zadulpm-agent");
  Options options;
  std::string root;
  app.add_option("ROUTE_FILE", options.routeFile,
                 "routes, one per line: A.B.C.D/LEN NEXTHOP[,NEXTHOP...] [UNIT], a NEXTHOP "
                 "being A.B.C.D[@IFINDEX] (default: generated)");
  app.add_option("--root", root, "shared-memory root (default: ZADU_SHM_ROOT, /dev/shm/zadulpm)")
      ->check(CommandLine::sharedMemoryRootCheck);
  app.add_option("--units", options.units, "units")
      ->capture_default_str()
      ->check(CLI::Range(1, 4096));
  app.add_option("--routes-generated", options.generated, "routes to generate without a file")
      ->capture_default_str();
  app.add_option("--seed", options.seed, "seed of the generated table and the churn")
      ->capture_default_str();
  app.add_flag("--restore", options.restore,
               "restore the units from shared memory and bring them to the intended routes");
  app.add_flag("--churn", options.churn,
               "after programming, churn the table: a seeded quarter of the routes get another "
               "next hop, a tenth are removed, unit 0 is cleared and refilled");
  app.add_flag("--allow-empty", options.allowEmpty,
               "with --restore and no routes to program, remove every route of the claimed units");
  app.add_option("--skip-unit", options.skipUnit, "a unit not to claim (reconcile clears it)");
  app.add_option("--timeout", options.timeout, "seconds to wait for answers")
      ->capture_default_str();
  app.add_flag("--json", options.json, "print the report as one JSON object");
  app.add_flag("--quiet", options.quiet, "no progress bar (there is none when not on a terminal)");
  app.add_option("--intent", options.intentFile, "write the intended final routes here");
  app.add_option("--config-dump", options.configFile,
                 "write the claimed units' configuration records here");
  app.add_option("--adjacency-dump", options.adjacencyFile,
                 "write the adjacency table here: \"INDEX NEXTHOP\" per live next hop");
  app.failure_message([](CLI::App const*, CLI::Error const& error) {
    return CommandLine::oneLineFailure("zadulpm-agent", error);
  });
  CLI11_PARSE(app, argc, argv);
  if (!root.empty()) {
    setenv("ZADU_SHM_ROOT", root.c_str(), 1);
  }
  try {
    return run(options);
  } catch (Pantry::WriterConflictError const& error) {
    return CommandLine::failure("zadulpm-agent", 1, error, "another agent is running: ");
  } catch (ZaduAgent::RouteFileError const& error) {
    return CommandLine::failure("zadulpm-agent", 2, error);
  } catch (ZaduLpmLib::AdjacencyKeyError const& error) {
    return CommandLine::failure("zadulpm-agent", 2, error);
  } catch (std::exception const& error) {
    return CommandLine::failure("zadulpm-agent", 1, error);
  }
}
