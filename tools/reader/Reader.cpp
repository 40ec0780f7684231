#include "tools/reader/Reader.h"

#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "QuorSharedMem/EntityManager.h"
#include "Vesk/Exception.h"
#include "ZaduLpmLib/Ipv4Text.h"
#include "ZaduLpmLib/TcamConstants.h"
#include "Zido/Constants.h"

namespace ZaduRead {

namespace {

using ZaduLpmLib::TcamDataModelEntryKey;

constexpr char const* segmentSuffix = ".pantry";

std::string groupName() {
  return Zido::Constants::canonicalizeGroupName(ZaduLpmLib::TcamConstants::agentName,
                                                ZaduLpmLib::TcamConstants::groupName);
}

// Runs a read of collections that a writer may be changing; a read that
// keeps meeting changes is tried again, then reported.
template <class Read>
auto consistently(std::string const& what, Read const& read) -> decltype(read()) {
  for (int attempt = 0;; ++attempt) {
    try {
      return read();
    } catch (Vesk::CorruptionDetectedException const& error) {
      if (attempt == 5) {
        throw ReadError(ReadError::damaged, fmt::format("{}: {}", what, error.what()));
      }
    }
  }
}

EntryRecord entryRecordOf(ZaduLpmLib::TcamDataModelConfigPantryEntry const& record) {
  return EntryRecord{record.logVersion, record.inDeletion, record.logEntry.entry, std::nullopt};
}

}  // namespace

Reader::Reader(std::string const& root, std::string const& store)
    : root_(root.empty() ? QuorSharedMem::sharedMemoryRoot()
                         : QuorSharedMem::withoutTrailingSlashes(root)),
      directory_(fmt::format("{}/local/{}", root_, store)) {
  if (!root_.starts_with('/')) {
    throw ReadError(ReadError::noSharedMemory,
                    fmt::format("shared-memory root '{}' is not an absolute path", root_));
  }
  if (!QuorSharedMem::validComponent(store)) {
    throw ReadError(ReadError::noSharedMemory,
                    fmt::format("'{}' is not a valid store name", store));
  }
  std::error_code error;
  if (!std::filesystem::exists(root_, error)) {
    if (error == std::errc::permission_denied) {
      throw ReadError(ReadError::permission, fmt::format("{}: permission denied", root_));
    }
    throw ReadError(ReadError::noSharedMemory,
                    fmt::format("no shared memory at {}: no such directory", root_));
  }
  if (access(root_.c_str(), R_OK | X_OK) != 0) {
    throw ReadError(ReadError::permission, fmt::format("{}: permission denied", root_));
  }
  if (!std::filesystem::is_directory(directory_, error)) {
    throw ReadError(ReadError::noSharedMemory,
                    fmt::format("no shared memory at {}: no store '{}' under it", root_, store));
  }
  if (access(directory_.c_str(), R_OK | X_OK) != 0) {
    throw ReadError(ReadError::permission, fmt::format("{}: permission denied", directory_));
  }
}

std::string Reader::filePath(std::string const& entityPath) const {
  return fmt::format("{}/{}{}", directory_, entityPath, segmentSuffix);
}

template <class Collection>
Vesk::Ptr<Collection> Reader::mount(std::string const& entityPath, std::uint64_t capacity,
                                    char const* typeName, char const* collectionName) {
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

Writer Reader::writerOf(std::string const& file, std::uint64_t recordedPid) const {
  Writer writer{recordedPid, false};
  struct stat status {};
  if (stat(file.c_str(), &status) != 0) {
    return writer;
  }
  // Lines of /proc/locks: "1: FLOCK  ADVISORY  WRITE 1234 00:2c:5678 0 EOF".
  std::ifstream locks("/proc/locks");
  std::string const inode = fmt::format(":{} ", status.st_ino);
  for (std::string line; std::getline(locks, line);) {
    std::istringstream words(line);
    std::string number, type, mode, access;
    std::uint64_t pid = 0;
    std::string device;
    words >> number >> type >> mode >> access >> pid >> device;
    if (type == "FLOCK" && access == "WRITE" && (device + " ").ends_with(inode)) {
      writer.pid = pid;
      writer.alive = true;
    }
  }
  return writer;
}

Vesk::Ptr<ZaduLpmLib::TcamDataModelConfigMap> Reader::config(std::uint16_t unit) {
  return mount<ZaduLpmLib::TcamDataModelConfigMap>(
      ZaduLpmLib::TcamConstants::configPantryPath(unit), ZaduLpmLib::TcamConstants::configCapacity,
      ZaduLpmLib::TcamDataModelConfigPantry::typeName,
      ZaduLpmLib::TcamDataModelConfigPantry::collectionName);
}

std::vector<std::uint16_t> Reader::units() {
  std::vector<std::uint16_t> found;
  std::filesystem::path const base =
      std::filesystem::path(directory_) / ZaduLpmLib::TcamConstants::configPantryPathBase();
  std::error_code error;
  for (std::filesystem::directory_iterator it(base, error), end; !error && it != end;
       it.increment(error)) {
    std::filesystem::path const file = it->path();
    if (file.extension() != segmentSuffix) {
      continue;
    }
    std::string const entityPath =
        ZaduLpmLib::TcamConstants::configPantryPathBase() + file.stem().string();
    try {
      std::uint16_t const unit = Zido::Constants::getUnitIdFromConfigPath(entityPath);
      if (entityPath == ZaduLpmLib::TcamConstants::configPantryPath(unit)) {
        found.push_back(unit);
      }
    } catch (Vesk::Exception const&) {
      // not a unit's configuration
    }
  }
  std::sort(found.begin(), found.end());
  return found;
}

Status Reader::status() {
  Status status;
  status.directory = directory_;
  std::string const logPath = ZaduLpmLib::TcamConstants::tableEntryLogPantryPath();
  if (auto const changeLog = mount<ZaduLpmLib::TcamDataModelLogRing>(
          logPath, ZaduLpmLib::TcamConstants::entryLogCapacity,
          ZaduLpmLib::TcamDataModelEntryLogPantry::typeName,
          ZaduLpmLib::TcamDataModelEntryLogPantry::collectionName)) {
    ChangeLogStatus& log = status.changeLog;
    log.present = true;
    log.records = changeLog->count();
    if (log.records != 0) {
      log.lowestVersion = changeLog->lowKey();
      log.highestVersion = changeLog->highKey();
    }
    log.tableVersion = std::max(changeLog->scratchpad(), log.highestVersion);
    log.writer = writerOf(filePath(logPath),
                          changeLog->segment().load(changeLog->segment().header().writerPid));
  }
  std::string const versionsPath = Zido::Constants::tableVersionPantryPath(groupName());
  if (auto const versions = mount<Zido::TableVersionMap>(
          versionsPath, Zido::GroupInterface::tableVersionCapacity,
          Zido::GroupInterface::tableVersionPantryType, "tableVersion")) {
    auto const found = consistently(
        versionsPath, [&] { return versions->lookup(ZaduLpmLib::TcamConstants::tableIdValue); });
    status.hardware.present = found.found;
    status.hardware.publishedVersion = found.record.version;
    status.hardware.writer = writerOf(
        filePath(versionsPath), versions->segment().load(versions->segment().header().writerPid));
  }
  for (std::uint16_t unit : units()) {
    auto const mounted = config(unit);
    if (!mounted) {
      continue;
    }
    UnitStatus each{unit, 0, 0, ZaduLpmLib::TcamConstants::configCapacity, {}};
    consistently(filePath(ZaduLpmLib::TcamConstants::configPantryPath(unit)), [&] {
      each.live = each.inDeletion = 0;
      for (auto record = mounted->first(); record; record = mounted->nextAfter(record->key())) {
        ++(record->inDeletion ? each.inDeletion : each.live);
      }
      return 0;
    });
    each.writer = writerOf(filePath(ZaduLpmLib::TcamConstants::configPantryPath(unit)),
                           mounted->segment().load(mounted->segment().header().writerPid));
    status.units.push_back(each);
  }
  return status;
}

std::vector<LogRecord> Reader::log(std::uint64_t from, std::uint64_t to, std::uint64_t limit) {
  std::string const logPath = ZaduLpmLib::TcamConstants::tableEntryLogPantryPath();
  auto const changeLog = mount<ZaduLpmLib::TcamDataModelLogRing>(
      logPath, ZaduLpmLib::TcamConstants::entryLogCapacity,
      ZaduLpmLib::TcamDataModelEntryLogPantry::typeName,
      ZaduLpmLib::TcamDataModelEntryLogPantry::collectionName);
  if (!changeLog) {
    throw ReadError(ReadError::noSharedMemory, fmt::format("no change log in {}", directory_));
  }
  return consistently(logPath, [&] {
    std::vector<LogRecord> records;
    auto record = from == 0 ? changeLog->first() : changeLog->nextAfter(from - 1);
    for (; record && record->version <= to && (limit == 0 || records.size() < limit);
         record = changeLog->nextAfter(record->version)) {
      char const* kind = record->tableDeleted()   ? "tableDelete"
                         : record->entryDeleted() ? "entryDelete"
                                                  : "write";
      records.push_back(LogRecord{record->version, record->unitId, kind, record->entry});
    }
    return records;
  });
}

std::vector<EntryRecord> Reader::entries(std::uint16_t unit,
                                         std::optional<TcamDataModelEntryKey> prefix,
                                         bool deleted) {
  auto const mounted = config(unit);
  if (!mounted) {
    throw ReadError(ReadError::noUnit,
                    fmt::format("unit {} has no configuration table in {}", unit, directory_));
  }
  return consistently(mounted->path(), [&] {
    std::vector<EntryRecord> records;
    if (prefix) {
      auto const found = mounted->lookup(*prefix);
      if (found.found && found.record.inDeletion == deleted) {
        records.push_back(entryRecordOf(found.record));
      }
      return records;
    }
    for (auto record = mounted->first(); record; record = mounted->nextAfter(record->key())) {
      if (record->inDeletion == deleted) {
        records.push_back(entryRecordOf(*record));
      }
    }
    std::sort(records.begin(), records.end(),
              [](EntryRecord const& left, EntryRecord const& right) {
                return left.entry.key < right.entry.key;
              });
    return records;
  });
}

std::optional<EntryRecord> Reader::routeGet(std::uint16_t unit, std::uint32_t address) {
  auto const mounted = config(unit);
  if (!mounted) {
    throw ReadError(ReadError::noUnit,
                    fmt::format("unit {} has no configuration table in {}", unit, directory_));
  }
  // One probe per prefix length, longest first.
  std::optional<EntryRecord> match =
      consistently(mounted->path(), [&]() -> std::optional<EntryRecord> {
        for (int length = 32; length >= 0; --length) {
          auto const byLength = static_cast<std::uint8_t>(length);
          auto const found = mounted->lookup(
              TcamDataModelEntryKey(address & ZaduLpmLib::prefixMaskOf(byLength), byLength));
          if (found.found && !found.record.inDeletion) {
            return entryRecordOf(found.record);
          }
        }
        return std::nullopt;
      });
  if (match) {
    if (auto const nextHops = adjacencyConfig()) {
      std::uint32_t const index = match->entry.adjacencyIndex;
      match->nextHop =
          consistently(nextHops->path(), [&]() -> std::optional<ZaduLpmLib::AdjacencyKey> {
            for (auto record = nextHops->first(); record;
                 record = nextHops->nextAfter(record->key)) {
              if (record->index == index && record->inDeletion == 0) {
                return record->key;
              }
            }
            return std::nullopt;
          });
    }
  }
  return match;
}

Vesk::Ptr<ZaduLpmLib::AdjacencyConfigMap> Reader::adjacencyConfig() {
  using ZaduLpmLib::AdjacencyConstants;
  return mount<ZaduLpmLib::AdjacencyConfigMap>(
      AdjacencyConstants::configPantryPath(), AdjacencyConstants::capacity,
      AdjacencyConstants::configTypeName, AdjacencyConstants::configCollectionName);
}

std::vector<AdjacencyRecord> Reader::adjacencies(bool deleted) {
  auto const mounted = adjacencyConfig();
  if (!mounted) {
    throw ReadError(ReadError::noUnit, fmt::format("no adjacency table in {}", directory_));
  }
  return consistently(mounted->path(), [&] {
    std::vector<AdjacencyRecord> records;
    for (auto record = mounted->first(); record; record = mounted->nextAfter(record->key)) {
      if ((record->inDeletion != 0) == deleted) {
        records.push_back(
            {record->index, record->logVersion, record->inDeletion != 0, record->key});
      }
    }
    std::sort(records.begin(), records.end(),
              [](AdjacencyRecord const& left, AdjacencyRecord const& right) {
                return left.index < right.index;
              });
    return records;
  });
}

std::string formatKey(TcamDataModelEntryKey const& key) {
  return fmt::format("{}", key);
}

}  // namespace ZaduRead
