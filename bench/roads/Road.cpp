#include "bench/roads/Road.h"

#include <filesystem>
#include <fstream>
#include <string>

#include <sys/resource.h>
#include <sys/stat.h>

#include "bench/CountingAllocator.h"

namespace ZaduBench {

namespace {

double cpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto const seconds = [](timeval const& time) { return time.tv_sec + time.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double residentMebibytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) {
      return std::stod(line.substr(6)) / 1024.0;
    }
  }
  return 0;
}

}  // namespace

ProcessMeter::ProcessMeter() : start_(std::chrono::steady_clock::now()), cpuStart_(cpuSeconds()) {}

void ProcessMeter::steadyStateStarts() {
  steadyAllocations_ = heapAllocationCount();
}

void ProcessMeter::finish(RoadResult& result, Recorder& recorder, std::uint64_t steadyOperations) {
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  double const operations = static_cast<double>(result.operations);
  result.cpuNanosecondsPerOperation = (cpuSeconds() - cpuStart_) * 1e9 / operations;
  result.allocationsPerOperation = static_cast<double>(heapAllocationCount() - steadyAllocations_) /
                                   static_cast<double>(steadyOperations);
  result.residentMebibytes = residentMebibytes();
  result.p50Microseconds = recorder.latencyMicroseconds(0.5);
  result.p99Microseconds = recorder.latencyMicroseconds(0.99);
  result.maxMicroseconds = recorder.latencyMicroseconds(1.0);
  result.duplicateAnswers = recorder.duplicateAnswers();
  result.complete = recorder.answerCount() == result.operations && result.duplicateAnswers == 0;
  if (!result.complete && result.problem.empty()) {
    result.problem = std::to_string(recorder.answerCount()) + " of " +
                     std::to_string(result.operations) + " operations answered, " +
                     std::to_string(result.duplicateAnswers) + " twice";
  }
}

double mebibytesUnder(std::string const& path) {
  std::uint64_t bytes = 0;
  std::error_code error;
  for (auto const& entry : std::filesystem::recursive_directory_iterator(path, error)) {
    struct stat status {};
    if (entry.is_regular_file() && ::stat(entry.path().c_str(), &status) == 0) {
      bytes += static_cast<std::uint64_t>(status.st_blocks) * 512;
    }
  }
  return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

}  // namespace ZaduBench
