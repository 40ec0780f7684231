#include "ZaduRead/Reader.h"

#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "QuorSharedMem/RootPaths.h"
#include "Vesk/Exception.h"
#include "ZaduLpmLib/Ipv4Text.h"
#include "ZaduLpmLib/TcamConstants.h"
#include "Zido/Constants.h"

namespace ZaduRead {

namespace {

using ZaduLpmLib::TcamDataModelEntryKey;

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
    : files_(root.empty() ? QuorSharedMem::sharedMemoryRoot()
                          : QuorSharedMem::withoutTrailingSlashes(root),
             store) {
  std::string const& rootPath = files_.root();
  std::string const& directory = files_.directory();
  if (!rootPath.starts_with('/')) {
    throw ReadError(ReadError::noSharedMemory,
                    fmt::format("shared-memory root '{}' is not an absolute path", rootPath));
  }
  if (!QuorSharedMem::validComponent(store)) {
    throw ReadError(ReadError::noSharedMemory,
                    fmt::format("'{}' is not a valid store name", store));
  }
  std::error_code error;
  if (!std::filesystem::exists(rootPath, error)) {
    if (error == std::errc::permission_denied) {
      throw ReadError(ReadError::permission, fmt::format("{}: permission denied", rootPath));
    }
    throw ReadError(ReadError::noSharedMemory,
                    fmt::format("no shared memory at {}: no such directory", rootPath));
  }
  if (access(rootPath.c_str(), R_OK | X_OK) != 0) {
    throw ReadError(ReadError::permission, fmt::format("{}: permission denied", rootPath));
  }
  if (!std::filesystem::is_directory(directory, error)) {
    throw ReadError(ReadError::noSharedMemory,
                    fmt::format("no shared memory at {}: no store '{}' under it", rootPath, store));
  }
  if (access(directory.c_str(), R_OK | X_OK) != 0) {
    throw ReadError(ReadError::permission, fmt::format("{}: permission denied", directory));
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

Vesk::Ptr<ZaduLpmLib::TcamDataModelConfigMap> Reader::requireConfig(std::uint16_t unit) const {
  auto mounted = files_.config(unit);
  if (!mounted) {
    throw ReadError(ReadError::noUnit, fmt::format("unit {} has no configuration table in {}", unit,
                                                   files_.directory()));
  }
  return mounted;
}

Status Reader::status() {
  Status status;
  status.directory = files_.directory();
  std::string const logPath = ZaduLpmLib::TcamConstants::tableEntryLogPantryPath();
  if (auto const changeLog = files_.changeLog()) {
    ChangeLogStatus& log = status.changeLog;
    log.present = true;
    log.records = changeLog->count();
    if (log.records != 0) {
      log.lowestVersion = changeLog->lowKey();
      log.highestVersion = changeLog->highKey();
    }
    log.tableVersion = std::max(changeLog->scratchpad(), log.highestVersion);
    log.writer = writerOf(files_.filePath(logPath),
                          changeLog->segment().load(changeLog->segment().header().writerPid));
  }
  std::string const versionsPath =
      Zido::Constants::tableVersionPantryPath(ZaduLpmLib::TcamConstants::canonicalGroupName());
  if (auto const versions = files_.tableVersions()) {
    auto const found = consistently(
        versionsPath, [&] { return versions->lookup(ZaduLpmLib::TcamConstants::tableIdValue); });
    status.hardware.present = found.found;
    status.hardware.publishedVersion = found.record.version;
    status.hardware.writer =
        writerOf(files_.filePath(versionsPath),
                 versions->segment().load(versions->segment().header().writerPid));
  }
  for (std::uint16_t unit : files_.units()) {
    auto const mounted = files_.config(unit);
    if (!mounted) {
      continue;
    }
    UnitStatus each{unit, 0, 0, ZaduLpmLib::TcamConstants::configCapacity, {}};
    consistently(files_.filePath(ZaduLpmLib::TcamConstants::configPantryPath(unit)), [&] {
      each.live = each.inDeletion = 0;
      for (auto record = mounted->first(); record; record = mounted->nextAfter(record->key())) {
        ++(record->inDeletion ? each.inDeletion : each.live);
      }
      return 0;
    });
    each.writer = writerOf(files_.filePath(ZaduLpmLib::TcamConstants::configPantryPath(unit)),
                           mounted->segment().load(mounted->segment().header().writerPid));
    status.units.push_back(each);
  }
  return status;
}

std::vector<LogRecord> Reader::log(std::uint64_t from, std::uint64_t to, std::uint64_t limit) {
  std::string const logPath = ZaduLpmLib::TcamConstants::tableEntryLogPantryPath();
  auto const changeLog = files_.changeLog();
  if (!changeLog) {
    throw ReadError(ReadError::noSharedMemory,
                    fmt::format("no change log in {}", files_.directory()));
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
  auto const mounted = requireConfig(unit);
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
  auto const mounted = requireConfig(unit);
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
    if (auto const nextHops = files_.adjacencyConfig()) {
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

std::vector<AdjacencyRecord> Reader::adjacencies(bool deleted) {
  auto const mounted = files_.adjacencyConfig();
  if (!mounted) {
    throw ReadError(ReadError::noUnit, fmt::format("no adjacency table in {}", files_.directory()));
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
