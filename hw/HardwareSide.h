// ZaduHw::HardwareSide: the forwarding chip's driver, played against the
// agent's shared memory.
//
// It mounts read-only (through ZaduRead::StoreFiles, as every reader of the
// agent's memory does) the change log and the units' configuration tables of
// the agent's central store, the adjacency table's change log and
// configuration when the agent has them, and the needed-entry logs of both
// tables; it mounts as their one writer the group's table versions, in which
// it publishes the versions it has taken. It follows both change logs from
// those versions, applies each TCAM record to the unit's SimulatedTcam and
// each adjacency record to the SimulatedAdjacencies, and publishes after
// every batch and whenever it has drained the logs, so that the agent
// completes handlers and cleans the logs.
//
// Order across the two tables: a record is applied only once every version
// of the other table that its needed entries name is taken (a route after
// the next hop it points at; a next hop's delete after the route change that
// let it go). The agent commits in one order that respects those needs, so
// one of the two logs can always go on. Once the agent has an adjacency
// table, a forward TCAM entry whose adjacency the chip does not hold, and a
// delete of an adjacency that TCAM lines still point at, are faults
// (HardwareFault): the chip would hold a route to nowhere.
//
// Start and restart: the TCAMs start empty, as a reset chip does. start()
// rebuilds every unit from its configuration table, then follows the change
// log from the version last published. Every version above it is still in the
// change log (the agent cleans only up to the published version), and
// replaying them in order over the rebuilt state gives the state the log
// describes whatever the agent changed during the rebuild: a record already
// in the rebuilt state is written again to the same value, a delete of an
// absent key does nothing, and a table delete clears what later records then
// write again. The published version never goes backwards.
//
// Verification (verify()): once the log is drained and the agent's table
// version has stood still across a walk of the configuration, every unit's
// TCAM must hold exactly the live records of its configuration table, and
// lookups of random addresses must give the answer of an independent
// longest-prefix-match reference built from that configuration (one hash map
// per prefix length, probed from /32 down). A difference that persists over
// three such checks is reported. With an adjacency table, the chip's
// adjacencies must equal the live records of its configuration, and every
// TCAM entry's adjacency must resolve to the next hop the agent configured
// under that index.
//
// Thread safety: one thread.
#pragma once

#include <absl/container/flat_hash_map.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>

#include "Centrum/EntityManager.h"
#include "ZaduLpmLib/AdjacencyDataModel.h"
#include "ZaduLpmLib/TcamDataModelPantry.h"
#include "ZaduRead/StoreFiles.h"
#include "Zido/GroupInterface.h"
#include "Zido/NeededEntryLog.h"
#include "hw/SimulatedAdjacencies.h"
#include "hw/SimulatedTcam.h"

namespace ZaduHw {

// A problem an operator must see: one line, and the process exits non-zero.
class HardwareError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The chip would be left inconsistent: a route to an adjacency it does not
// hold, or an adjacency removed under routes that use it.
class HardwareFault : public HardwareError {
 public:
  using HardwareError::HardwareError;
};

struct HardwareOptions {
  std::string store = "ZaduRoute";  // the agent's central store
  std::uint32_t batch = 1024;       // versions between publications
  double rate = 0;                  // changes per second; 0: no limit
  bool verify = false;
  bool acknowledgeOnly = false;  // take versions without applying them
  std::uint32_t verifyLookups = 256;
};

struct HardwareCounters {
  std::uint64_t versionsTaken = 0;
  std::uint64_t writes = 0;
  std::uint64_t entryDeletes = 0;
  std::uint64_t tableDeletes = 0;
  std::uint64_t rebuilt = 0;  // records loaded from configuration tables
  std::uint64_t verifications = 0;
  std::uint64_t gaps = 0;       // missing versions bridged by a rebuild
  std::uint64_t malformed = 0;  // records naming no valid key, skipped
  std::uint64_t adjacencyVersionsTaken = 0;
  std::uint64_t adjacencyWrites = 0;   // from the adjacency log
  std::uint64_t adjacencyDeletes = 0;  // from the adjacency log
  std::uint64_t deferred = 0;  // rebuilt entries left to the log: their adjacency came later
};

class HardwareSide {
 public:
  explicit HardwareSide(HardwareOptions options);

  // Takes the table versions as their writer (HardwareError naming the pid
  // of the live writer when another hardware side holds them), waits up to
  // `wait` for the agent's change log, rebuilds the units and publishes.
  // Calls `waiting` once when it has to wait.
  void start(std::chrono::duration<double> wait, std::function<void()> const& waiting);
  // Applies the records after the version taken, at most one batch (and no
  // faster than the rate); publishes. Returns the records applied.
  std::size_t step();
  // Whether the version taken is the agent's table version.
  bool drained() const;
  // The check described above; returns the problem found, if any. Call when
  // drained.
  std::optional<std::string> verify();

