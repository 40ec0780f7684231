#include "Quor/Log.h"

#include <fmt/format.h>

#include <cstdio>
#include <utility>

#include "Quor/System.h"

namespace Quor {

namespace {

// The output of log lines and the active capture; made on first use and never
// destroyed, so handles may log from static initialisers and destructors.
struct LogOutput {
  std::mutex mutex;
  std::FILE* file = System::outputFile("ZADU_LOG_FILE");
  LogCapture* capture = nullptr;

  static LogOutput& instance() {
    static auto* output = new LogOutput();
    return *output;
  }
};

}  // namespace

LogHandle::LogHandle(LogDescriptor const& descriptor, Seconds repeatInterval, double intervalGrowth,
                     std::uint32_t burst, std::uint32_t maximumInterval)
    : descriptor_(descriptor),
      repeatInterval_(repeatInterval),
      intervalGrowth_(intervalGrowth),
      burst_(burst),
      maximumInterval_(Seconds(maximumInterval)),
      currentInterval_(repeatInterval) {}

std::uint64_t LogHandle::suppressed() const {
  std::lock_guard lock(mutex_);
  return suppressedTotal_;
}

void LogHandle::emit(std::string const& message) {
  std::uint64_t suppressedBefore = 0;
  {
    std::lock_guard lock(mutex_);
    if (repeatInterval_.count() > 0) {
      auto const now = std::chrono::steady_clock::now();
      if (now - windowStart_ >= currentInterval_) {
        if (suppressedSinceLast_ > 0) {
          currentInterval_ *= intervalGrowth_;
          if (maximumInterval_.count() > 0 && currentInterval_ > maximumInterval_) {
            currentInterval_ = maximumInterval_;
          }
        }
        windowStart_ = now;
        sentInWindow_ = 0;
      }
      if (sentInWindow_ > burst_) {
        ++suppressedSinceLast_;
        ++suppressedTotal_;
        return;
      }
      ++sentInWindow_;
    }
    suppressedBefore = std::exchange(suppressedSinceLast_, 0);
  }

  std::string text = message;
  if (suppressedBefore > 0) {
    text += fmt::format(" ({} similar messages suppressed)", suppressedBefore);
  }
  LogOutput& output = LogOutput::instance();
  std::lock_guard lock(output.mutex);
  if (output.capture != nullptr) {
    output.capture->records_.push_back(
        LogRecord{descriptor_.name, descriptor_.severity, std::move(text)});
    return;
  }
  std::string const line =
      fmt::format("{} %{}-{}: {}\n", System::timestampText(System::currentTimeUtc()),
                  descriptor_.name, descriptor_.severity, text);
  std::fputs(line.c_str(), output.file);
  std::fflush(output.file);
}

LogCapture::LogCapture() {
  LogOutput& output = LogOutput::instance();
  std::lock_guard lock(output.mutex);
  previous_ = std::exchange(output.capture, this);
}

LogCapture::~LogCapture() {
  LogOutput& output = LogOutput::instance();
  std::lock_guard lock(output.mutex);
  output.capture = previous_;
}

}  // namespace Quor
