// zadulpm-hw: the hardware side. Follows the agent's change log into one
// simulated TCAM per unit and publishes the version it has taken. Runs until
// SIGTERM or SIGINT; prints its statistics on SIGUSR1 and at exit.
#include <fmt/format.h>
#include <signal.h>
#include <CLI/CLI.hpp>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <thread>

#include "CommandLine/CommandLine.h"
#include "QuorSharedMem/EntityManager.h"
#include "ZaduLpmLib/Ipv4Text.h"
#include "hw/HardwareSide.h"

namespace {

std::atomic<bool> stopRequested{false};
std::atomic<bool> statisticsRequested{false};

void printStatistics(ZaduHw::HardwareSide const& hardware) {
  ZaduHw::HardwareCounters const& counters = hardware.counters();
  std::fprintf(
      stderr,
      "zadulpm-hw: version %llu taken; applied %llu writes, %llu entry deletes, %llu "
      "table deletes; rebuilt %llu records; %llu verifications; %llu gaps, %llu malformed\n"
      "  adjacencies: version %llu taken; %u held; applied %llu writes, %llu deletes; %llu "
      "rebuilt routes left to the log\n",
      static_cast<unsigned long long>(hardware.taken()),
      static_cast<unsigned long long>(counters.writes),
      static_cast<unsigned long long>(counters.entryDeletes),
      static_cast<unsigned long long>(counters.tableDeletes),
      static_cast<unsigned long long>(counters.rebuilt),
      static_cast<unsigned long long>(counters.verifications),
      static_cast<unsigned long long>(counters.gaps),
      static_cast<unsigned long long>(counters.malformed),
      static_cast<unsigned long long>(hardware.adjacencyTaken()), hardware.adjacencies().size(),
      static_cast<unsigned long long>(counters.adjacencyWrites),
      static_cast<unsigned long long>(counters.adjacencyDeletes),
      static_cast<unsigned long long>(counters.deferred));
  for (auto const& [unitId, tcam] : hardware.units()) {
    ZaduHw::TcamCounters const& cost = tcam.counters();
    std::uint64_t const updates = cost.inserts + cost.deletes + cost.rewrites;
    std::fprintf(stderr,
                 "  unit %u: %u entries (%.1f%% of %u); %llu inserts, %llu deletes, %llu "
                 "rewrites; %llu moves (%.3f per update), %llu line writes, %llu refused\n",
                 unitId, tcam.size(), 100.0 * tcam.size() / tcam.slots(), tcam.slots(),
                 static_cast<unsigned long long>(cost.inserts),
                 static_cast<unsigned long long>(cost.deletes),
                 static_cast<unsigned long long>(cost.rewrites),
                 static_cast<unsigned long long>(cost.moves),
                 updates == 0 ? 0.0 : static_cast<double>(cost.moves) / updates,
                 static_cast<unsigned long long>(cost.lineWrites),
                 static_cast<unsigned long long>(cost.refused));
  }
}

// One line per TCAM entry, in unit order and line order: "unit
// prefix/length NEXTHOP", the next hop's paths as the chip's adjacency table
// resolves the entry's result ("adjacency N" when it holds none, or when the
// agent has no adjacency table).
void dump(ZaduHw::HardwareSide const& hardware, std::string const& file) {
  std::string text;
  for (auto const& [unitId, tcam] : hardware.units()) {
    tcam.forEach([&](std::uint32_t prefix, std::uint8_t length, std::uint32_t result) {
      ZaduLpmLib::AdjacencyKey const* const nextHop = hardware.adjacencies().find(result);
      fmt::format_to(
          std::back_inserter(text), "{} {}/{} {}\n", unitId, ZaduLpmLib::formatIpv4(prefix), length,
          nextHop != nullptr ? fmt::format("{}", *nextHop) : fmt::format("adjacency {}", result));
    });
  }
  // Whole or not at all: a reader polling the file never sees half of it.
  CommandLine::writeOutputFile(file + ".new", text);
  if (std::rename((file + ".new").c_str(), file.c_str()) != 0) {
    throw std::runtime_error("cannot write " + file + ": " + std::strerror(errno));
  }
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "zadulpm-hw: the hardware side. Follows the agent's change log into one simulated TCAM "
      "per unit and publishes the version it has taken. Stops on SIGTERM or SIGINT; prints "
      "statistics (and writes --dump) on SIGUSR1 and at exit."};
  CommandLine::nameProgram(app, "zadulpm-hw");
  ZaduHw::HardwareOptions options;
  std::string root;
  double wait = 30;
  std::string dumpFile;
  app.add_option("--root", root, "shared-memory root (default: ZADU_SHM_ROOT, /dev/shm/zadulpm)")
      ->check(CommandLine::sharedMemoryRootCheck);
  app.add_option("--store", options.store, "the agent's central store")
      ->capture_default_str()
      ->check(CommandLine::storeNameCheck);
  app.add_option("--batch", options.batch, "versions between publications")
      ->capture_default_str()
      ->check(CLI::Range(1u, 1000000u));
  app.add_option("--rate", options.rate, "changes per second, to play slow hardware (0: no limit)")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--wait", wait, "seconds to wait for the agent's change log (0: fail at once)")
      ->capture_default_str()
      ->check(CLI::NonNegativeNumber);
  CLI::Option* const verifyFlag = app.add_flag(
      "--verify", options.verify,
      "after each catch-up, check every TCAM against its configuration and a reference");
  app.add_flag("--acknowledge-only", options.acknowledgeOnly,
               "take and publish versions without programming the TCAMs (measures the road alone)")
      ->excludes(verifyFlag);
  app.add_option("--dump", dumpFile, "on SIGUSR1 and at exit, write every TCAM entry to this file");
  app.failure_message([](CLI::App const*, CLI::Error const& error) {
    return CommandLine::oneLineFailure("zadulpm-hw", error);
  });
  CLI11_PARSE(app, argc, argv);
  if (!root.empty()) {
    setenv("ZADU_SHM_ROOT", root.c_str(), 1);
  }
  signal(SIGTERM, [](int) { stopRequested = true; });
  signal(SIGINT, [](int) { stopRequested = true; });
  signal(SIGUSR1, [](int) { statisticsRequested = true; });

