#include "hw/HardwareSide.h"

#include <absl/container/flat_hash_map.h>
#include <fmt/format.h>

#include <array>
#include <filesystem>
#include <thread>
#include <vector>

#include "Pantry/Segment.h"
#include "QuorSharedMem/RootPaths.h"
#include "Vesk/Exception.h"
#include "ZaduLpmLib/Ipv4Text.h"
#include "ZaduLpmLib/TcamConstants.h"
#include "Zido/Constants.h"

namespace ZaduHw {

namespace {

Zido::SwTableId const tableId{ZaduLpmLib::TcamConstants::tableIdValue};
Zido::SwTableId const adjacencyTableId{ZaduLpmLib::AdjacencyConstants::tableIdValue};

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

std::string describe(ZaduLpmLib::AdjacencyKey const* key) {
  return key != nullptr ? fmt::format("{}", *key) : std::string("nothing");
}

bool forwards(ZaduLpmLib::TcamDataModelEntryData const& entry) {
  return entry.action == ZaduLpmLib::TcamAction::forward;
}

// A collection mounted read-only, or null when it is not there or not usable
// yet (the agent makes it, or remakes it, under the hardware side's feet).
template <class Mount>
auto mountIfThere(Mount&& mount) -> decltype(mount()) {
  try {
    return mount();
  } catch (ZaduRead::ReadError const&) {
    return nullptr;
  }
}

}  // namespace

HardwareSide::HardwareSide(HardwareOptions options)
    : options_(std::move(options)),
      central_(new Centrum::EntityManager(options_.store, true)),
      files_(QuorSharedMem::sharedMemoryRoot(), options_.store) {}

void HardwareSide::start(std::chrono::duration<double> wait, std::function<void()> const& waiting) {
  try {
    publisher_ = std::make_unique<Zido::TableVersionPublisher>(
        *central_, ZaduLpmLib::TcamConstants::canonicalGroupName());
  } catch (Pantry::WriterConflictError const& error) {
    throw HardwareError(fmt::format("another hardware side is running: {}", error.what()));
  } catch (std::exception const& error) {
    throw HardwareError(error.what());
  }
  auto& versions = publisher_->pantry()->collection();
  auto const held = versions.lookup(tableId.value());
  published_ = held.found ? held.record.version : 0;
  taken_ = published_;
  auto const heldAdjacency = versions.lookup(adjacencyTableId.value());
  adjacencyPublished_ = heldAdjacency.found ? heldAdjacency.record.version : 0;
  adjacencyTaken_ = adjacencyPublished_;

  std::string const logFile = files_.filePath(ZaduLpmLib::TcamConstants::tableEntryLogPantryPath());
  auto const deadline = std::chrono::steady_clock::now() + wait;
  bool told = false;
  while (!changeLog_) {
    try {
      changeLog_ = files_.changeLog();
    } catch (ZaduRead::ReadError const& error) {
      if (error.code() == ZaduRead::ReadError::permission ||
          (std::filesystem::exists(logFile) && !std::filesystem::is_regular_file(logFile))) {
        throw HardwareError(error.what());
      }
    }
    if (changeLog_) {
      break;
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
  mountLater();
  rebuild();
  rateStart_ = std::chrono::steady_clock::now();
}

bool HardwareSide::mountLater() {
  if (adjacencyLog_ && tcamNeeds_ && adjacencyNeeds_) {
    return false;
  }
  auto const now = std::chrono::steady_clock::now();
  if (now - lastMountTry_ < std::chrono::milliseconds(100)) {
    return false;
  }
  bool const hadAdjacencies = followsAdjacencies();
  lastMountTry_ = now;
  if (!adjacencyLog_) {
    // The configuration first: once the log is there, the agent has made both.
    adjacencyConfig_ = mountIfThere([&] { return files_.adjacencyConfig(); });
    if (adjacencyConfig_) {
      adjacencyLog_ = mountIfThere([&] { return files_.adjacencyLog(); });
    }
  }
  auto const needs = [&](Zido::SwTableId id, std::optional<Zido::NeededEntryFollower>& follower) {
    if (follower) {
      return;
    }
    if (auto ring = mountIfThere([&] { return files_.neededEntries(id); })) {
      follower.emplace(std::move(ring));
    }
  };
  needs(tableId, tcamNeeds_);
  needs(adjacencyTableId, adjacencyNeeds_);
  return !hadAdjacencies && followsAdjacencies();
}

void HardwareSide::mountConfigs() {
  for (Zido::UnitId unit : files_.units()) {
    config(unit);
  }
}

HardwareSide::Config* HardwareSide::config(Zido::UnitId unit) {
  if (auto const held = configs_.find(unit); held != configs_.end()) {
    return held->second.get();
  }
  auto mounted = mountIfThere([&] { return files_.config(unit); });
  if (!mounted) {
    return nullptr;  // not there yet, or still being made
  }
  return configs_.emplace(unit, std::move(mounted)).first->second.get();
}

void HardwareSide::rebuild() {
  for (auto& [unitId, tcam] : units_) {
    tcam.clear();
  }
  adjacencies_.clear();
  adjacencies_.clearUsers();
  // Adjacencies first, as the agent commits them: a route whose adjacency
  // is not found was written after this walk, above the version last
  // published, and the log brings it in order.
  if (adjacencyConfig_ && !options_.acknowledgeOnly) {
    for (auto record = adjacencyConfig_->first(); record;
         record = adjacencyConfig_->nextAfter(record->key)) {
      // A next hop whose delete is not taken yet stays until the log
      // deletes it, after the routes that used it.
      bool const present = record->inDeletion == 0 || record->logVersion > adjacencyTaken_;
      if (present && record->key.valid() && record->index != 0) {
        adjacencies_.write(record->index, record->key);
        ++counters_.rebuilt;
      }
    }
  }
  mountConfigs();
  for (auto const& [unitId, mounted] : configs_) {
    SimulatedTcam& tcam = unit(unitId);
    for (auto record = mounted->first(); record; record = mounted->nextAfter(record->key())) {
      ZaduLpmLib::TcamDataModelEntryData const& entry = record->logEntry.entry;
      if (record->inDeletion || !validKey(record->key())) {
        continue;
      }
      if (followsAdjacencies() && forwards(entry) &&
          adjacencies_.find(entry.adjacencyIndex) == nullptr) {
        ++counters_.deferred;
        continue;
      }
      if (tcam.write(record->key().prefix, record->key().length, entry.adjacencyIndex)) {
        holdAdjacency(entry);
      }
      ++counters_.rebuilt;
    }
  }
  // The walks saw the configuration at some moment up to these versions;
  // replaying records up to them may pass through states that never were
  // (a route over an adjacency deleted later), so the adjacency checks
  // start after them.
  tcamHorizon_ = agentVersion();
  adjacencyHorizon_ = agentAdjacencyVersion();
}

void HardwareSide::holdAdjacency(ZaduLpmLib::TcamDataModelEntryData const& entry) {
  // Every line counts against its result, whatever its action: a line that
  // is removed releases its result without knowing the action it had.
  if (followsAdjacencies()) {
    adjacencies_.hold(entry.adjacencyIndex);
  }
}

void HardwareSide::releaseAdjacency(std::optional<std::uint32_t> index) {
  if (index) {
    adjacencies_.release(*index);
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
    tcam.forEach(
        [&](std::uint32_t, std::uint8_t, std::uint32_t result) { adjacencies_.release(result); });
    tcam.clear();
    ++counters_.tableDeletes;
  } else if (record.entryDeleted()) {
    std::optional<std::uint32_t> const held = tcam.find(key.prefix, key.length);
    if (tcam.remove(key.prefix, key.length)) {
      releaseAdjacency(held);
    }
    ++counters_.entryDeletes;
  } else {
    if (followsAdjacencies() && forwards(record.entry) && record.version > tcamHorizon_ &&
        adjacencies_.find(record.entry.adjacencyIndex) == nullptr) {
      throw HardwareFault(fmt::format(
          "unit {}: version {} writes {}/{} with adjacency {}, which the chip does not hold",
          record.unitId, record.version, ZaduLpmLib::formatIpv4(key.prefix), key.length,
          record.entry.adjacencyIndex));
    }
    std::optional<std::uint32_t> const held = tcam.find(key.prefix, key.length);
    if (tcam.write(key.prefix, key.length, record.entry.adjacencyIndex)) {
      releaseAdjacency(held);
      holdAdjacency(record.entry);
    }
    ++counters_.writes;
  }
}

void HardwareSide::applyAdjacency(ZaduLpmLib::AdjacencyLogRecord const& record) {
  ++counters_.adjacencyVersionsTaken;
  if (options_.acknowledgeOnly) {
    return;
  }
  if (!record.key.valid() || record.index == 0 ||
      record.index > ZaduLpmLib::AdjacencyConstants::capacity) {
    ++counters_.malformed;
    return;
  }
  if (record.deleted()) {
    if (std::uint32_t const users = adjacencies_.users(record.index);
        users != 0 && record.version > adjacencyHorizon_) {
      throw HardwareFault(fmt::format(
          "version {} of the adjacency table removes adjacency {} ({}), which {} TCAM entries "
          "still use",
          record.version, record.index, record.key, users));
    }
    adjacencies_.remove(record.index);
    ++counters_.adjacencyDeletes;
    return;
  }
  if (SimulatedAdjacencies::Key const* held = adjacencies_.find(record.index);
      held != nullptr && *held != record.key && adjacencies_.users(record.index) != 0 &&
      record.version > adjacencyHorizon_) {
    throw HardwareFault(fmt::format(
        "version {} of the adjacency table gives adjacency {} to {} while {} TCAM entries use "
        "it for {}",
        record.version, record.index, record.key, adjacencies_.users(record.index), *held));
  }
  adjacencies_.write(record.index, record.key);
  ++counters_.adjacencyWrites;
}

std::optional<ZaduLpmLib::TcamDataModelLogPantryEntry> HardwareSide::nextTcamRecord() {
  // The agent stores a record before it raises the high key: a high key
  // read first vouches for every version up to it, so it is read again only
  // once the versions it vouches for are taken. Reading the log's header
  // for every record would pull the line the agent writes on every commit
  // back and forth between the two processes.
  while (true) {
    if (taken_ >= tcamHigh_) {
      tcamHeld_ = changeLog_->count() != 0;
      tcamHigh_ = changeLog_->highKey();
    }
    auto const found = changeLog_->lookup(taken_ + 1);
    if (found.found) {
      return found.record;
    }
    if (!tcamHeld_ || tcamHigh_ <= taken_) {
      return std::nullopt;  // drained
    }
    // A version after ours is missing (the agent remade its log): the
    // configuration holds what the missing records did, and replaying
    // every record after the gap over it gives the state the log ends in.
    auto const next = changeLog_->nextAfter(taken_);
    if (!next) {
      return std::nullopt;
    }
    rebuild();
    ++counters_.gaps;
    taken_ = next->version - 1;
  }
}

bool HardwareSide::tcamReady(Zido::LogVersion version) {
  if (options_.acknowledgeOnly || !tcamNeeds_) {
    return true;
  }
  return tcamNeeds_->final(version) &&
         tcamNeeds_->neededOf(version, adjacencyTableId) <= adjacencyTaken_;
}

bool HardwareSide::adjacencyReady(Zido::LogVersion version) {
  if (options_.acknowledgeOnly || !adjacencyNeeds_) {
    return true;
  }
  return adjacencyNeeds_->final(version) && adjacencyNeeds_->neededOf(version, tableId) <= taken_;
}

bool HardwareSide::nextAdjacencyReady() {
  auto const next = adjacencyLog_->lookup(adjacencyTaken_ + 1);
  return next.found && adjacencyReady(next.record.version);
}

std::size_t HardwareSide::step() {
  if (mountLater()) {
    rebuild();  // the agent has made its adjacency table: program it first
  }
  std::uint64_t budget = options_.batch;
  if (options_.rate > 0) {
    std::chrono::duration<double> const elapsed = std::chrono::steady_clock::now() - rateStart_;
    auto const allowed = static_cast<std::uint64_t>(elapsed.count() * options_.rate);
    budget = std::min<std::uint64_t>(budget, allowed > rateApplied_ ? allowed - rateApplied_ : 0);
  }
  std::size_t applied = 0;
  std::size_t tcamApplied = 0;
  while (applied < budget) {
    // The TCAM log while it can go on, then the adjacency log for a record.
    std::optional<ZaduLpmLib::TcamDataModelLogPantryEntry> const record = nextTcamRecord();
    // A route whose adjacency is absent while the adjacency log can go on
    // takes the adjacency log first (its needed entry was lost with a killed
    // agent); when it cannot, applying the route is the fault it is.
    bool const adjacencyFirst =
        record && followsAdjacencies() && !options_.acknowledgeOnly && valid(*record) &&
        !record->tableDeleted() && !record->entryDeleted() && forwards(record->entry) &&
        adjacencies_.find(record->entry.adjacencyIndex) == nullptr && nextAdjacencyReady();
    if (record && !adjacencyFirst && tcamReady(record->version)) {
      if (!valid(*record)) {
        ++counters_.malformed;
        if (counters_.malformed <= 10) {
          std::fprintf(stderr,
                       "zadulpm-hw: version %llu of unit %u names no key a TCAM can hold "
                       "(%s/%u): skipped\n",
                       static_cast<unsigned long long>(record->version), record->unitId,
                       ZaduLpmLib::formatIpv4(record->entry.key.prefix).c_str(),
                       record->entry.key.length);
        }
      } else {
        apply(*record);
        ++tcamApplied;
      }
      taken_ = record->version;
      ++applied;
      continue;
    }
    if (!adjacencyLog_) {
      break;
    }
    auto const next = adjacencyLog_->lookup(adjacencyTaken_ + 1);
    if (!next.found || !adjacencyReady(next.record.version)) {
      if (!next.found && adjacencyLog_->count() != 0 &&
          adjacencyLog_->highKey() > adjacencyTaken_) {
        // The agent remade its adjacency log: follow it from its first
        // record after ours.
        if (auto const after = adjacencyLog_->nextAfter(adjacencyTaken_)) {
          rebuild();
          ++counters_.gaps;
          adjacencyTaken_ = after->version - 1;
          continue;
        }
      }
      break;
    }
    applyAdjacency(next.record);
    adjacencyTaken_ = next.record.version;
    ++applied;
  }
  counters_.versionsTaken += tcamApplied;
  rateApplied_ += applied;
  publish();
  return applied;
}

void HardwareSide::publish() {
  // The TCAM's version first: the agent frees an adjacency's index once the
  // delete is published, and the route changes that let the adjacency go
  // (taken before it) must be published by then, or a hardware side
  // restarted between the two would replay old routes onto the index's new
  // next hop.
  if (taken_ > published_) {
    publisher_->publish(tableId, taken_);
    published_ = taken_;
  }
  if (adjacencyTaken_ > adjacencyPublished_) {
    publisher_->publish(adjacencyTableId, adjacencyTaken_);
    adjacencyPublished_ = adjacencyTaken_;
  }
}

Zido::LogVersion HardwareSide::agentAdjacencyVersion() const {
  if (!adjacencyLog_) {
    return 0;
  }
  Zido::LogVersion version = adjacencyLog_->scratchpad();
  if (adjacencyLog_->count() != 0) {
    version = std::max(version, adjacencyLog_->highKey());
  }
  return version;
}

Zido::LogVersion HardwareSide::agentVersion() const {
  Zido::LogVersion version = changeLog_->scratchpad();
  if (changeLog_->count() != 0) {
    version = std::max(version, changeLog_->highKey());
  }
  return version;
}

bool HardwareSide::drained() const {
  return taken_ >= agentVersion() && adjacencyTaken_ >= agentAdjacencyVersion();
}

std::optional<std::string> HardwareSide::verify() {
  Zido::LogVersion const before = agentVersion();
  Zido::LogVersion const adjacencyBefore = agentAdjacencyVersion();
  if (taken_ != before || adjacencyTaken_ != adjacencyBefore) {
    return std::nullopt;
  }
  mountConfigs();
  std::optional<std::string> problem = compareAdjacencies();
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
  if (agentVersion() != before || agentAdjacencyVersion() != adjacencyBefore) {
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
    if (followsAdjacencies() && forwards(record->logEntry.entry)) {
      // The chip's adjacency must be the next hop the agent configured
      // under that index.
      auto const meant = configuredNextHops_.find(result);
      SimulatedAdjacencies::Key const* const chip = adjacencies_.find(result);
      if (meant == configuredNextHops_.end() || chip == nullptr || *chip != meant->second) {
        return fmt::format(
            "unit {}: {}/{} points at adjacency {}: the agent configured {}, the chip holds {}",
            unitId, ZaduLpmLib::formatIpv4(key.prefix), key.length, result,
            meant == configuredNextHops_.end() ? std::string("nothing")
                                               : fmt::format("{}", meant->second),
            describe(chip));
      }
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

std::optional<std::string> HardwareSide::compareAdjacencies() {
  configuredNextHops_.clear();
  if (!followsAdjacencies()) {
    return std::nullopt;
  }
  for (auto record = adjacencyConfig_->first(); record;
       record = adjacencyConfig_->nextAfter(record->key)) {
    if (record->inDeletion == 0) {
      configuredNextHops_.emplace(record->index, record->key);
    }
  }
  if (adjacencies_.size() != configuredNextHops_.size()) {
    return fmt::format("the chip holds {} adjacencies, the configuration {}", adjacencies_.size(),
                       configuredNextHops_.size());
  }
  for (auto const& [index, key] : configuredNextHops_) {
    SimulatedAdjacencies::Key const* const chip = adjacencies_.find(index);
    if (chip == nullptr || *chip != key) {
      return fmt::format("adjacency {} is configured as {}; the chip holds {}", index, key,
                         describe(chip));
    }
  }
  return std::nullopt;
}

}  // namespace ZaduHw
