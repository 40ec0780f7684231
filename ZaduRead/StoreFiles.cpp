#include "ZaduRead/StoreFiles.h"

#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "QuorSharedMem/RootPaths.h"
#include "Vesk/Exception.h"
#include "ZaduLpmLib/TcamConstants.h"
#include "Zido/Constants.h"

namespace ZaduRead {

StoreFiles::StoreFiles(std::string root, std::string const& store)
    : root_(std::move(root)), directory_(QuorSharedMem::namespaceDirectory(root_, store, true)) {}

std::string StoreFiles::filePath(std::string const& entityPath) const {
  return QuorSharedMem::segmentFilePath(directory_, entityPath);
}

template <class Collection>
Vesk::Ptr<Collection> StoreFiles::mount(std::string const& entityPath, std::uint64_t capacity,
                                        char const* typeName, char const* collectionName) const {
  std::string const file = filePath(entityPath);
  try {
    QuorSharedMem::checkDirectories(root_, std::filesystem::path(file).parent_path(), false, 0);
  } catch (Vesk::Exception const& error) {
    throw ReadError(ReadError::permission, error.what());
  }
  struct stat status {};
  if (stat(file.c_str(), &status) != 0) {
    if (errno == EACCES) {
      throw ReadError(ReadError::permission, fmt::format("{}: permission denied", file));
    }
    return nullptr;
  }
  if (access(file.c_str(), R_OK) != 0) {
    throw ReadError(ReadError::permission, fmt::format("{}: permission denied", file));
  }
  try {
    return Collection::mountReader(file, capacity, typeName, collectionName);
  } catch (std::exception const& error) {
    throw ReadError(
        ReadError::damaged,
        fmt::format("{} is damaged or of another layout version: {}", file, error.what()));
  }
}

std::vector<Zido::UnitId> StoreFiles::units() const {
  using ZaduLpmLib::TcamConstants;
  std::vector<Zido::UnitId> found;
  std::filesystem::path const base =
      std::filesystem::path(directory_) / TcamConstants::configPantryPathBase();
  std::error_code error;
  for (std::filesystem::directory_iterator it(base, error), end; !error && it != end;
       it.increment(error)) {
    std::filesystem::path const file = it->path();
    if (file.extension() != QuorSharedMem::segmentSuffix) {
      continue;
    }
    std::string const entityPath = TcamConstants::configPantryPathBase() + file.stem().string();
    try {
      Zido::UnitId const unit = Zido::Constants::getUnitIdFromConfigPath(entityPath);
      if (entityPath == TcamConstants::configPantryPath(unit)) {
        found.push_back(unit);
      }
    } catch (Vesk::Exception const&) {
      // A file of that folder that is no unit's configuration: not this table's.
    }
  }
  std::sort(found.begin(), found.end());
  return found;
}

Vesk::Ptr<ZaduLpmLib::TcamDataModelLogRing> StoreFiles::changeLog() const {
  using ZaduLpmLib::TcamDataModelEntryLogPantry;
  return mount<ZaduLpmLib::TcamDataModelLogRing>(
      ZaduLpmLib::TcamConstants::tableEntryLogPantryPath(),
      ZaduLpmLib::TcamConstants::entryLogCapacity, TcamDataModelEntryLogPantry::typeName,
      TcamDataModelEntryLogPantry::collectionName);
}

Vesk::Ptr<ZaduLpmLib::TcamDataModelConfigMap> StoreFiles::config(Zido::UnitId unit) const {
  using ZaduLpmLib::TcamDataModelConfigPantry;
  return mount<ZaduLpmLib::TcamDataModelConfigMap>(
      ZaduLpmLib::TcamConstants::configPantryPath(unit), ZaduLpmLib::TcamConstants::configCapacity,
      TcamDataModelConfigPantry::typeName, TcamDataModelConfigPantry::collectionName);
}

Vesk::Ptr<ZaduLpmLib::AdjacencyConfigMap> StoreFiles::adjacencyConfig() const {
  using ZaduLpmLib::AdjacencyConstants;
  return mount<ZaduLpmLib::AdjacencyConfigMap>(
      AdjacencyConstants::configPantryPath(), AdjacencyConstants::capacity,
      AdjacencyConstants::configTypeName, AdjacencyConstants::configCollectionName);
}

Vesk::Ptr<ZaduLpmLib::AdjacencyLogRing> StoreFiles::adjacencyLog() const {
  using ZaduLpmLib::AdjacencyConstants;
  return mount<ZaduLpmLib::AdjacencyLogRing>(
      AdjacencyConstants::logPantryPath(), AdjacencyConstants::logCapacity,
      AdjacencyConstants::logTypeName, AdjacencyConstants::logCollectionName);
}

Vesk::Ptr<Zido::NeededEntryRing> StoreFiles::neededEntries(Zido::SwTableId tableId) const {
  using Zido::NeededEntryLogFormat;
  return mount<Zido::NeededEntryRing>(Zido::Constants::neededEntryPantryPath(
                                          ZaduLpmLib::TcamConstants::canonicalGroupName(), tableId),
                                      NeededEntryLogFormat::capacity,
                                      NeededEntryLogFormat::typeName,
                                      NeededEntryLogFormat::collectionName);
}

Vesk::Ptr<Zido::TableVersionMap> StoreFiles::tableVersions() const {
  return mount<Zido::TableVersionMap>(
      Zido::Constants::tableVersionPantryPath(ZaduLpmLib::TcamConstants::canonicalGroupName()),
      Zido::GroupInterface::tableVersionCapacity, Zido::GroupInterface::tableVersionPantryType,
      "tableVersion");
}

}  // namespace ZaduRead
