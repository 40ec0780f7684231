// The agent's loop of a road built on a store (lmdb, redis): operations
// commit in batches, and the hardware side's version, polled, answers them.
#pragma once

#include <chrono>
#include <cstdint>
#include <thread>

#include "bench/roads/ChildProcess.h"
#include "bench/roads/Road.h"

namespace ZaduBench {

// Accepts every operation of `workload`; after every `batch` of them and at
// the end calls commit(from, to, hardwareVersion) for operations [from, to)
// (an operation's version is its index + 1), then pollHardware(), which
// returns the version the hardware side has published; once everything is
// accepted, polls every 100 us until every operation is answered, the
// timeout passes or `hardware` exits. Fills `result` (but the store's size
// and the restore time).
template <class Commit, class PollHardware>
void runBatchedRoad(Workload const& workload, RoadOptions const& options, ChildProcess& hardware,
                    RoadResult& result, Commit&& commit, PollHardware&& pollHardware) {
  Recorder recorder(workload.operations.size());
  std::uint64_t hardwareVersion = 0;
  std::size_t answered = 0;
  auto const poll = [&] {
    hardwareVersion = pollHardware();
    for (; answered < hardwareVersion; ++answered) {
      recorder.answered(answered);
    }
  };
  ProcessMeter meter;
  std::size_t committed = 0;
  for (std::size_t index = 0; index < workload.operations.size(); ++index) {
    if (index == workload.firstSteadyOperation) {
      meter.steadyStateStarts();
    }
    recorder.accepted(index);
    if ((index + 1) % batch == 0) {
      commit(committed, index + 1, hardwareVersion);
      committed = index + 1;
      poll();
    }
  }
  commit(committed, workload.operations.size(), hardwareVersion);
  auto const deadline =
      std::chrono::steady_clock::now() + std::chrono::duration<double>(options.timeoutSeconds);
  while (answered < workload.operations.size() && std::chrono::steady_clock::now() < deadline &&
         !hardware.exited()) {
    poll();
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
  meter.finish(result, recorder, workload.operations.size() - workload.firstSteadyOperation);
}

}  // namespace ZaduBench
