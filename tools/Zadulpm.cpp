// zadulpm: looks inside the TCAM table's shared memory without disturbing the
// agent or the hardware side (every collection is mounted read-only).
//
//   zadulpm status                         the change log, the hardware side,
//                                          the units, the writers
//   zadulpm log [--from V] [--to V] [--limit N]
//   zadulpm entries --unit N [--prefix P] [--deleted]
//   zadulpm route-get --unit N A.B.C.D     the record an address selects, and
//                                          the next hop it forwards to
//   zadulpm adjacencies [--deleted]        the adjacency table (next hops by
//                                          index; one for the switch)
//   zadulpm trace FILE [--messages]        a Rapidlog trace file, decoded
//
// Common options: --root DIR, --store NAME, --json. Exit status: 0, 1 other
// failure, 2 usage, 3 no shared memory at the root, 4 permission denied,
// 5 damaged or of another layout version, 6 no such unit.
#include <fmt/format.h>
#include <CLI/CLI.hpp>

#include <cstdio>
#include <limits>
#include <nlohmann/json.hpp>

#include "CommandLine/CommandLine.h"
#include "Rapidlog/TraceFileReader.h"
#include "ZaduLpmLib/Ipv4Text.h"
#include "ZaduRead/Reader.h"

namespace {

using json = nlohmann::ordered_json;
using ZaduRead::ReadError;

json entryJson(ZaduLpmLib::TcamDataModelEntryData const& entry) {
  return {{"prefix", ZaduRead::formatKey(entry.key)},
          {"adjacency", entry.adjacencyIndex},
          {"action", static_cast<int>(entry.action)},
          {"classId", entry.classId}};
}

json writerJson(ZaduRead::Writer const& writer) {
  return {{"pid", writer.pid}, {"alive", writer.alive}};
}

// A next hop's paths: [{"gateway": "10.0.0.1", "ifIndex": 3}, ...].
json nextHopJson(ZaduLpmLib::AdjacencyKey const& nextHop) {
  json paths = json::array();
  for (ZaduLpmLib::NextHopPath const& path : nextHop.pathSpan()) {
    paths.push_back({{"gateway", ZaduLpmLib::formatIpv4(path.gateway)}, {"ifIndex", path.ifIndex}});
  }
  return paths;
}

std::string writerText(ZaduRead::Writer const& writer) {
  if (writer.pid == 0) {
    return "no writer";
  }
  return fmt::format("writer pid {} ({})", writer.pid, writer.alive ? "alive" : "gone");
}

void printStatus(ZaduRead::Status const& status, bool asJson) {
  if (asJson) {
    json units = json::array();
    for (auto const& unit : status.units) {
      units.push_back({{"unit", unit.unit},
                       {"live", unit.live},
                       {"inDeletion", unit.inDeletion},
                       {"capacity", unit.capacity},
                       {"writer", writerJson(unit.writer)}});
    }
    json const document = {{"directory", status.directory},
                           {"changeLog",
                            {{"present", status.changeLog.present},
                             {"records", status.changeLog.records},
                             {"lowestVersion", status.changeLog.lowestVersion},
                             {"highestVersion", status.changeLog.highestVersion},
                             {"tableVersion", status.changeLog.tableVersion},
                             {"writer", writerJson(status.changeLog.writer)}}},
                           {"hardware",
                            {{"present", status.hardware.present},
                             {"publishedVersion", status.hardware.publishedVersion},
                             {"writer", writerJson(status.hardware.writer)}}},
                           {"units", units}};
    std::puts(document.dump(2).c_str());
    return;
  }
  std::printf("store: %s\n", status.directory.c_str());
  if (status.changeLog.present) {
    std::printf("change log: %llu records, versions %llu..%llu, table version %llu; %s\n",
                static_cast<unsigned long long>(status.changeLog.records),
                static_cast<unsigned long long>(status.changeLog.lowestVersion),
                static_cast<unsigned long long>(status.changeLog.highestVersion),
                static_cast<unsigned long long>(status.changeLog.tableVersion),
                writerText(status.changeLog.writer).c_str());
  } else {
    std::printf("change log: none yet\n");
  }
  if (status.hardware.present) {
    std::printf("hardware side: version %llu taken; %s\n",
                static_cast<unsigned long long>(status.hardware.publishedVersion),
                writerText(status.hardware.writer).c_str());
  } else {
    std::printf("hardware side: has published nothing\n");
  }
  for (auto const& unit : status.units) {
    std::printf("unit %u: %llu live, %llu in deletion, %.1f%% of %llu; %s\n", unit.unit,
                static_cast<unsigned long long>(unit.live),
                static_cast<unsigned long long>(unit.inDeletion),
                100.0 * static_cast<double>(unit.live + unit.inDeletion) /
                    static_cast<double>(unit.capacity),
                static_cast<unsigned long long>(unit.capacity), writerText(unit.writer).c_str());
  }
}

void printEntries(std::vector<ZaduRead::EntryRecord> const& records, bool asJson) {
  if (asJson) {
    json list = json::array();
    for (auto const& record : records) {
      json item = entryJson(record.entry);
      item["logVersion"] = record.logVersion;
      item["inDeletion"] = record.inDeletion;
      list.push_back(item);
    }
    std::puts(list.dump(2).c_str());
    return;
  }
  for (auto const& record : records) {
    std::printf("%-18s adjacency %-6u version %llu%s\n",
                ZaduRead::formatKey(record.entry.key).c_str(), record.entry.adjacencyIndex,
                static_cast<unsigned long long>(record.logVersion),
                record.inDeletion ? " (in deletion)" : "");
  }
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"zadulpm: looks inside the TCAM table's shared memory, read-only."};
  CommandLine::nameProgram(app, "zadulpm");
  app.require_subcommand(1);
  std::string root;
  std::string store = "ZaduRoute";
  bool asJson = false;
  app.add_option("--root", root, "shared-memory root (default: ZADU_SHM_ROOT, /dev/shm/zadulpm)")
      ->check(CommandLine::sharedMemoryRootCheck);
  app.add_option("--store", store, "the agent's central store")
      ->capture_default_str()
      ->check(CommandLine::storeNameCheck);
  app.add_flag("--json", asJson, "print one JSON document");

