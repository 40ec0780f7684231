// The adjacency table's data model: next hops and the shared-memory records
// that give each one a stable adjacency index. One format for the agent that
// writes them and the hardware sides and tools that read them.
//
//   NextHopPath               one path: an IPv4 gateway and an interface
//                             index.
//   AdjacencyKey              a next hop: one path, or an ECMP group of up
//                             to 64 distinct paths, kept sorted so that a set
//                             of paths has one key.
//   AdjacencyConfigRecord     one committed next hop and its index: the
//                             collection `adjacencies` of the configuration
//                             table (a Pantry::PantryMap keyed by the
//                             AdjacencyKey).
//   AdjacencyLogRecord        one change of the change log (a
//                             Pantry::PantryRing keyed by log version): a
//                             next hop written, or deleted (`deleted()`).
//                             Its scratchpad holds the table version.
//
// Indexes run from 1 to AdjacencyConstants::capacity; 0 names no adjacency.
// An index is given to a next hop when it is first written and kept until
// the hardware side has taken its delete: a record in deletion keeps its
// index, and only once the agent has removed that record may the index name
// another next hop. So an index read from a TCAM entry names, at any version
// the hardware side has taken, the next hop the route was written for.
//
// Records are read by other processes: layouts are fixed by the
// static_asserts below, padding is explicit and zero, and the default
// record is all zero.
#pragma once

#include <fmt/format.h>

#include <algorithm>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <type_traits>

#include "Hunkpool/Pool.h"
#include "Pantry/PantryMap.h"
#include "Pantry/PantryRing.h"
#include "Pantry/SegmentFormat.h"
#include "QuorPantry/PantryEntity.h"
#include "Zido/Identifiers.h"

namespace ZaduLpmLib {

struct NextHopPath {
  std::uint32_t gateway = 0;  // IPv4 address, host order
  std::uint32_t ifIndex = 0;  // the egress interface

  constexpr bool operator==(NextHopPath const&) const noexcept = default;
  constexpr std::strong_ordering operator<=>(NextHopPath const&) const noexcept = default;
};

// A next hop that cannot be an adjacency key: no path, more than 64, or the
// same path twice.
class AdjacencyKeyError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

struct AdjacencyKey {
  static constexpr std::uint32_t maxPaths = 64;

  std::uint32_t pathCount = 0;
  std::uint32_t reserved = 0;
  NextHopPath paths[maxPaths] = {};  // sorted, distinct; zero past pathCount

  constexpr AdjacencyKey() noexcept = default;
  // The key of a set of paths in any order; raises AdjacencyKeyError when
  // they are not 1 to 64 distinct paths.
  static AdjacencyKey of(std::span<NextHopPath const> paths);
  static AdjacencyKey of(NextHopPath path) { return of(std::span<NextHopPath const>(&path, 1)); }

  std::span<NextHopPath const> pathSpan() const noexcept {
    return {paths, std::min(pathCount, maxPaths)};
  }
  bool isEcmp() const noexcept { return pathCount > 1; }
  // Whether a record from shared memory holds a key of() could have made.
  bool valid() const noexcept;
  std::uint64_t hash() const noexcept;

  constexpr bool operator==(AdjacencyKey const& other) const noexcept {
    if (pathCount != other.pathCount) {
      return false;
    }
    for (std::uint32_t n = 0; n < std::min(pathCount, maxPaths); ++n) {
      if (paths[n] != other.paths[n]) {
        return false;
      }
    }
    return true;
  }
  constexpr std::strong_ordering operator<=>(AdjacencyKey const& other) const noexcept {
    if (auto const order = pathCount <=> other.pathCount; order != 0) {
      return order;
    }
    for (std::uint32_t n = 0; n < std::min(pathCount, maxPaths); ++n) {
      if (auto const order = paths[n] <=> other.paths[n]; order != 0) {
        return order;
      }
    }
    return std::strong_ordering::equal;
  }
};

// A hasher for unordered containers keyed by AdjacencyKey.
struct AdjacencyKeyHash {
  std::size_t operator()(AdjacencyKey const& key) const noexcept { return key.hash(); }
};

struct AdjacencyConfigRecord {
  Zido::LogVersion logVersion = 0;  // the last write or delete of the next hop
  std::uint32_t index = 0;          // its adjacency index, 1 to capacity
  std::uint8_t inDeletion = 0;      // deleted; kept until the cleanup of logVersion
  std::uint8_t reserved[3] = {};
  AdjacencyKey key;

