// compare_bench: runs the same workload over every road (Road.h) for U = 1
// and U = 8 units, each road in a fresh process over a fresh scratch
// directory, and prints one table, then this library's end-to-end throughput
// divided by each other road's, for U = 1:
//
//   ratio vs lmdb: X
//   ratio vs redis: Y
//   ratio vs ceiling: Z
//
// compare_bench [--units 1,8] [--keys 65536] [--rounds 4] [--seed 1]
//               [--roads zadulpm,acknowledge,ceiling,lmdb,redis] [--repeat N]
//               [--scratch DIR] [--hw PATH]
// Every run's files go to a fresh directory below --scratch (default
// /dev/shm); a tmpfs mounted with huge=within_size there gives every road
// huge pages.
// With --repeat N, every road runs N times, in N rounds of one run of each
// road; the row shown is the run of median throughput and each ratio is the
// median of the ratios within a round (rounds where a road failed are left
// out, and the ratio line says how many were used): runs on a shared machine
// vary by several percent, and its speed drifts over minutes.
#include <fmt/format.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "CommandLine/CommandLine.h"
#include "bench/roads/ChildProcess.h"
#include "bench/roads/Road.h"

namespace {

using ZaduBench::RoadResult;

nlohmann::json toJson(RoadResult const& result) {
  return {{"name", result.name},
          {"operations", result.operations},
          {"seconds", result.seconds},
          {"p50", result.p50Microseconds},
          {"p99", result.p99Microseconds},
          {"max", result.maxMicroseconds},
          {"cpu", result.cpuNanosecondsPerOperation},
          {"allocations", result.allocationsPerOperation},
          {"resident", result.residentMebibytes},
          {"store", result.storeMebibytes},
          {"restore", result.restoreMilliseconds},
          {"duplicates", result.duplicateAnswers},
          {"complete", result.complete},
          {"problem", result.problem}};
}

RoadResult fromJson(nlohmann::json const& json) {
  RoadResult result;
  result.name = json.at("name");
  result.operations = json.at("operations");
  result.seconds = json.at("seconds");
  result.p50Microseconds = json.at("p50");
  result.p99Microseconds = json.at("p99");
  result.maxMicroseconds = json.at("max");
  result.cpuNanosecondsPerOperation = json.at("cpu");
  result.allocationsPerOperation = json.at("allocations");
  result.residentMebibytes = json.at("resident");
  result.storeMebibytes = json.at("store");
  result.restoreMilliseconds = json.at("restore");
  result.duplicateAnswers = json.at("duplicates");
  result.complete = json.at("complete");
  result.problem = json.at("problem");
  return result;
}

using Run = RoadResult (*)(ZaduBench::Workload const&, ZaduBench::RoadOptions const&);

// Runs `run` in a child process over a fresh scratch directory below
// `scratchRoot`.
RoadResult runApart(std::string const& name, Run run, ZaduBench::Workload const& workload,
                    ZaduBench::RoadOptions options, std::string const& scratchRoot) {
  static int serial = 0;
  std::filesystem::path const scratch =
      std::filesystem::path(scratchRoot) / fmt::format("zadulpm-compare-{}-{}", getpid(), serial++);
  std::filesystem::create_directories(scratch);
  options.scratch = scratch.string();
  int channel[2];
  // Close-on-exec: a hardware side that the road starts must not hold the
  // pipe open after the road's process is gone.
  if (pipe2(channel, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  pid_t const parent = getpid();
  pid_t const child = fork();
  if (child == 0) {
    ZaduBench::dieWithParent(parent, SIGKILL);  // and its hardware side with it
    close(channel[0]);
    std::string text;
    try {
      text = toJson(run(workload, options)).dump();
    } catch (std::exception const& error) {
      RoadResult const failed(name, 0, error.what());
      text = toJson(failed).dump();
    }
    [[maybe_unused]] ssize_t const written = write(channel[1], text.data(), text.size());
    _exit(0);
  }
  close(channel[1]);
  std::string text;
  char buffer[4096];
  for (ssize_t got; (got = read(channel[0], buffer, sizeof buffer)) > 0;) {
    text.append(buffer, static_cast<std::size_t>(got));
  }
  close(channel[0]);
  int status = 0;
  waitpid(child, &status, 0);
  std::filesystem::remove_all(scratch);
  if (text.empty()) {
    return RoadResult(name, 0, "the road's process died");
  }
  RoadResult result = fromJson(nlohmann::json::parse(text));
  result.name = name;
  return result;
}

// The run of median throughput (of an even number, the slower of the two in
// the middle), or the first run that did not complete.
RoadResult medianRun(std::vector<RoadResult> results) {
  for (RoadResult const& result : results) {
    if (!result.complete) {
      return result;
    }
  }
  auto const middle = results.begin() + static_cast<std::ptrdiff_t>((results.size() - 1) / 2);
  std::nth_element(results.begin(), middle, results.end(),
                   [](RoadResult const& a, RoadResult const& b) {
                     return a.operationsPerSecond() < b.operationsPerSecond();
                   });
  return *middle;
}

// The ratios of ours / theirs taken within each round that completed both.
std::vector<double> roundRatios(std::vector<RoadResult> const& ours,
                                std::vector<RoadResult> const& theirs) {
  std::vector<double> ratios;
  for (std::size_t round = 0; round < ours.size() && round < theirs.size(); ++round) {
    if (ours[round].complete && theirs[round].complete && theirs[round].seconds > 0) {
      ratios.push_back(ours[round].operationsPerSecond() / theirs[round].operationsPerSecond());
    }
  }
  return ratios;
}

// The median of `values` (of an even number, the mean of the two in the
// middle). REQUIRES: !values.empty().
double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  std::size_t const middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

void printRow(std::uint16_t units, RoadResult const& result) {
  if (!result.complete) {
    std::printf("%-30s %2u  failed: %s\n", result.name.c_str(), units, result.problem.c_str());
    return;
  }
  std::string const restore =
      result.restoreMilliseconds < 0 ? "-" : fmt::format("{:.1f}", result.restoreMilliseconds);
  std::printf("%-30s %2u %11.0f %8.0f %8.0f %8.0f %8.0f %8.2f %8.1f %8.1f %8s\n",
              result.name.c_str(), units, result.operationsPerSecond(), result.p50Microseconds,
              result.p99Microseconds, result.maxMicroseconds, result.cpuNanosecondsPerOperation,
              result.allocationsPerOperation, result.residentMebibytes, result.storeMebibytes,
              restore.c_str());
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::uint16_t> units{1, 8};
  std::uint32_t keys = 65536;
  int rounds = 4;
  std::uint64_t seed = 1;
  int repeat = 1;
  std::string scratchRoot = "/dev/shm";
  std::vector<std::string> roads{"zadulpm", "acknowledge", "ceiling", "lmdb", "redis"};
  ZaduBench::RoadOptions options;
  options.hwProgram =
      (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "../../hw/zadulpm-hw")
          .lexically_normal()
          .string();

  CLI::App app{"Runs one workload over this library and the stores a user would pick instead."};
  app.add_option("--units", units, "unit counts to run")->delimiter(',');
  app.add_option("--keys", keys, "keys per unit")->capture_default_str();
  app.add_option("--rounds", rounds, "rounds of churn")->capture_default_str();
  app.add_option("--seed", seed, "workload seed")->capture_default_str();
  app.add_option("--roads", roads, "roads to run: zadulpm, acknowledge, ceiling, lmdb, redis")
      ->delimiter(',')
      ->check(CLI::IsMember({"zadulpm", "acknowledge", "ceiling", "lmdb", "redis"}));
  app.add_option("--repeat", repeat,
                 "rounds of one run of each road; rows show the run of median throughput, ratios "
                 "the median of the rounds' ratios")
      ->capture_default_str()
      ->check(CLI::Range(1, 99));
  app.add_option("--scratch", scratchRoot,
                 "the directory (a tmpfs) below which every run gets a fresh one for its files")
      ->capture_default_str()
      ->check(CLI::ExistingDirectory)
      ->check(CommandLine::sharedMemoryRootCheck);
  app.add_option("--hw", options.hwProgram, "the zadulpm-hw executable")->capture_default_str();
  app.failure_message([](CLI::App const*, CLI::Error const& error) {
    return CommandLine::oneLineFailure("compare_bench", error);
  });
  CLI11_PARSE(app, argc, argv);
  if (access(options.hwProgram.c_str(), X_OK) != 0) {
    std::fprintf(stderr, "compare_bench: no zadulpm-hw at %s (--hw)\n", options.hwProgram.c_str());
    return 2;
  }

  std::map<std::string, std::pair<std::string, Run>> const known{
      {"zadulpm", {"zadulpm", ZaduBench::runZadulpmRoad}},
      {"acknowledge", {"zadulpm, hw acknowledges only", ZaduBench::runZadulpmRoad}},
      {"ceiling", {"ceiling (in-process hw)", ZaduBench::runCeilingRoad}},
      {"lmdb", {"lmdb", ZaduBench::runLmdbRoad}},
      {"redis", {"redis", ZaduBench::runRedisRoad}}};

  std::printf("%-30s %2s %11s %8s %8s %8s %8s %8s %8s %8s %8s\n", "road", "U", "ops/s", "p50 us",
              "p99 us", "max us", "cpu ns", "allocs", "rss MiB", "store", "restore");
  ZaduBench::Recorder::nanosecondsPerTick();
  std::map<std::string, std::vector<RoadResult>> runsAtOne;
  bool allComplete = true;
  for (std::uint16_t const unitCount : units) {
    ZaduBench::Workload const workload = ZaduBench::makeWorkload(unitCount, keys, rounds, seed);
    // Rounds of one run of every road, so that a drift of the machine's speed
    // during the runs touches every road alike.
    std::map<std::string, std::vector<RoadResult>> runs;
    for (int round = 0; round < repeat; ++round) {
      for (std::string const& road : roads) {
        auto const& [name, run] = known.at(road);
        options.acknowledgeOnly = road == "acknowledge";
        runs[road].push_back(runApart(name, run, workload, options, scratchRoot));
      }
    }
    for (std::string const& road : roads) {
      RoadResult const result = medianRun(runs[road]);
      printRow(unitCount, result);
      allComplete = allComplete && result.complete;
    }
    if (unitCount == 1) {
      runsAtOne = std::move(runs);
    }
  }
  std::printf(
      "ops/s: end to end; latency: accept to handler; cpu, allocs: the agent's process, per "
      "operation (allocs: steady state); store: MiB of shared memory or store in use; restore: "
      "ms to restore unit 0 after a restart\n");
  if (runsAtOne.contains("zadulpm")) {
    for (std::string const other : {"lmdb", "redis", "ceiling"}) {
      if (!runsAtOne.contains(other)) {
        continue;
      }
      std::vector<double> const ratios = roundRatios(runsAtOne["zadulpm"], runsAtOne[other]);
      if (ratios.empty()) {
        continue;  // no round completed both roads
      }
      std::printf("ratio vs %s: %.2f", other.c_str(), median(ratios));
      if (ratios.size() < runsAtOne["zadulpm"].size()) {
        std::printf(" (%zu of %zu rounds)", ratios.size(), runsAtOne["zadulpm"].size());
      }
      std::printf("\n");
    }
  }
  return allComplete ? 0 : 1;
}
