#include "hw/HardwareSide.h"

#include <absl/container/flat_hash_map.h>
#include <fmt/format.h>

#include <array>
#include <filesystem>
#include <thread>
#include <vector>

#include "Pantry/Segment.h"
#include "QuorSharedMem/ShmemEntities.h"
#include "Vesk/Exception.h"
#include "ZaduLpmLib/Ipv4Text.h"
#include "ZaduLpmLib/TcamConstants.h"
#include "Zido/Constants.h"

namespace ZaduHw {

namespace {

Zido::SwTableId const tableId{ZaduLpmLib::TcamConstants::tableIdValue};

std::string groupName() {
  return Zido::Constants::canonicalizeGroupName(ZaduLpmLib::TcamConstants::agentName,
                                                ZaduLpmLib::TcamConstants::groupName);
}

// The longest-prefix-match reference: one map per prefix length.
class ReferenceLpm {
 public:
  void add(std::uint32_t prefix, std::uint8_t length, std::uint32_t result) {
    byLength_[length][prefix] = result;
  }
  std::optional<std::uint32_t> lookup(std::uint32_t address) const {
    for (int length = 32; length >= 0; --length) {
      auto const& held = byLength_[length];
      auto const found =
          held.find(address & ZaduLpmLib::prefixMaskOf(static_cast<std::uint8_t>(length)));
      if (found != held.end()) {
        return found->second;
      }
    }
    return std::nullopt;
  }

