#include "ZaduLpmLib/AdjacencyDataModel.h"

#include "ZaduLpmLib/TcamConstants.h"
#include "Zido/Constants.h"

namespace ZaduLpmLib {

namespace {

[[maybe_unused]] bool const pantryTypesRegistered = [] {
  QuorPantry::registerCollectionEntity<AdjacencyConfigMap>(AdjacencyConstants::configTypeName);
  QuorPantry::registerCollectionEntity<AdjacencyLogRing>(AdjacencyConstants::logTypeName);
  return true;
}();

std::string adjacencyPath(char const* leaf) {
  return fmt::format("zido/{}/{}/{}/{}", TcamConstants::canonicalGroupName(),
                     TcamConstants::tableNamespace, AdjacencyConstants::tableName, leaf);
}

}  // namespace

AdjacencyKey AdjacencyKey::of(std::span<NextHopPath const> paths) {
  if (paths.empty()) {
    throw AdjacencyKeyError("a next hop needs at least one path");
  }
  if (paths.size() > maxPaths) {
    throw AdjacencyKeyError(
        fmt::format("a next hop has at most {} paths, not {}", maxPaths, paths.size()));
  }
  AdjacencyKey key;
  std::copy(paths.begin(), paths.end(), key.paths);
  key.pathCount = static_cast<std::uint32_t>(paths.size());
  std::sort(key.paths, key.paths + key.pathCount);
  if (auto const twice = std::adjacent_find(key.paths, key.paths + key.pathCount);
      twice != key.paths + key.pathCount) {
    throw AdjacencyKeyError(fmt::format("path {} is named twice", *twice));
  }
  return key;
}

bool AdjacencyKey::valid() const noexcept {
  if (pathCount == 0 || pathCount > maxPaths || reserved != 0) {
    return false;
  }
  for (std::uint32_t n = 1; n < pathCount; ++n) {
    if (!(paths[n - 1] < paths[n])) {
      return false;
    }
  }
  return std::all_of(paths + pathCount, paths + maxPaths,
                     [](NextHopPath const& path) { return path == NextHopPath{}; });
}

std::uint64_t AdjacencyKey::hash() const noexcept {
  std::uint64_t hash = Pantry::Format::mix(0x41444A, pathCount);
  for (NextHopPath const& path : pathSpan()) {
    hash = Pantry::Format::mix(hash, (std::uint64_t{path.gateway} << 32) | path.ifIndex);
  }
  return hash;
}

std::string const& AdjacencyConstants::logPantryPath() {
  static std::string const path = adjacencyPath("entryLog");
  return path;
}

std::string const& AdjacencyConstants::configPantryPath() {
  static std::string const path = adjacencyPath("config");
  return path;
}

}  // namespace ZaduLpmLib
