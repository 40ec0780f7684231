// A road: the way committed TCAM state travels from a routing agent to a
// hardware-side process, run over one Workload and measured the same way for
// every contender.
//
//   zadulpm       this library in the agent, zadulpm-hw in another process
//                 applying changes to its simulated TCAMs (or, with
//                 acknowledgeOnly, only taking and publishing versions)
//   ceiling       this library with the hardware side's publication made in
//                 the agent's own process after every batch: no second
//                 process, no polling
//   lmdb          an LMDB environment on /dev/shm (no sync, write map): per
//                 unit a database of configuration records, a database of
//                 change records by version, the versions in a meta
//                 database; one write transaction per batch; the hardware
//                 side reads with read transactions and writes its version
//                 back into the same environment
//   redis         a redis-server on a unix socket: a hash per unit, a stream
//                 for the change log, the version in a key, commands
//                 pipelined per batch; the hardware side reads the stream
//                 over its own connection and sets its version in a key
//
// An operation counts when its handler has run, that is when the hardware
// side has published a version at or above the operation's. The lmdb and
// redis roads do what their storage needs and nothing more: no dependency
// resolution, no suppression of identical writes, no reads as they will
// stand.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "bench/roads/Workload.h"

namespace ZaduBench {

constexpr std::uint32_t batch = 1024;  // versions per commit and per publication

struct RoadOptions {
  std::string scratch;    // a fresh directory for the road's files
  std::string hwProgram;  // the zadulpm-hw executable
  bool acknowledgeOnly = false;
  double timeoutSeconds = 300;
};

// What one road measured. Allocations count global operator new calls of the
// agent's process during phase 2 (the steady state).
struct RoadResult {
  RoadResult() = default;
  RoadResult(std::string name, std::uint64_t operations, std::string problem = {})
      : name(std::move(name)), operations(operations), problem(std::move(problem)) {}

  std::string name;
  std::uint64_t operations = 0;
  double seconds = 0;
  double p50Microseconds = 0;
  double p99Microseconds = 0;
  double maxMicroseconds = 0;
  double cpuNanosecondsPerOperation = 0;
  double allocationsPerOperation = 0;
  double residentMebibytes = 0;
  double storeMebibytes = 0;
  double restoreMilliseconds = -1;  // 65,536 entries of unit 0; -1: not measured
  std::uint64_t duplicateAnswers = 0;
  bool complete = false;
  std::string problem;  // what went wrong, when not complete

  double operationsPerSecond() const { return seconds > 0 ? operations / seconds : 0; }
};

RoadResult runZadulpmRoad(Workload const& workload, RoadOptions const& options);
RoadResult runCeilingRoad(Workload const& workload, RoadOptions const& options);
RoadResult runLmdbRoad(Workload const& workload, RoadOptions const& options);
RoadResult runRedisRoad(Workload const& workload, RoadOptions const& options);

// Measurements of the calling process, shared by the roads.
class ProcessMeter {
 public:
  // Starts the clock, the CPU time and the allocation count.
  ProcessMeter();
  // Marks the start of phase 2, for the allocation count.
  void steadyStateStarts();
  // Fills seconds, CPU time, allocations, resident memory and the recorder's
  // figures into `result`.
  void finish(RoadResult& result, Recorder& recorder, std::uint64_t steadyOperations);

 private:
  std::chrono::steady_clock::time_point start_;
  double cpuStart_ = 0;
  std::uint64_t steadyAllocations_ = 0;
};

// Bytes in use by the files under `path` (blocks allocated, not sizes).
double mebibytesUnder(std::string const& path);

}  // namespace ZaduBench
