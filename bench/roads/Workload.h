// The one workload every road runs, and the record of what each operation
// took.
//
// U units of N keys each, made as the client agent's generated table makes
// them (prefix lengths as in public routing tables, a few hundred next hops,
// some of them ECMP groups), dealt to the units in turn so that each holds
// exactly N. Phase 1 writes every key. Phase 2 is `rounds` rounds, each
// rewriting a random half of the keys with another next hop and removing a
// random tenth, then writing that tenth back. A road with an adjacency table
// makes every write depend on the handle of its next hop.
//
// Thread safety: none; a road uses its workload and recorder on one thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#include <x86intrin.h>

#include "ZaduLpmLib/AdjacencyDataModel.h"

namespace ZaduBench {

struct Operation {
  std::uint32_t prefix = 0;
  std::uint8_t length = 0;
  bool remove = false;
  std::uint16_t unit = 0;
  std::uint32_t adjacency = 0;  // the next hop's id (its index in nextHopKeys), for a write

  // The key as one number: prefix in the high bits, length in the low byte.
  std::uint64_t keyNumber() const noexcept { return (std::uint64_t{prefix} << 8) | length; }
};

struct Workload {
  std::uint16_t units = 1;
  std::uint32_t keysPerUnit = 0;
  std::uint32_t nextHops = 0;
  std::vector<ZaduLpmLib::AdjacencyKey> nextHopKeys;  // by id
  std::vector<Operation> operations;
  std::size_t firstSteadyOperation = 0;  // where phase 2 starts
};

Workload makeWorkload(std::uint16_t units, std::uint32_t keysPerUnit, int rounds,
                      std::uint64_t seed);

// Accept and completion times of every operation of a run, read from the
// processor's time-stamp counter: a clock read per accept and per answer
// must not weigh on the roads it measures (steady_clock costs 20 ns here).
class Recorder {
 public:
  explicit Recorder(std::size_t operations) : accepted_(operations), answered_(operations, 0) {
    latencies_.reserve(operations);
  }

  void accepted(std::size_t operation) { accepted_[operation] = __rdtsc(); }
  // Records the answer; returns false when the operation was answered before.
  bool answered(std::size_t operation);

  std::size_t answerCount() const noexcept { return answerCount_; }
  std::size_t duplicateAnswers() const noexcept { return duplicateAnswers_; }
  // Accept-to-answer latency in microseconds at `quantile` (0 to 1).
  double latencyMicroseconds(double quantile);

  // Nanoseconds per tick, measured on the first call (call it before the
  // roads start).
  static double nanosecondsPerTick();

 private:
  std::vector<std::uint64_t> accepted_;  // ticks
  std::vector<std::uint8_t> answered_;
  std::vector<std::uint64_t> latencies_;  // ticks, in answer order
  std::size_t answerCount_ = 0;
  std::size_t duplicateAnswers_ = 0;
  bool sorted_ = false;
};

}  // namespace ZaduBench
