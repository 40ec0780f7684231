// ZaduHw::HardwareSide: the forwarding chip's driver, played against the
// agent's shared memory.
//
// It mounts read-only the change log and the units' configuration tables of
// the agent's central store, and mounts as their one writer the group's
// table versions, in which it publishes the version it has taken. It follows
// the change log from that version, applies each record to the unit's
// SimulatedTcam and publishes after every batch and whenever it has drained
// the log, so that the agent completes handlers and cleans the log.
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
// three such checks is reported.
//
// Thread safety: one thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>

#include "Centrum/EntityManager.h"
#include "QuorSharedMem/EntityManager.h"
#include "ZaduLpmLib/TcamDataModelPantry.h"
#include "Zido/GroupInterface.h"
#include "hw/SimulatedTcam.h"

namespace ZaduHw {

// A problem an operator must see: one line, and the process exits non-zero.
class HardwareError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
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
  // Whether a difference was found that has not yet been seen three times.
  bool verifyPending() const noexcept { return verifyFailures_ != 0; }
  HardwareCounters const& counters() const noexcept { return counters_; }
  std::map<Zido::UnitId, SimulatedTcam> const& units() const noexcept { return units_; }

 private:
  using Config = ZaduLpmLib::TcamDataModelConfigMap;

  Zido::LogVersion agentVersion() const;
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
  Vesk::Ptr<QuorSharedMem::EntityManager> sharedMemory_;
  std::unique_ptr<Zido::TableVersionPublisher> publisher_;
  Vesk::Ptr<ZaduLpmLib::TcamDataModelLogRing> changeLog_;
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
