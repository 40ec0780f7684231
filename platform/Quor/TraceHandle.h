// Quor::TraceHandle: named trace points with a 16-bit level mask.
//
// Each source file owns one handle (several may share a name). A message at
// level n (0..15) is formatted and written only when bit n of its handle's
// mask is set; a disabled message costs one load and one test, and its
// arguments are not evaluated:
//
//   QUOR_TRACE(traceHandle, 8, "TcamSwTable", " key: {}", key);
//
// A message carries the source file, function and line, a tag (the class
// name, or empty) and a fmt format string with "{}" placeholders.
//
// Levels are set per handle name: by the environment variable ZADU_TRACE when
// the first handle is made, or by TraceHandle::levelsIs / configure. Syntax of
// ZADU_TRACE: entries separated by ';', each "name=levels", where levels is
// "all", "none", a hex mask such as 0x0106, or a comma-separated list of
// levels and ranges such as 1-3,8; the name "*" sets every handle without an
// entry of its own. A malformed entry is skipped with one warning on stderr.
// Output goes to stderr, or appended to the file named by ZADU_TRACE_FILE, one
// line per message:
//   2026-12-06 15:20:01.123456 TcamSwTable/8 TcamSwTable.cpp:120 entryWrite TcamSwTable: key: ...
//
// Tests capture output with Quor::TraceCapture.
//
// Thread safety: enabled() may be called from any thread. Writing a message
// and changing levels are serialised by a mutex.
#pragma once

#include <fmt/format.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace Quor {

struct TraceRecord {
  std::string handle;
  unsigned level = 0;
  std::string file;
  std::string function;
  unsigned line = 0;
  std::string tag;
  std::string message;
};

class TraceHandle {
 public:
  explicit TraceHandle(std::string_view name);
  ~TraceHandle();
  TraceHandle(TraceHandle const&) = delete;
  TraceHandle& operator=(TraceHandle const&) = delete;

  std::string_view name() const noexcept { return name_; }
  bool enabled(unsigned level) const noexcept {
    return ((mask_.load(std::memory_order_relaxed) >> level) & 1u) != 0;
  }
  std::uint16_t levels() const noexcept { return mask_.load(std::memory_order_relaxed); }

  // REQUIRES: enabled(level); QUOR_TRACE checks it.
  template <class... Args>
  void emit(unsigned level, char const* file, char const* function, unsigned line,
            std::string_view tag, fmt::format_string<Args...> format, Args&&... args) {
    write(TraceRecord{std::string(name_), level, file, function, line, std::string(tag),
                      fmt::format(format, std::forward<Args>(args)...)});
  }

  // Sets the mask of every handle named `name`, now and for handles made later.
  // The name "*" sets every handle that has no setting of its own.
  static void levelsIs(std::string_view name, std::uint16_t mask);
  // Applies a configuration in the ZADU_TRACE syntax; returns one line per
  // malformed entry (the well-formed entries are applied).
  static std::vector<std::string> configure(std::string_view text);
  // Forgets every setting and turns every handle off.
  static void reset();

 private:
  friend class TraceRegistry;
  void write(TraceRecord record);

  std::string name_;
  std::atomic<std::uint16_t> mask_{0};
};

// While a capture exists, every trace message is recorded in it instead of
// being written out. Captures nest; the newest one receives.
class TraceCapture {
 public:
  TraceCapture();
  ~TraceCapture();
  TraceCapture(TraceCapture const&) = delete;
  TraceCapture& operator=(TraceCapture const&) = delete;

  std::vector<TraceRecord> const& records() const noexcept { return records_; }
  // True when a captured message has exactly this text.
  bool contains(std::string_view message) const;
  // Captured messages at `level` of handles named `handle`.
  std::vector<TraceRecord> atLevel(std::string_view handle, unsigned level) const;
  void clear() noexcept { records_.clear(); }

 private:
  friend class TraceRegistry;
  std::vector<TraceRecord> records_;
  TraceCapture* previous_;
};

}  // namespace Quor

#define QUOR_TRACE(handle, level, tag, ...)                                 \
  do {                                                                      \
    if ((handle).enabled(level)) [[unlikely]] {                             \
      (handle).emit(level, __FILE__, __func__, __LINE__, tag, __VA_ARGS__); \
    }                                                                       \
  } while (false)
