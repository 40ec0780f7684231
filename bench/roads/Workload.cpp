#include "bench/roads/Workload.h"

#include <algorithm>
#include <numeric>
#include <random>
#include <thread>

#include "agent/Routes.h"

namespace ZaduBench {

Workload makeWorkload(std::uint16_t units, std::uint32_t keysPerUnit, int rounds,
                      std::uint64_t seed) {
  Workload workload;
  workload.units = units;
  workload.keysPerUnit = keysPerUnit;
  ZaduAgent::RouteSet set = ZaduAgent::generateRoutes(keysPerUnit * std::uint32_t{units}, 1, seed);
  std::vector<ZaduAgent::Route>& routes = set.routes;
  workload.nextHops = static_cast<std::uint32_t>(set.nextHops.size());
  workload.nextHopKeys = set.nextHops;
  std::vector<std::uint32_t> adjacency(routes.size());
  for (std::size_t index = 0; index < routes.size(); ++index) {
    routes[index].unit = static_cast<std::uint16_t>(index % units);
    adjacency[index] = routes[index].nextHop;
  }
  std::vector<Operation>& operations = workload.operations;
  auto const write = [&](std::size_t index) {
    ZaduAgent::Route const& route = routes[index];
    operations.push_back({.prefix = route.prefix,
                          .length = route.length,
                          .unit = route.unit,
                          .adjacency = adjacency[index]});
  };
  for (std::size_t index = 0; index < routes.size(); ++index) {
    write(index);
  }
  workload.firstSteadyOperation = operations.size();

  std::mt19937_64 random(seed);
  std::vector<std::size_t> order(routes.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  for (int round = 0; round < rounds; ++round) {
    std::shuffle(order.begin(), order.end(), random);
    for (std::size_t n = 0; n < order.size() / 2; ++n) {
      adjacency[order[n]] =
          static_cast<std::uint32_t>((adjacency[order[n]] + 1 + n % 7) % workload.nextHops);
      write(order[n]);
    }
    std::shuffle(order.begin(), order.end(), random);
    std::size_t const removed = order.size() / 10;
    for (std::size_t n = 0; n < removed; ++n) {
      ZaduAgent::Route const& route = routes[order[n]];
      operations.push_back(
          {.prefix = route.prefix, .length = route.length, .remove = true, .unit = route.unit});
    }
    for (std::size_t n = 0; n < removed; ++n) {
      write(order[n]);
    }
  }
  return workload;
}

bool Recorder::answered(std::size_t operation) {
  if (answered_[operation]++ != 0) {
    ++duplicateAnswers_;
    return false;
  }
  ++answerCount_;
  latencies_.push_back(__rdtsc() - accepted_[operation]);
  sorted_ = false;
  return true;
}

double Recorder::latencyMicroseconds(double quantile) {
  if (latencies_.empty()) {
    return 0;
  }
  if (!sorted_) {
    std::sort(latencies_.begin(), latencies_.end());
    sorted_ = true;
  }
  auto const at = static_cast<std::size_t>(quantile * static_cast<double>(latencies_.size() - 1));
  return static_cast<double>(latencies_[at]) * nanosecondsPerTick() / 1000.0;
}

double Recorder::nanosecondsPerTick() {
  static double const perTick = [] {
    auto const began = std::chrono::steady_clock::now();
    std::uint64_t const first = __rdtsc();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    double const nanoseconds =
        std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - began).count();
    return nanoseconds / static_cast<double>(__rdtsc() - first);
  }();
  return perTick;
}

}  // namespace ZaduBench
