// ZaduRouted route daemon: the routing suite's IPv4 FIB, as one source
// (FPM or the kernel) describes it, kept on the switch's units through the
// library: every route a TCAM entry pointing at its next hop's adjacency,
// and depending on that next hop's handle.
//
// Start (warm restart): every unit is restored from shared memory (`reset`
// false), units beyond --units are cleared by reconcile, and the routes the
// tables hold are learned as the mirror's unrefreshed routes. The hardware
// keeps forwarding them while the source replays.
//
// Resynchronisation: a source that comes up (an FPM connection, a kernel
// dump) begins a new generation. Routes the replay sends again unchanged
// cost no write: a route is written only when its unit does not hold it
// with the same adjacency. The sweep removes every route the replay did not
// refresh, and only then:
//   - FPM sends no end marker: the sweep waits until no message has come
//     for `quiet` since the first message and the replay lacks at most
//     `shortfall` of the routes held, or until `bound` since the
//     connection, whichever comes first. A restarted zebra replays only
//     its connected routes at first and the rest as its daemons come back:
//     the shortfall keeps that pause from ending the replay. A connection
//     lost before the sweep cancels it (a partial replay must not remove
//     what it did not reach).
//   - the kernel's dump ends with NLMSG_DONE: the sweep follows it at once.
//
// Placement: `all` writes every route to every unit (chips that each
// forward on their own); `hash` writes a route to the one unit a hash of its
// prefix picks, as zadulpm-agent spreads them.
//
// Next hops no route uses any more are removed once every route change is
// answered (checked on every tick). Routes a full unit or adjacency table
// refused are written again once a remove may have made room.
//
// Operators: one log line per connection, disconnection, resync and its
// settling; statistics() for SIGUSR1; a unit or adjacency table that refuses
// routes, and malformed input, are reported at most once a second.
//
// Thread safety: the agent's thread. The daemon owns the Zido::Agent whose
// event loop the sources share.
#pragma once

#include <absl/container/flat_hash_set.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "ZaduLpm/AdjacencyInterface.h"
#include "ZaduLpm/TcamInterface.h"
#include "Zido/Agent.h"
#include "agent/Programmer.h"
#include "routed/FibMirror.h"
#include "routed/NetlinkRoutes.h"

namespace ZaduRouted {

enum class Placement { all, hash };

struct DaemonOptions {
  std::uint16_t units = 1;
  Placement placement = Placement::all;
  std::chrono::milliseconds quiet{2000};
  std::chrono::milliseconds bound{60000};
  double shortfall = 0.25;
  bool byMetric = false;  // the kernel's table (see FibMirror)
  std::string sourceName = "fpm";
};

class RouteDaemon final : public MessageSink, private FibMirror::Target {
 public:
  using Clock = std::chrono::steady_clock;

  explicit RouteDaemon(DaemonOptions const& options);
  ~RouteDaemon() override;

  Zido::Agent& agent() noexcept { return agent_; }
  Quor::EventLoop& eventLoop() noexcept { return agent_.eventLoop(); }

  // A source came up: a new generation begins. `sweepOnDumpEnd` for a
  // source that ends its replay with NLMSG_DONE.
  void sourceUp(std::string const& description, bool sweepOnDumpEnd);
  // The source went away: a sweep not yet done is cancelled.
  void sourceDown(std::string const& description);

  // The source has handed over what one read brought: withdraws held back
  // until now are done, unless a route of the same prefix came after them
  // (zebra sends a change as a delete and a new route in one frame: the
  // entry is rewritten in place, or left alone when nothing changed).
  void batchEnded();

  void routeChanged(RouteMessage const& route) override;
  void nextHopChanged(NextHopMessage const& nextHop) override;
  void dumpEnded() override;

  // Decode counts, kept by the sources and read here for statistics.
  DecodeCounts& decodeCounts() noexcept { return decodeCounts_; }

  // One line of statistics.
  std::string statistics() const;
  // Runs the loop until every operation is answered, at most `timeout`.
  bool drain(Clock::duration timeout);

  std::size_t routes() const noexcept { return mirror_.routes(); }
  std::uint64_t writes() const noexcept { return writes_; }
  std::uint64_t unchanged() const noexcept { return unchanged_; }
  std::uint64_t removes() const noexcept { return removes_; }
  bool resyncing() const noexcept { return resync_.active; }

 private:
  struct Resync {
    bool active = false;
    bool sweepOnDumpEnd = false;
    Clock::time_point began;
    std::optional<Clock::time_point> firstMessage;
    std::uint64_t writesBefore = 0;
    std::uint64_t unchangedBefore = 0;
    std::uint64_t removesBefore = 0;
    std::uint64_t routesRefreshed = 0;
    Clock::duration longestPause{};
    bool heldBack = false;  // a quiet replay that lacked too much was reported
  };
  struct Settling {  // a swept resync waiting for its last answer
    bool pending = false;
    Clock::time_point firstMessage;
    std::uint64_t routes = 0;
  };

  void install(Prefix prefix, ZaduLpmLib::AdjacencyKey const& nextHop) override;
  void withdraw(Prefix prefix) override;
  template <typename Each>
  void forUnitsOf(Prefix prefix, Each const& each);

  void flushWithdraws();
  void restore();
  void messageArrived();
  void sweep(char const* why);
  void tick();
  void reportProblems();
  // Writes the refused routes the suite still has again, once a remove may
  // have made room (at most once a second).
  void retryRefused(Clock::time_point now);

  DaemonOptions const options_;
  Zido::Agent agent_;
  absl::flat_hash_set<std::uint64_t> refusedPrefixes_;  // prefix numbers, to try again
  Vesk::Ptr<ZaduLpm::TcamInterface> intf_;
  std::map<std::uint16_t, Vesk::Ptr<ZaduLpm::TcamSwTable>> tables_;
  Vesk::Ptr<ZaduLpm::AdjacencyInterface> adjacencies_;
  ZaduAgent::Programmer programmer_;
  FibMirror mirror_;
  DecodeCounts decodeCounts_;
  absl::flat_hash_set<std::uint64_t> pendingWithdraws_;  // prefix numbers
  Resync resync_;
  Settling settling_;
  std::uint64_t writes_ = 0;
  std::uint64_t unchanged_ = 0;
  std::uint64_t removes_ = 0;
  std::uint64_t refusedReported_ = 0;
  std::uint64_t malformedReported_ = 0;
  std::uint64_t overCapacityReported_ = 0;
  std::uint64_t dependencyFailedReported_ = 0;
  std::string lastResync_ = "none";
  Clock::time_point lastMessage_;
  Clock::time_point lastReport_;
  Clock::time_point lastRetry_;
  std::uint64_t freedAtRetry_ = 0;
  Quor::EventLoop::TimerId tickTimer_ = 0;
};

}  // namespace ZaduRouted