 private:
  std::array<absl::flat_hash_map<std::uint32_t, std::uint32_t>, 33> byLength_;
};

// A key the TCAM can hold: a length up to 32 and no host bits.
bool validKey(ZaduLpmLib::TcamDataModelEntryKey const& key) {
  return key.length <= 32 && (key.prefix & ~ZaduLpmLib::prefixMaskOf(key.length)) == 0;
}

// Shared memory is another process's: a record that names no key the TCAM
// can hold is counted and skipped, never applied.
bool valid(ZaduLpmLib::TcamDataModelLogPantryEntry const& record) {
  return record.tableDeleted() || validKey(record.entry.key);
}

std::string describe(std::optional<std::uint32_t> result) {
  return result ? fmt::format("adjacency {}", *result) : std::string("no match");
}

}  // namespace

HardwareSide::HardwareSide(HardwareOptions options)
    : options_(std::move(options)),
      central_(new Centrum::EntityManager(options_.store, true)),
      sharedMemory_(QuorSharedMem::EntityManager::getEntityManager(options_.store, true)) {}

void HardwareSide::start(std::chrono::duration<double> wait, std::function<void()> const& waiting) {
  try {
    publisher_ = std::make_unique<Zido::TableVersionPublisher>(*central_, groupName());
  } catch (Pantry::WriterConflictError const& error) {
    throw HardwareError(fmt::format("another hardware side is running: {}", error.what()));
  } catch (std::exception const& error) {
    throw HardwareError(error.what());
  }
  auto const held = publisher_->pantry()->collection().lookup(tableId.value());
  published_ = held.found ? held.record.version : 0;
  taken_ = published_;

  std::string const logFile =
      sharedMemory_->filePathOf(ZaduLpmLib::TcamConstants::tableEntryLogPantryPath());
  auto const deadline = std::chrono::steady_clock::now() + wait;
  bool told = false;
  while (!changeLog_) {
    try {
      changeLog_ = ZaduLpmLib::TcamDataModelLogRing::mountReader(
          logFile, ZaduLpmLib::TcamConstants::entryLogCapacity,
          ZaduLpmLib::TcamDataModelEntryLogPantry::typeName,
          ZaduLpmLib::TcamDataModelEntryLogPantry::collectionName);
    } catch (std::exception const& error) {
      if (std::filesystem::exists(logFile) && !std::filesystem::is_regular_file(logFile)) {
        throw HardwareError(error.what());
      }
      if (std::chrono::steady_clock::now() >= deadline) {
        throw HardwareError(fmt::format("no change log at {}: is the agent running?", logFile));
      }
      if (!told) {
        waiting();
        told = true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  rebuild();
  rateStart_ = std::chrono::steady_clock::now();
}

void HardwareSide::mountConfigs() {
  auto const found = sharedMemory_->findEntities(ZaduLpmLib::TcamConstants::configPantryPathBase(),
                                                 QuorSharedMem::pantryType);
  for (auto const& [path, typeName] : found->members()) {
    if (typeName != ZaduLpmLib::TcamDataModelConfigPantry::typeName) {
      continue;
    }
    try {
      config(Zido::Constants::getUnitIdFromConfigPath(path));
    } catch (Vesk::Exception const&) {
      // Not a unit's configuration path: nothing of this table.
    }
  }
}

HardwareSide::Config* HardwareSide::config(Zido::UnitId unit) {
  if (auto const held = configs_.find(unit); held != configs_.end()) {
    return held->second.get();
  }
  std::string const file =
      sharedMemory_->filePathOf(ZaduLpmLib::TcamConstants::configPantryPath(unit));
  try {
    auto mounted = Config::mountReader(file, ZaduLpmLib::TcamConstants::configCapacity,
                                       ZaduLpmLib::TcamDataModelConfigPantry::typeName,
                                       ZaduLpmLib::TcamDataModelConfigPantry::collectionName);
    return configs_.emplace(unit, std::move(mounted)).first->second.get();
  } catch (std::exception const&) {
    return nullptr;  // not there yet, or still being made
  }
}

void HardwareSide::rebuild() {
  for (auto& [unitId, tcam] : units_) {
    tcam.clear();
  }
  mountConfigs();
  for (auto const& [unitId, mounted] : configs_) {
    SimulatedTcam& tcam = unit(unitId);
    for (auto record = mounted->first(); record; record = mounted->nextAfter(record->key())) {
      if (!record->inDeletion && validKey(record->key())) {
        tcam.write(record->key().prefix, record->key().length,
                   record->logEntry.entry.adjacencyIndex);
        ++counters_.rebuilt;
      }
    }
  }
}

SimulatedTcam& HardwareSide::unit(Zido::UnitId unitId) {
  return units_.try_emplace(unitId).first->second;
}

void HardwareSide::apply(ZaduLpmLib::TcamDataModelLogPantryEntry const& record) {
  if (options_.acknowledgeOnly) {
    return;
  }
  SimulatedTcam& tcam = unit(record.unitId);
  ZaduLpmLib::TcamDataModelEntryKey const& key = record.entry.key;
  if (record.tableDeleted()) {
    tcam.clear();
    ++counters_.tableDeletes;
  } else if (record.entryDeleted()) {
    tcam.remove(key.prefix, key.length);
    ++counters_.entryDeletes;
  } else {
    tcam.write(key.prefix, key.length, record.entry.adjacencyIndex);
    ++counters_.writes;
  }
}

std::size_t HardwareSide::step() {
  std::uint64_t budget = options_.batch;
  if (options_.rate > 0) {
    std::chrono::duration<double> const elapsed = std::chrono::steady_clock::now() - rateStart_;
    auto const allowed = static_cast<std::uint64_t>(elapsed.count() * options_.rate);
    budget = std::min<std::uint64_t>(budget, allowed > rateApplied_ ? allowed - rateApplied_ : 0);
  }
  std::size_t applied = 0;
  // The agent stores a record before it raises the high key: a high key
  // read first vouches for every version up to it, so it is read again only
  // once the versions it vouches for are taken. Reading the log's header
  // for every record would pull the line the agent writes on every commit
  // back and forth between the two processes.
  bool held = false;
  Zido::LogVersion high = 0;
  while (applied < budget) {
    if (taken_ >= high) {
      held = changeLog_->count() != 0;
      high = changeLog_->highKey();
    }
    auto const found = changeLog_->lookup(taken_ + 1);
    if (!found.found) {
      if (!held || high <= taken_) {
        break;  // drained
      }
      // A version after ours is missing (the agent remade its log): the
      // configuration holds what the missing records did, and replaying
      // every record after the gap over it gives the state the log ends in.
      auto const next = changeLog_->nextAfter(taken_);
      if (!next) {
        break;
      }
      rebuild();
      ++counters_.gaps;
      taken_ = next->version - 1;
      continue;
    }
    if (!valid(found.record)) {
      ++counters_.malformed;
      taken_ = found.record.version;
      continue;
    }
    apply(found.record);
    taken_ = found.record.version;
    ++applied;
  }
  counters_.versionsTaken += applied;
  rateApplied_ += applied;
  publish();
  return applied;
}

void HardwareSide::publish() {
  if (taken_ > published_) {
    publisher_->publish(tableId, taken_);
    published_ = taken_;
  }
}

Zido::LogVersion HardwareSide::agentVersion() const {
  Zido::LogVersion version = changeLog_->scratchpad();
  if (changeLog_->count() != 0) {
    version = std::max(version, changeLog_->highKey());
  }
  return version;
}

bool HardwareSide::drained() const {
  return taken_ >= agentVersion();
}

std::optional<std::string> HardwareSide::verify() {
  Zido::LogVersion const before = agentVersion();
  if (taken_ != before) {
    return std::nullopt;
  }
  mountConfigs();
  std::optional<std::string> problem;
  for (auto const& [unitId, tcam] : units_) {
    Config* const mounted = config(unitId);
    if (mounted == nullptr && tcam.size() != 0) {
      problem = fmt::format("unit {}: the TCAM holds {} entries but the unit has no configuration",
                            unitId, tcam.size());
    }
  }
  for (auto const& [unitId, mounted] : configs_) {
    if (!problem) {
      problem = compare(unitId, *mounted);
    }
  }
  if (agentVersion() != before) {
    return std::nullopt;  // the agent wrote meanwhile: look again later
  }
  ++counters_.verifications;
  if (!problem) {
    verifyFailures_ = 0;
    return std::nullopt;
  }
  return ++verifyFailures_ >= 3 ? problem : std::nullopt;
}

std::optional<std::string> HardwareSide::compare(Zido::UnitId unitId, Config& mounted) {
  SimulatedTcam& tcam = unit(unitId);
  if (auto const broken = tcam.checkLayout()) {
    return fmt::format("unit {}: TCAM layout: {}", unitId, *broken);
  }
  ReferenceLpm reference;
  std::vector<std::uint32_t> prefixes;
  std::uint32_t live = 0;
  for (auto record = mounted.first(); record; record = mounted.nextAfter(record->key())) {
    if (record->inDeletion) {
      continue;
    }
    ++live;
    ZaduLpmLib::TcamDataModelEntryKey const& key = record->key();
    std::uint32_t const result = record->logEntry.entry.adjacencyIndex;
    reference.add(key.prefix, key.length, result);
    prefixes.push_back(key.prefix);
    if (auto const held = tcam.find(key.prefix, key.length); held != result) {
      return fmt::format("unit {}: {}/{} is configured with adjacency {}; the TCAM has {}", unitId,
                         ZaduLpmLib::formatIpv4(key.prefix), key.length, result, describe(held));
    }
  }
  if (tcam.size() != live) {
    return fmt::format("unit {}: the TCAM holds {} entries, the configuration {}", unitId,
                       tcam.size(), live);
  }
  for (std::uint32_t n = 0; n < options_.verifyLookups; ++n) {
    std::uint32_t probe = random_();
    if (n % 2 == 0 && !prefixes.empty()) {
      // An address inside a configured prefix, so that lookups hit.
      probe = prefixes[random_() % prefixes.size()] | (random_() & 0xFF);
    }
    auto const fromTcam = tcam.lookup(probe);
    auto const fromReference = reference.lookup(probe);
    if (fromTcam != fromReference) {
      return fmt::format("unit {}: address {}: the TCAM gives {}, the reference {}", unitId,
                         ZaduLpmLib::formatIpv4(probe), describe(fromTcam),
                         describe(fromReference));
    }
  }
  return std::nullopt;
}

}  // namespace ZaduHw