  CLI::App* status =
      app.add_subcommand("status", "the change log, the hardware side and the units");
  CLI::App* log = app.add_subcommand("log", "the change log's records in version order");
  std::uint64_t from = 0;
  std::uint64_t to = std::numeric_limits<std::uint64_t>::max();
  std::uint64_t limit = 0;
  log->add_option("--from", from, "first version");
  log->add_option("--to", to, "last version");
  log->add_option("--limit", limit, "at most this many records");
  CLI::App* entries = app.add_subcommand("entries", "a unit's configuration records");
  unsigned unit = 0;
  std::string prefixText;
  bool deleted = false;
  entries->add_option("--unit", unit, "the unit")->required();
  entries->add_option("--prefix", prefixText, "only this prefix, A.B.C.D/LEN");
  entries->add_flag("--deleted", deleted, "the records in deletion instead of the live ones");
  CLI::App* routeGet =
      app.add_subcommand("route-get", "the record longest-prefix match selects for an address");
  std::string addressArgument;
  routeGet->add_option("--unit", unit, "the unit")->required();
  routeGet->add_option("ADDRESS", addressArgument, "an IPv4 address")->required();
  CLI::App* adjacencies = app.add_subcommand(
      "adjacencies", "the adjacency table: next hops by index (one table for the switch)");
  adjacencies->add_flag("--deleted", deleted, "the records in deletion instead of the live ones");
  CLI::App* trace = app.add_subcommand("trace", "a Rapidlog trace file, decoded");
  std::string traceFile;
  bool messagesOnly = false;
  trace->add_option("FILE", traceFile, "the trace file")->required();
  trace->add_flag("--messages", messagesOnly, "the message texts only");
  for (CLI::App* each : {status, log, entries, routeGet, adjacencies, trace}) {
    each->fallthrough();
  }
  app.failure_message([](CLI::App const*, CLI::Error const& error) {
    return CommandLine::oneLineFailure("zadulpm", error);
  });
  try {
    app.parse(argc, argv);
  } catch (CLI::ParseError const& error) {
    int const code = app.exit(error);
    return code == 0 ? 0 : 2;
  }