  bool operator==(AdjacencyConfigRecord const& other) const noexcept {
    return logVersion == other.logVersion && index == other.index &&
           inDeletion == other.inDeletion && key == other.key;
  }
};

struct AdjacencyLogRecord {
  static constexpr std::uint8_t deletedBit = 1 << 0;

  Zido::LogVersion version = 0;
  std::uint32_t index = 0;
  std::uint8_t flags = 0;
  std::uint8_t reserved[3] = {};
  AdjacencyKey key;

  bool deleted() const noexcept { return (flags & deletedBit) != 0; }
};

static_assert(std::is_trivially_copyable_v<AdjacencyKey>);
static_assert(sizeof(AdjacencyKey) == 8 + 8 * AdjacencyKey::maxPaths);
static_assert(std::is_trivially_copyable_v<AdjacencyConfigRecord>);
static_assert(sizeof(AdjacencyConfigRecord) == 16 + sizeof(AdjacencyKey));
static_assert(offsetof(AdjacencyConfigRecord, key) == 16);
static_assert(std::is_trivially_copyable_v<AdjacencyLogRecord>);
static_assert(sizeof(AdjacencyLogRecord) == 16 + sizeof(AdjacencyKey));
static_assert(offsetof(AdjacencyLogRecord, key) == 16);

struct AdjacencyConfigKeyOf {
  using Key = AdjacencyKey;
  static Key const& key(AdjacencyConfigRecord const& record) { return record.key; }
  static std::uint64_t hash(Key const& key) { return key.hash(); }
};

struct AdjacencyLogKeyOf {
  using Key = std::uint64_t;
  static Key key(AdjacencyLogRecord const& record) { return record.version; }
};

using AdjacencyConfigMap = Pantry::PantryMap<AdjacencyConfigRecord, AdjacencyConfigKeyOf>;
using AdjacencyLogRing = Pantry::PantryRing<AdjacencyLogRecord, AdjacencyLogKeyOf>;
using AdjacencyConfigPantry = QuorPantry::CollectionEntity<AdjacencyConfigMap>;
using AdjacencyLogPantry = QuorPantry::CollectionEntity<AdjacencyLogRing>;

// The fixed names, sizes and paths of the adjacency table. One table for the
// switch: a next hop is the switch's (a gateway on one of its interfaces),
// so its index means the same on every unit, and a hardware side programs it
// into every unit's adjacency table before any route points at it.
//   change log      zido/ZaduRoute-ZaduRoute/ZaduLpm/Adjacency/entryLog
//   configuration   zido/ZaduRoute-ZaduRoute/ZaduLpm/Adjacency/config
struct AdjacencyConstants {
  static constexpr char const* tableName = "Adjacency";
  static constexpr std::uint32_t tableIdValue = 0x0201080A;
  static constexpr std::uint32_t capacity = 4096;
  // Changes the hardware side has not taken yet; commits wait for room.
  static constexpr std::uint64_t logCapacity = 16384;
  static constexpr char const* configTypeName = "ZaduLpmLib::AdjacencyConfigPantry";
  static constexpr char const* configCollectionName = "adjacencies";
  static constexpr char const* logTypeName = "ZaduLpmLib::AdjacencyLogPantry";
  static constexpr char const* logCollectionName = "adjacencyLog";

  static std::string const& logPantryPath();
  static std::string const& configPantryPath();
};

}  // namespace ZaduLpmLib

template <>
struct fmt::formatter<ZaduLpmLib::NextHopPath> : fmt::formatter<std::string_view> {
  auto format(ZaduLpmLib::NextHopPath const& path, format_context& context) const {
    return fmt::format_to(context.out(), "{}.{}.{}.{}@{}", path.gateway >> 24,
                          (path.gateway >> 16) & 0xFF, (path.gateway >> 8) & 0xFF,
                          path.gateway & 0xFF, path.ifIndex);
  }
};

// "10.0.0.1@3" for one path; "10.0.0.1@3,10.0.0.2@4" for a group.
template <>
struct fmt::formatter<ZaduLpmLib::AdjacencyKey> : fmt::formatter<std::string_view> {
  auto format(ZaduLpmLib::AdjacencyKey const& key, format_context& context) const {
    auto out = context.out();
    char const* separator = "";
    for (ZaduLpmLib::NextHopPath const& path : key.pathSpan()) {
      out = fmt::format_to(out, "{}{}", separator, path);
      separator = ",";
    }
    return out;
  }
};
