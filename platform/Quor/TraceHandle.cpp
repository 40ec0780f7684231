#include "Quor/TraceHandle.h"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>

#include "Quor/System.h"

namespace Quor {

// The process's trace state: the handles by name, the configured masks, the
// output file and the active capture. Made on first use and never destroyed,
// so handles of any translation unit may register and unregister during static
// initialisation and destruction.
class TraceRegistry {
 public:
  static TraceRegistry& instance() {
    static auto* registry = new TraceRegistry();
    return *registry;
  }

  void add(TraceHandle* handle) {
    std::lock_guard lock(mutex_);
    handles_.emplace(handle->name_, handle);
    handle->mask_.store(configuredMask(handle->name_), std::memory_order_relaxed);
  }

  void remove(TraceHandle* handle) {
    std::lock_guard lock(mutex_);
    auto [first, last] = handles_.equal_range(handle->name_);
    for (auto it = first; it != last; ++it) {
      if (it->second == handle) {
        handles_.erase(it);
        return;
      }
    }
  }

  void levelsIs(std::string_view name, std::uint16_t mask) {
    std::lock_guard lock(mutex_);
    if (name == "*") {
      wildcardMask_ = mask;
    } else {
      masks_[std::string(name)] = mask;
    }
    applyAll();
  }

  void reset() {
    std::lock_guard lock(mutex_);
    masks_.clear();
    wildcardMask_ = 0;
    applyAll();
  }

  void write(TraceRecord record) {
    std::lock_guard lock(mutex_);
    if (capture_ != nullptr) {
      capture_->records_.push_back(std::move(record));
      return;
    }
    char const* slash = std::strrchr(record.file.c_str(), '/');
    std::string const line =
        fmt::format("{} {}/{} {}:{} {} {}: {}\n", System::timestampText(System::currentTimeUtc()),
                    record.handle, record.level, slash != nullptr ? slash + 1 : record.file.c_str(),
                    record.line, record.function, record.tag, record.message);
    std::fputs(line.c_str(), output_);
    std::fflush(output_);
  }

  TraceCapture* captureIs(TraceCapture* capture) {
    std::lock_guard lock(mutex_);
    return std::exchange(capture_, capture);
  }

 private:
  TraceRegistry() {
    if (char const* text = std::getenv("ZADU_TRACE"); text != nullptr) {
      std::vector<std::string> const problems = parseInto(text);
      if (!problems.empty()) {
        std::fprintf(stderr, "ZADU_TRACE: skipped malformed entries: %s\n",
                     fmt::format("{}", fmt::join(problems, "; ")).c_str());
      }
    }
  }

  friend class TraceHandle;

  // Parses `text` into the configured masks; returns the malformed entries.
  // REQUIRES: the caller holds the mutex or is the constructor.
  std::vector<std::string> parseInto(std::string_view text) {
    std::vector<std::string> problems;
    while (!text.empty()) {
      std::size_t const end = text.find(';');
      std::string_view entry = trim(text.substr(0, end));
      text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
      if (entry.empty()) {
        continue;
      }
      std::size_t const equals = entry.find('=');
      std::optional<std::uint16_t> mask;
      if (equals != std::string_view::npos && equals > 0) {
        mask = parseLevels(trim(entry.substr(equals + 1)));
      }
      if (!mask) {
        problems.push_back(
            fmt::format("'{}' (expected name=levels, levels being all, none, a hex "
                        "mask or a list such as 1-3,8 of levels 0 to 15)",
                        entry));
        continue;
      }
      std::string_view const name = trim(entry.substr(0, equals));
      if (name == "*") {
        wildcardMask_ = *mask;
      } else {
        masks_[std::string(name)] = *mask;
      }
    }
    return problems;
  }

  static std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
      text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
      text.remove_suffix(1);
    }
    return text;
  }

  static std::optional<unsigned> parseNumber(std::string_view text, int base = 10) {
    unsigned value = 0;
    auto const [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (error != std::errc() || end != text.data() + text.size() || text.empty()) {
      return std::nullopt;
    }
    return value;
  }

  static std::optional<std::uint16_t> parseLevels(std::string_view text) {
    if (text == "all") {
      return 0xFFFF;
    }
    if (text == "none") {
      return 0;
    }
    if (text.starts_with("0x") || text.starts_with("0X")) {
      auto const value = parseNumber(text.substr(2), 16);
      if (!value || *value > 0xFFFF) {
        return std::nullopt;
      }
      return static_cast<std::uint16_t>(*value);
    }
    if (text.empty()) {
      return std::nullopt;
    }
    std::uint16_t mask = 0;
    while (!text.empty()) {
      std::size_t const comma = text.find(',');
      std::string_view const item = trim(text.substr(0, comma));
      text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
      std::size_t const dash = item.find('-');
      auto const low = parseNumber(item.substr(0, dash));
      auto const high = dash == std::string_view::npos ? low : parseNumber(item.substr(dash + 1));
      if (!low || !high || *low > *high || *high > 15) {
        return std::nullopt;
      }
      for (unsigned level = *low; level <= *high; ++level) {
        mask = static_cast<std::uint16_t>(mask | (1u << level));
      }
    }
    return mask;
  }

  std::uint16_t configuredMask(std::string const& name) const {
    auto const found = masks_.find(name);
    return found != masks_.end() ? found->second : wildcardMask_;
  }

  void applyAll() {
    for (auto& [name, handle] : handles_) {
      handle->mask_.store(configuredMask(name), std::memory_order_relaxed);
    }
  }

  std::mutex mutex_;
  std::multimap<std::string, TraceHandle*> handles_;
  std::map<std::string, std::uint16_t> masks_;
  std::uint16_t wildcardMask_ = 0;
  std::FILE* output_ = System::outputFile("ZADU_TRACE_FILE");
  TraceCapture* capture_ = nullptr;
};

TraceHandle::TraceHandle(std::string_view name) : name_(name) {
  TraceRegistry::instance().add(this);
}

TraceHandle::~TraceHandle() {
  TraceRegistry::instance().remove(this);
}

void TraceHandle::write(TraceRecord record) {
  TraceRegistry::instance().write(std::move(record));
}

void TraceHandle::levelsIs(std::string_view name, std::uint16_t mask) {
  TraceRegistry::instance().levelsIs(name, mask);
}

std::vector<std::string> TraceHandle::configure(std::string_view text) {
  TraceRegistry& registry = TraceRegistry::instance();
  std::lock_guard lock(registry.mutex_);
  std::vector<std::string> problems = registry.parseInto(text);
  registry.applyAll();
  return problems;
}

void TraceHandle::reset() {
  TraceRegistry::instance().reset();
}

TraceCapture::TraceCapture() : previous_(TraceRegistry::instance().captureIs(this)) {}

TraceCapture::~TraceCapture() {
  TraceRegistry::instance().captureIs(previous_);
}

bool TraceCapture::contains(std::string_view message) const {
  for (TraceRecord const& record : records_) {
    if (record.message == message) {
      return true;
    }
  }
  return false;
}

std::vector<TraceRecord> TraceCapture::atLevel(std::string_view handle, unsigned level) const {
  std::vector<TraceRecord> found;
  for (TraceRecord const& record : records_) {
    if (record.handle == handle && record.level == level) {
      found.push_back(record);
    }
  }
  return found;
}

}  // namespace Quor