  try {
    if (trace->parsed()) {
      json records = json::array();
      for (Rapidlog::DecodedRecord const& record : Rapidlog::readTraceFile(traceFile)) {
        if (asJson) {
          records.push_back({{"timestamp", Rapidlog::formatTimestamp(record.timestampNs)},
                             {"class", record.classLabel},
                             {"function", record.function},
                             {"message", record.message}});
        } else if (messagesOnly) {
          std::printf("%s\n", record.message.c_str());
        } else {
          std::printf("%s %s::%s %s\n", Rapidlog::formatTimestamp(record.timestampNs).c_str(),
                      record.classLabel.c_str(), record.function.c_str(), record.message.c_str());
        }
      }
      if (asJson) {
        std::puts(records.dump(2).c_str());
      }
      return 0;
    }
    ZaduRead::Reader reader(root, store);
    if (status->parsed()) {
      printStatus(reader.status(), asJson);
    } else if (log->parsed()) {
      auto const records = reader.log(from, to, limit);
      json list = json::array();
      for (auto const& record : records) {
        if (asJson) {
          json item = {{"version", record.version}, {"unit", record.unit}, {"kind", record.kind}};
          if (std::string_view(record.kind) != "tableDelete") {
            item["entry"] = entryJson(record.entry);
          }
          list.push_back(item);
        } else {
          std::printf("%-10llu unit %-4u %-12s %s\n",
                      static_cast<unsigned long long>(record.version), record.unit, record.kind,
                      std::string_view(record.kind) == "tableDelete"
                          ? ""
                          : fmt::format("{} adjacency {}", ZaduRead::formatKey(record.entry.key),
                                        record.entry.adjacencyIndex)
                                .c_str());
        }
      }
      if (asJson) {
        std::puts(list.dump(2).c_str());
      }
    } else if (entries->parsed()) {
      std::optional<ZaduLpmLib::TcamDataModelEntryKey> prefix;
      if (!prefixText.empty()) {
        prefix = ZaduLpmLib::parsePrefix(prefixText);
        if (!prefix) {
          std::fprintf(stderr, "zadulpm: '%s' is not a prefix A.B.C.D/LEN without host bits\n",
                       prefixText.c_str());
          return 2;
        }
      }
      printEntries(reader.entries(static_cast<std::uint16_t>(unit), prefix, deleted), asJson);
    } else if (routeGet->parsed()) {
      auto const address = ZaduLpmLib::parseIpv4(addressArgument);
      if (!address) {
        std::fprintf(stderr, "zadulpm: '%s' is not an IPv4 address\n", addressArgument.c_str());
        return 2;
      }
      auto const found = reader.routeGet(static_cast<std::uint16_t>(unit), *address);
      if (asJson) {
        json document = {{"address", ZaduLpmLib::formatIpv4(*address)}, {"unit", unit}};
        document["match"] = found ? entryJson(found->entry) : json(nullptr);
        if (found) {
          document["match"]["logVersion"] = found->logVersion;
          document["match"]["nextHop"] =
              found->nextHop ? nextHopJson(*found->nextHop) : json(nullptr);
        }
        std::puts(document.dump(2).c_str());
      } else if (found) {
        std::printf("%s on unit %u: %s, adjacency %u%s (version %llu)\n",
                    ZaduLpmLib::formatIpv4(*address).c_str(), unit,
                    ZaduRead::formatKey(found->entry.key).c_str(), found->entry.adjacencyIndex,
                    found->nextHop ? fmt::format(" via {}", *found->nextHop).c_str() : "",
                    static_cast<unsigned long long>(found->logVersion));
      } else {
        std::printf("%s on unit %u: no route\n", ZaduLpmLib::formatIpv4(*address).c_str(), unit);
      }
    } else if (adjacencies->parsed()) {
      json list = json::array();
      for (ZaduRead::AdjacencyRecord const& record : reader.adjacencies(deleted)) {
        if (asJson) {
          list.push_back({{"index", record.index},
                          {"nextHop", nextHopJson(record.nextHop)},
                          {"logVersion", record.logVersion},
                          {"inDeletion", record.inDeletion}});
        } else {
          std::printf("%-6u %-40s version %llu%s\n", record.index,
                      fmt::format("{}", record.nextHop).c_str(),
                      static_cast<unsigned long long>(record.logVersion),
                      record.inDeletion ? " (in deletion)" : "");
        }
      }
      if (asJson) {
        std::puts(list.dump(2).c_str());
      }
    }
    return 0;
  } catch (ReadError const& error) {
    std::fprintf(stderr, "zadulpm: %s\n", error.what());
    return error.code();
  } catch (Rapidlog::DecodeError const& error) {
    std::fprintf(stderr, "zadulpm: %s\n", error.what());
    return ReadError::damaged;
  } catch (std::exception const& error) {
    std::fprintf(stderr, "zadulpm: %s\n", error.what());
    return 1;
  }
}