  try {
    ZaduHw::HardwareSide hardware(options);
    hardware.start(std::chrono::duration<double>(wait), [&] {
      std::fprintf(stderr, "zadulpm-hw: waiting for the agent's change log under %s\n",
                   QuorSharedMem::sharedMemoryRoot().c_str());
    });
    std::fprintf(stderr, "zadulpm-hw: following the change log from version %llu\n",
                 static_cast<unsigned long long>(hardware.taken()));
    auto lastVerify = std::chrono::steady_clock::now();
    bool changedSinceVerify = true;
    while (!stopRequested) {
      std::size_t const applied = hardware.step();
      changedSinceVerify = changedSinceVerify || applied != 0;
      if (statisticsRequested.exchange(false)) {
        printStatistics(hardware);
        if (!dumpFile.empty()) {
          try {
            dump(hardware, dumpFile);
          } catch (std::runtime_error const& error) {
            std::fprintf(stderr, "zadulpm-hw: %s\n", error.what());  // it goes on
          }
        }
      }
      if (applied != 0) {
        continue;
      }
      auto const now = std::chrono::steady_clock::now();
      if (options.verify && changedSinceVerify && hardware.drained() &&
          now - lastVerify > std::chrono::milliseconds(200)) {
        lastVerify = now;
        changedSinceVerify = false;
        if (auto const problem = hardware.verify()) {
          std::fprintf(stderr, "zadulpm-hw: verification failed: %s\n", problem->c_str());
          return 3;
        }
        changedSinceVerify = hardware.verifyPending();  // look again until it clears
      }
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    printStatistics(hardware);
    if (!dumpFile.empty()) {
      dump(hardware, dumpFile);
    }
    return 0;
  } catch (ZaduHw::HardwareFault const& error) {
    return CommandLine::failure("zadulpm-hw", 3, error, "fault: ");
  } catch (ZaduHw::HardwareError const& error) {
    return CommandLine::failure("zadulpm-hw", 1, error);
  } catch (std::exception const& error) {
    return CommandLine::failure("zadulpm-hw", 1, error);
  }
}