  Zido::LogVersion taken() const noexcept { return taken_; }
  Zido::LogVersion adjacencyTaken() const noexcept { return adjacencyTaken_; }
  // Whether the agent has an adjacency table (its change log is mounted).
  bool followsAdjacencies() const noexcept { return adjacencyLog_ != nullptr; }
  SimulatedAdjacencies const& adjacencies() const noexcept { return adjacencies_; }
  // Whether a difference was found that has not yet been seen three times.
  bool verifyPending() const noexcept { return verifyFailures_ != 0; }
  HardwareCounters const& counters() const noexcept { return counters_; }
  std::map<Zido::UnitId, SimulatedTcam> const& units() const noexcept { return units_; }

 private:
  using Config = ZaduLpmLib::TcamDataModelConfigMap;

  using AdjacencyConfig = ZaduLpmLib::AdjacencyConfigMap;

  Zido::LogVersion agentVersion() const;
  Zido::LogVersion agentAdjacencyVersion() const;
  // Mounts what the agent may make after start: the adjacency table and the
  // needed-entry logs (at most every 100 ms while they are missing); true
  // when the adjacency table has just been mounted.
  bool mountLater();
  // The TCAM change log's record after the version taken, when there is one;
  // bridges a gap in the versions with a rebuild.
  std::optional<ZaduLpmLib::TcamDataModelLogPantryEntry> nextTcamRecord();
  // Whether the record may be applied now: its needs are final and taken.
  bool tcamReady(Zido::LogVersion version);
  bool adjacencyReady(Zido::LogVersion version);
  // Whether the adjacency log's next record is there and may be applied.
  bool nextAdjacencyReady();
  void applyAdjacency(ZaduLpmLib::AdjacencyLogRecord const& record);
  // A TCAM line now holds `entry`'s result, or no more.
  void holdAdjacency(ZaduLpmLib::TcamDataModelEntryData const& entry);
  void releaseAdjacency(std::optional<std::uint32_t> index);
  std::optional<std::string> compareAdjacencies();
  // The configuration table of `unit`, mounted read-only; null when it has
  // none (yet) or its segment is not valid.
  Config* config(Zido::UnitId unit);
  void mountConfigs();
  void rebuild();
  void apply(ZaduLpmLib::TcamDataModelLogPantryEntry const& record);
  SimulatedTcam& unit(Zido::UnitId unitId);
  void publish();
  std::optional<std::string> compare(Zido::UnitId unitId, Config& config);

  HardwareOptions options_;
  Vesk::Ptr<Centrum::EntityManager> central_;
  ZaduRead::StoreFiles files_;
  std::unique_ptr<Zido::TableVersionPublisher> publisher_;
  Vesk::Ptr<ZaduLpmLib::TcamDataModelLogRing> changeLog_;
  Vesk::Ptr<ZaduLpmLib::AdjacencyLogRing> adjacencyLog_;
  Vesk::Ptr<AdjacencyConfig> adjacencyConfig_;
  std::optional<Zido::NeededEntryFollower> tcamNeeds_;
  std::optional<Zido::NeededEntryFollower> adjacencyNeeds_;
  std::chrono::steady_clock::time_point lastMountTry_;
  SimulatedAdjacencies adjacencies_;
  Zido::LogVersion adjacencyTaken_ = 0;
  Zido::LogVersion adjacencyPublished_ = 0;
  // The TCAM log's high key, read once per run of versions it vouches for.
  bool tcamHeld_ = false;
  // Versions up to which the last rebuild may have seen the configuration.
  Zido::LogVersion tcamHorizon_ = 0;
  Zido::LogVersion adjacencyHorizon_ = 0;
  // The live next hops of the adjacency configuration by index, as the last
  // verification read them.
  absl::flat_hash_map<std::uint32_t, ZaduLpmLib::AdjacencyKey> configuredNextHops_;
  Zido::LogVersion tcamHigh_ = 0;
  std::map<Zido::UnitId, Vesk::Ptr<Config>> configs_;
  std::map<Zido::UnitId, SimulatedTcam> units_;
  Zido::LogVersion taken_ = 0;
  Zido::LogVersion published_ = 0;
  HardwareCounters counters_;
  std::chrono::steady_clock::time_point rateStart_;
  std::uint64_t rateApplied_ = 0;
  int verifyFailures_ = 0;
  std::mt19937 random_{7};
};

}  // namespace ZaduHw
