// ZaduAgent programmer: writes and removes routes through the library as a
// routing agent does, each route pointing at its next hop's adjacency and
// depending on that next hop's handle, and counts the answers.
//
// It keeps, for every next hop, the routes that use it (a route is keyed by
// unit and prefix), so that a next hop no route uses any more is removed
// from the adjacency table after the route change that let it go. Next hops
// have ids, given in the order they are first named; the id of a next hop
// removeUnusedNextHops removed goes to the next new one.
//
// Answers: every accepted operation is answered once by the library; an
// operation answered twice is counted (duplicateAnswers, a bug). Memory
// stays bounded by what is outstanding: answered operations at the front
// are dropped, latency samples stop at Settings::latencySamples until
// resetLatencies(), and refused routes are named up to Settings::refusedKept
// (all are counted).
//
// Thread safety: the agent's thread; handlers run from its event loop.
#pragma once

#include <absl/container/flat_hash_map.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ZaduLpm/AdjacencyTable.h"
#include "ZaduLpm/TcamSwTable.h"
#include "Zido/Agent.h"
#include "agent/Routes.h"

namespace ZaduAgent {

class Programmer {
 public:
  using Clock = std::chrono::steady_clock;

  struct Settings {
    // Runs what the event loop has ready after this many accepted
    // operations (0: never; the caller returns to the loop itself).
    std::uint64_t pumpEvery = 512;
    std::size_t refusedKept = std::numeric_limits<std::size_t>::max();
    std::size_t latencySamples = std::numeric_limits<std::size_t>::max();
    // Told of every route write refused (its unit full, or its next hop
    // refused by the adjacency table), from the answer's handler.
    std::function<void(Route const&)> refusedRoute;
  };

  Programmer(Zido::Agent& agent, ZaduLpm::AdjacencyTable& adjacencies,
             std::vector<ZaduLpmLib::AdjacencyKey> const& nextHops, Settings settings);

  // Counts the routes a restored table holds against their next hops.
  void learn(std::uint16_t unit, ZaduLpm::TcamSwTable const& table);
  // The id of a next hop, added when new.
  std::uint32_t idOf(ZaduLpmLib::AdjacencyKey const& nextHop);
  // The adjacency index of a next hop (0 when the table is full). Writes the
  // next hop when this life has not written it yet (no change when it is
  // committed already).
  std::uint32_t indexOf(std::uint32_t nextHop) { return handleOf(nextHop)->index(); }
  ZaduLpmLib::AdjacencyKey const& nextHop(std::uint32_t id) const { return nextHops_[id]; }
  // Whether `table` holds `route` with `nextHop`'s adjacency already, as it
  // will stand once what is pending commits: a write would change nothing.
  bool holds(ZaduLpm::TcamSwTable const& table, Route const& route, std::uint32_t nextHop);

  void write(ZaduLpm::TcamSwTable& table, Route const& route, std::uint32_t nextHop);
  void remove(ZaduLpm::TcamSwTable& table, ZaduLpmLib::TcamDataModelEntryKey const& key);
  void removeAll(ZaduLpm::TcamSwTable& table);
  // Removes every next hop that no route uses, each after the last route
  // change that let it go. Call once the routes are answered: the hardware
  // side has then taken every change, on every unit, that let them go.
  // Returns how many were removed.
  std::size_t removeUnusedNextHops();
  std::uint64_t nextHopsRemoved() const { return nextHopsRemoved_; }
  // Whether a next hop waits for removeUnusedNextHops.
  bool unusedNextHops() const;

  // Runs the loop until every operation is answered and the hardware side
  // has taken every next hop written or removed; false on timeout.
  bool settle(double seconds);
  // Whether every operation is answered and every next hop taken.
  bool settled() const { return answered_ == accepted() && !adjacencies_.hasPendingHwWrites(); }
  // Names the step that the progress line shows, with the operations it
  // will accept.
  void step(char const* name, std::uint64_t operations);
  void showProgress(bool show) { showProgress_ = show; }

  std::uint64_t accepted() const { return firstOutstanding_ + operations_.size(); }
  std::uint64_t answered() const { return answered_; }
  // When the last answer came (the clock's epoch before the first).
  Clock::time_point lastAnswer() const { return lastAnswer_; }
  // Handlers called more than once for one operation: never, or a bug.
  std::uint64_t duplicateAnswers() const { return duplicateAnswers_; }
  // Answers by state name ("completed", "failed", ...), the states met.
  std::map<std::string, std::uint64_t> states() const;
  std::uint64_t answersIn(Zido::EntryState state) const {
    return states_[static_cast<std::size_t>(state)];
  }
  // The first Settings::refusedKept refused routes, "prefix/length unit N",
  // with " (no adjacency)" when the adjacency table refused their next hop.
  // refusedCount() counts both.
  std::vector<std::string> const& refused() const { return refused_; }
  std::uint64_t refusedCount() const { return refusedCount_; }
  // Latency quantile in microseconds, over the samples kept.
  double latency(double quantile);
  void resetLatencies() { latencies_.clear(); }

 private:
  struct Operation {
    Clock::time_point accepted;
    bool answered = false;
  };
  using Dependency = Vesk::Ptr<Zido::DependencyEntryHandle const>;

  std::uint64_t accept();
  void answer(std::uint64_t number, Vesk::Ptr<Zido::OrderedEntryHandle const> const& done,
              Route const* route);
  void pump();
  // The handle of the next hop's write in this life: written once, then
  // every route that uses it depends on it.
  Vesk::Ptr<ZaduLpm::AdjacencyTable::EntryHandle> handleOf(std::uint32_t nextHop);
  // Route `route` now uses `nextHop`; `change` made it so.
  void use(std::uint64_t route, std::uint32_t nextHop, Dependency const& change);
  void letGo(std::uint64_t route, Dependency const& change);
  void release(std::uint32_t nextHop, Dependency const& change);

  Zido::Agent& agent_;
  ZaduLpm::AdjacencyTable& adjacencies_;
  Settings const settings_;
  std::vector<ZaduLpmLib::AdjacencyKey> nextHops_;
  absl::flat_hash_map<ZaduLpmLib::AdjacencyKey, std::uint32_t, ZaduLpmLib::AdjacencyKeyHash> ids_;
  std::vector<Vesk::Ptr<ZaduLpm::AdjacencyTable::EntryHandle>> handles_;  // by next hop id
  std::vector<std::uint32_t> freeIds_;
  absl::flat_hash_map<std::uint64_t, std::uint32_t> routes_;  // route number -> next hop id
  absl::flat_hash_map<std::uint32_t, std::int64_t> users_;    // next hop id -> routes using it
  absl::flat_hash_map<std::uint32_t, Dependency> lastLetGo_;
  std::uint64_t nextHopsRemoved_ = 0;
  std::deque<Operation> operations_;  // from the first not answered on
  std::uint64_t firstOutstanding_ = 0;
  std::uint64_t answered_ = 0;
  std::uint64_t duplicateAnswers_ = 0;
  Clock::time_point lastAnswer_{};
  bool showProgress_ = false;
  char const* stepName_ = "";
  std::uint64_t stepStart_ = 0;
  std::uint64_t stepOperations_ = 0;
  std::vector<std::int64_t> latencies_;
  std::array<std::uint64_t, 8> states_{};  // answers by Zido::EntryState
  std::vector<std::string> refused_;
  std::uint64_t refusedCount_ = 0;
};

}  // namespace ZaduAgent
