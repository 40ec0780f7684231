// Quor::LogHandle and Quor::log: operator-facing log messages.
//
// A log message is described by a descriptor of five words: its name (such as
// HW_ABSTRACTION_ERROR), a printf-style format, an explanation, a recommended
// action and a severity. Descriptors live in the library's ".norvex_logmsg"
// section, so that tools can list every message a binary can emit; define
// them with QUOR_LOG_DESCRIPTOR. A source file makes one LogHandle per
// descriptor at load time and releases it at unload.
//
// Quor::log(handle, args...) formats the descriptor's format with the
// arguments and writes one line, to stderr or appended to the file named by
// ZADU_LOG_FILE:
//   2026-12-06 15:20:01.123456 %HW_ABSTRACTION_ERROR-3: Hardware abstraction error: ...
//
// Rate limiting: a handle lets through `burst` + 1 messages per
// `repeatInterval`; further ones are counted and suppressed, and the next
// message let through reports how many were. Each interval that suppresses
// something multiplies the next interval by `intervalGrowth`, up to
// `maximumInterval` (0: no cap). A zero `repeatInterval` lets every message
// through.
//
// Tests capture messages with Quor::LogCapture.
//
// Thread safety: log may be called from any thread; lines are written whole.
#pragma once

#include <fmt/printf.h>

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace Quor {

struct LogDescriptor {
  char const* name;
  char const* format;
  char const* explanation;
  char const* recommendedAction;
  int severity;
};

class LogHandle {
 public:
  using Seconds = std::chrono::duration<double>;

  LogHandle(LogDescriptor const& descriptor, Seconds repeatInterval, double intervalGrowth,
            std::uint32_t burst, std::uint32_t maximumInterval);
  LogHandle(LogHandle const&) = delete;
  LogHandle& operator=(LogHandle const&) = delete;

  LogDescriptor const& descriptor() const noexcept { return descriptor_; }
  // Messages suppressed so far by rate limiting.
  std::uint64_t suppressed() const;

  // Writes one already formatted message, subject to rate limiting.
  void emit(std::string const& message);

 private:
  LogDescriptor const& descriptor_;
  Seconds repeatInterval_;
  double intervalGrowth_;
  std::uint32_t burst_;
  Seconds maximumInterval_;

  mutable std::mutex mutex_;
  std::chrono::steady_clock::time_point windowStart_{};
  Seconds currentInterval_;
  std::uint32_t sentInWindow_ = 0;
  std::uint64_t suppressedSinceLast_ = 0;
  std::uint64_t suppressedTotal_ = 0;
};

struct LogRecord {
  std::string name;
  int severity = 0;
  std::string message;
};

// While a capture exists, every log message let through is recorded in it
// instead of being written out. Captures nest; the newest one receives.
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(LogCapture const&) = delete;
  LogCapture& operator=(LogCapture const&) = delete;

  std::vector<LogRecord> const& records() const noexcept { return records_; }

 private:
  friend class LogHandle;
  std::vector<LogRecord> records_;
  LogCapture* previous_;
};

// Formats the handle's format with `arguments` (printf conversions) and emits
// the message.
template <class... Args>
void log(LogHandle& handle, Args const&... arguments) {
  handle.emit(fmt::sprintf(handle.descriptor().format, arguments...));
}

}  // namespace Quor

// Defines a descriptor named `identifier` in the ".norvex_logmsg" section.
#define QUOR_LOG_DESCRIPTOR(identifier, name, format, explanation, action, severity)        \
  __attribute__((section(".norvex_logmsg"), used)) ::Quor::LogDescriptor const identifier { \
    name, format, explanation, action, severity                                             \
  }
