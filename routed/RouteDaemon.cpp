#include "routed/RouteDaemon.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstdio>

#include "ZaduLpmLib/Ipv4Text.h"
#include "ZaduLpmLib/TcamConstants.h"
#include "agent/Routes.h"

namespace ZaduRouted {
namespace {

constexpr auto tickPeriod = std::chrono::milliseconds(100);
constexpr std::size_t refusedNamed = 20;

double secondsSince(RouteDaemon::Clock::time_point then) {
  return std::chrono::duration<double>(RouteDaemon::Clock::now() - then).count();
}

ZaduAgent::Programmer::Settings programmerSettings(
    absl::flat_hash_set<std::uint64_t>& refusedPrefixes) {
  ZaduAgent::Programmer::Settings settings;
  settings.pumpEvery = 0;  // the daemon returns to the loop after every read
  settings.refusedKept = refusedNamed;
  settings.latencySamples = 1 << 20;
  settings.refusedRoute = [&refusedPrefixes](ZaduAgent::Route const& route) {
    refusedPrefixes.insert(Prefix{route.prefix, route.length}.number());
  };
  return settings;
}

// As many routes as the units can hold, under the placement.
FibMirror::Limits mirrorLimits(DaemonOptions const& options) {
  std::size_t const unit = ZaduLpmLib::TcamConstants::configCapacity;
  return {.routeCapacity = options.placement == Placement::all ? unit : unit * options.units,
          .objectCapacity = std::size_t{1} << 16};
}

}  // namespace

RouteDaemon::RouteDaemon(DaemonOptions const& options)
    : options_(options),
      intf_(ZaduLpm::TcamInterface::getIntf(agent_.orderedTableInterface())),
      adjacencies_(ZaduLpm::AdjacencyInterface::getIntf(agent_.orderedTableInterface())),
      programmer_(agent_, *adjacencies_->table(), {}, programmerSettings(refusedPrefixes_)),
      mirror_(*this, options.byMetric, mirrorLimits(options)) {
  restore();
  lastMessage_ = Clock::now();
  tickTimer_ = agent_.eventLoop().timerIs(tickPeriod, [this] { tick(); });
}

RouteDaemon::~RouteDaemon() {
  agent_.eventLoop().timerDel(tickTimer_);
}

void RouteDaemon::restore() {
  for (std::uint16_t unit = 0; unit < options_.units; ++unit) {
    tables_[unit] = intf_->makeSwTable(unit, nullptr, false);
  }
  for (auto const& [unit, table] : tables_) {
    programmer_.learn(unit, *table);
  }
  intf_->reconcile();
  ZaduLpm::AdjacencyTable const& adjacencyTable = *adjacencies_->table();
  std::uint64_t learned = 0;
  std::uint64_t misplaced = 0;
  for (auto const& [unit, table] : tables_) {
    std::vector<ZaduLpmLib::TcamDataModelEntryKey> elsewhere;
    for (auto const& entry : table->entryIteratorConst()) {
      Prefix const prefix{entry.key().prefix, entry.key().length};
      ZaduLpm::TcamSwTable const* const here = table.get();
      bool placedHere = false;
      forUnitsOf(prefix, [&](ZaduLpm::TcamSwTable& each) { placedHere |= &each == here; });
      std::optional<ZaduLpmLib::AdjacencyKey> const nextHop =
          adjacencyTable.nextHop(entry.data.adjacencyIndex);
      if (!placedHere || !nextHop) {
        elsewhere.push_back(entry.key());  // another placement's, or no next hop
        continue;
      }
      if (!mirror_.lookup(prefix)) {
        mirror_.learn(prefix, *nextHop);
        ++learned;
      }
    }
    for (auto const& key : elsewhere) {
      programmer_.remove(*table, key);
      ++misplaced;
    }
  }
  std::fprintf(stderr, "zadulpm-routed: restored %llu routes over %u units from shared memory%s\n",
               static_cast<unsigned long long>(learned), options_.units,
               misplaced == 0
                   ? ""
                   : fmt::format(" ({} entries of another placement removed)", misplaced).c_str());
}

template <typename Each>
void RouteDaemon::forUnitsOf(Prefix prefix, Each const& each) {
  if (options_.placement == Placement::hash) {
    each(*tables_.at(ZaduAgent::unitOf(prefix.address, prefix.length, options_.units)));
    return;
  }
  for (auto const& [unit, table] : tables_) {
    each(*table);
  }
}

void RouteDaemon::install(Prefix prefix, ZaduLpmLib::AdjacencyKey const& nextHop) {
  pendingWithdraws_.erase(prefix.number());  // a change: the entry is rewritten, not removed
  std::uint32_t const id = programmer_.idOf(nextHop);
  forUnitsOf(prefix, [&](ZaduLpm::TcamSwTable& table) {
    ZaduAgent::Route const route{prefix.address, prefix.length, id,
                                 static_cast<std::uint16_t>(table.unitId())};
    if (programmer_.holds(table, route, id)) {
      ++unchanged_;
      return;
    }
    programmer_.write(table, route, id);
    ++writes_;
  });
}

void RouteDaemon::withdraw(Prefix prefix) {
  pendingWithdraws_.insert(prefix.number());
}

void RouteDaemon::flushWithdraws() {
  for (std::uint64_t const number : pendingWithdraws_) {
    Prefix const prefix = Prefix::of(number);
    ZaduLpmLib::TcamDataModelEntryKey const key(prefix.address, prefix.length);
    forUnitsOf(prefix, [&](ZaduLpm::TcamSwTable& table) {
      if (table.entryRead(key).data.key == key) {
        programmer_.remove(table, key);
        ++removes_;
      }
    });
  }
  pendingWithdraws_.clear();
}

void RouteDaemon::batchEnded() {
  flushWithdraws();
  lastMessage_ = Clock::now();  // skipped messages are activity too
}

void RouteDaemon::messageArrived() {
  Clock::time_point const now = Clock::now();
  if (resync_.active) {
    if (!resync_.firstMessage) {
      resync_.firstMessage = now;
    } else {
      resync_.longestPause = std::max(resync_.longestPause, now - lastMessage_);
    }
  }
  lastMessage_ = now;
}

void RouteDaemon::routeChanged(RouteMessage const& route) {
  messageArrived();
  if (resync_.active && !route.remove) {
    ++resync_.routesRefreshed;
  }
  mirror_.apply(route);
}

void RouteDaemon::nextHopChanged(NextHopMessage const& nextHop) {
  messageArrived();
  mirror_.apply(nextHop);
}

void RouteDaemon::dumpEnded() {
  if (resync_.active && resync_.sweepOnDumpEnd) {
    sweep("dump ended");
  }
}

void RouteDaemon::sourceUp(std::string const& description, bool sweepOnDumpEnd) {
  mirror_.beginResync();
  mirror_.forgetObjects();
  resync_ = Resync{};
  resync_.active = true;
  resync_.sweepOnDumpEnd = sweepOnDumpEnd;
  resync_.began = Clock::now();
  resync_.writesBefore = writes_;
  resync_.unchangedBefore = unchanged_;
  resync_.removesBefore = removes_;
  std::fprintf(stderr, "zadulpm-routed: %s: resync begins (%zu routes held)\n", description.c_str(),
               mirror_.routes());
}

void RouteDaemon::sourceDown(std::string const& description) {
  std::fprintf(stderr, "zadulpm-routed: %s%s; %zu routes kept\n", description.c_str(),
               resync_.active ? " before its resync ended: no sweep" : "", mirror_.routes());
  resync_.active = false;
}

void RouteDaemon::sweep(char const* why) {
  std::size_t const swept = mirror_.sweep();
  flushWithdraws();
  double const took = secondsSince(resync_.began);
  lastResync_ = fmt::format(
      "{} refreshed, {} written, {} unchanged, {} swept in {:.3f} s ({}; longest pause between "
      "messages {:.3f} s)",
      resync_.routesRefreshed, writes_ - resync_.writesBefore, unchanged_ - resync_.unchangedBefore,
      swept, took, why, std::chrono::duration<double>(resync_.longestPause).count());
  std::fprintf(stderr, "zadulpm-routed: %s resync done: %s\n", options_.sourceName.c_str(),
               lastResync_.c_str());
  std::uint64_t const changes = writes_ - resync_.writesBefore + removes_ - resync_.removesBefore;
  settling_ = Settling{resync_.firstMessage.has_value() && changes != 0,
                       resync_.firstMessage.value_or(resync_.began), resync_.routesRefreshed};
  resync_.active = false;
}

void RouteDaemon::tick() {
  tickTimer_ = agent_.eventLoop().timerIs(tickPeriod, [this] { tick(); });
  Clock::time_point const now = Clock::now();
  if (resync_.active && !resync_.sweepOnDumpEnd) {
    bool const quiet = resync_.firstMessage && now - lastMessage_ >= options_.quiet;
    // A replay that lacks more than the shortfall is taken as one still
    // coming (a restarted suite relearning its routes), not as an end.
    bool const complete = static_cast<double>(mirror_.unrefreshed()) <=
                          options_.shortfall * static_cast<double>(mirror_.routes());
    if (quiet && complete) {
      sweep("quiet");
    } else if (now - resync_.began >= options_.bound) {
      sweep("bound");
    } else if (quiet && !resync_.heldBack) {
      resync_.heldBack = true;
      std::fprintf(stderr,
                   "zadulpm-routed: %s resync: %zu of %zu routes not replayed yet, more than "
                   "the shortfall allows: the sweep waits for more, at most until the bound\n",
                   options_.sourceName.c_str(), mirror_.unrefreshed(), mirror_.routes());
    }
  }
  if (programmer_.settled()) {
    if (settling_.pending) {
      settling_.pending = false;
      double const took =
          std::chrono::duration<double>(programmer_.lastAnswer() - settling_.firstMessage).count();
      std::fprintf(stderr,
                   "zadulpm-routed: %s resync settled: %llu routes in %.3f s from the first "
                   "message to the hardware's last answer (%.0f per second)\n",
                   options_.sourceName.c_str(), static_cast<unsigned long long>(settling_.routes),
                   took > 0 ? took : 0.0,
                   took > 0 ? static_cast<double>(settling_.routes) / took : 0.0);
    }
    if (programmer_.unusedNextHops()) {
      programmer_.removeUnusedNextHops();  // their indexes are free once the hardware took it
    } else {
      retryRefused(now);
    }
  }
  if (now - lastReport_ >= std::chrono::seconds(1)) {
    lastReport_ = now;
    reportProblems();
  }
}

void RouteDaemon::retryRefused(Clock::time_point now) {
  // Room can only have come from a remove, of a route or of a next hop.
  std::uint64_t const freed = removes_ + programmer_.nextHopsRemoved();
  if (refusedPrefixes_.empty() || freed == freedAtRetry_ ||
      now - lastRetry_ < std::chrono::seconds(1)) {
    return;
  }
  freedAtRetry_ = freed;
  lastRetry_ = now;
  absl::flat_hash_set<std::uint64_t> const refused = std::move(refusedPrefixes_);
  refusedPrefixes_.clear();
  std::size_t retried = 0;
  for (std::uint64_t const number : refused) {
    if (std::optional<ZaduLpmLib::AdjacencyKey> const nextHop =
            mirror_.lookup(Prefix::of(number))) {
      install(Prefix::of(number), *nextHop);
      ++retried;
    }
  }
  std::fprintf(stderr, "zadulpm-routed: room was freed: %zu refused routes written again\n",
               retried);
}

void RouteDaemon::reportProblems() {
  if (programmer_.refusedCount() != refusedReported_) {
    std::string named;
    for (std::string const& route : programmer_.refused()) {
      named += (named.empty() ? "" : ", ") + route;
    }
    std::fprintf(stderr,
                 "zadulpm-routed: %llu routes refused by a full unit or adjacency table (first: "
                 "%s)\n",
                 static_cast<unsigned long long>(programmer_.refusedCount()), named.c_str());
    refusedReported_ = programmer_.refusedCount();
  }
  std::uint64_t const failed = programmer_.answersIn(Zido::EntryState::dependencyFailed);
  if (failed != dependencyFailedReported_) {
    std::fprintf(stderr,
                 "zadulpm-routed: the adjacency table is full (%u next hops): %llu route "
                 "writes failed for want of their next hop\n",
                 adjacencies_->table()->live(), static_cast<unsigned long long>(failed));
    dependencyFailedReported_ = failed;
  }
  if (mirror_.counts().overCapacity != overCapacityReported_) {
    std::fprintf(stderr,
                 "zadulpm-routed: %llu new routes or next-hop objects ignored: the units hold at "
                 "most %zu routes under this placement\n",
                 static_cast<unsigned long long>(mirror_.counts().overCapacity),
                 mirrorLimits(options_).routeCapacity);
    overCapacityReported_ = mirror_.counts().overCapacity;
  }
  if (decodeCounts_.malformed != malformedReported_) {
    std::fprintf(stderr, "zadulpm-routed: %llu malformed messages skipped (last: %s)\n",
                 static_cast<unsigned long long>(decodeCounts_.malformed),
                 decodeCounts_.lastProblem);
    malformedReported_ = decodeCounts_.malformed;
  }
}

std::string RouteDaemon::statistics() const {
  DecodeCounts const& counts = decodeCounts_;
  return fmt::format(
      "routes {} ({}), writes {}, unchanged {}, removes {}, pending {}, refused {}, next hops "
      "{} live {} removed, messages {} (skipped: {} other family, {} other table, {} other "
      "type; {} malformed, {} unknown attributes, {} unresolved, {} over capacity), last resync: "
      "{}",
      mirror_.routes(), options_.sourceName, writes_, unchanged_, removes_,
      programmer_.accepted() - programmer_.answered(), programmer_.refusedCount(),
      adjacencies_->table()->live(), programmer_.nextHopsRemoved(), counts.messages,
      counts.otherFamily, counts.otherTable, counts.otherType, counts.malformed,
      counts.unknownAttributes, mirror_.counts().unresolved, mirror_.counts().overCapacity,
      lastResync_);
}

bool RouteDaemon::drain(Clock::duration timeout) {
  flushWithdraws();
  return agent_.runUntil([&] { return programmer_.settled(); }, timeout);
}

}  // namespace ZaduRouted
