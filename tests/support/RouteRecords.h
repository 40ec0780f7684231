// The records the collection tests and benchmarks store: an LPM-like key and a value whose
// check word lets any reader tell a torn or foreign record from a real one.
#pragma once

#include <compare>
#include <cstdint>

#include "Pantry/PantryMap.h"
#include "Pantry/PantryRing.h"
#include "Pantry/SegmentFormat.h"

namespace ZaduTest {

struct RouteKey {
  std::uint32_t prefix = 0;
  std::uint8_t length = 0;
  auto operator<=>(RouteKey const&) const = default;
};

struct RouteRecord {
  RouteKey key;
  std::uint32_t nextHop = 0;
  std::uint64_t version = 0;
  std::uint64_t check = 0;  // checkOf(key, nextHop, version)

  static std::uint64_t checkOf(RouteKey key, std::uint32_t nextHop, std::uint64_t version) {
    return Pantry::Format::mix(Pantry::Format::mix(key.prefix * 256ull + key.length, nextHop),
                               version);
  }
  static RouteRecord make(RouteKey key, std::uint32_t nextHop, std::uint64_t version) {
    return RouteRecord{key, nextHop, version, checkOf(key, nextHop, version)};
  }
  bool consistent() const { return check == checkOf(key, nextHop, version); }
  bool operator==(RouteRecord const&) const = default;
};

struct RouteKeyOf {
  using Key = RouteKey;
  static Key key(RouteRecord const& record) { return record.key; }
  static std::uint64_t hash(Key const& key) {
    return Pantry::Format::mix(0, (std::uint64_t{key.prefix} << 8) | key.length);
  }
};

struct LogRecord {
  std::uint64_t version = 0;
  std::uint32_t unit = 0;
  std::uint32_t nextHop = 0;
  std::uint64_t check = 0;

  static LogRecord make(std::uint64_t version, std::uint32_t unit) {
    return LogRecord{version, unit, unit * 7 + 1,
                     Pantry::Format::mix(version, unit * 31ull + unit * 7 + 1)};
  }
  bool consistent() const { return check == Pantry::Format::mix(version, unit * 31ull + nextHop); }
  bool operator==(LogRecord const&) const = default;
};

struct LogKeyOf {
  using Key = std::uint64_t;
  static Key key(LogRecord const& record) { return record.version; }
};

using RouteMap = Pantry::PantryMap<RouteRecord, RouteKeyOf>;
using LogRing = Pantry::PantryRing<LogRecord, LogKeyOf>;

inline RouteKey routeKey(std::uint32_t n) {
  return RouteKey{n * 2654435761u, static_cast<std::uint8_t>(n % 33)};
}

}  // namespace ZaduTest
