// ZaduRouted FIB mirror: the routing suite's IPv4 forwarding table as its
// route and next-hop messages describe it, each route resolved to the next
// hop (an AdjacencyKey) it forwards to, and the changes that follow from
// every message handed to a Target that programs them.
//
// Resolution. A route names its paths itself, or a next-hop object by id;
// an object is one path or a group of other objects (the union of their
// paths; weights are not kept). A route whose object is unknown, or whose
// group names an unknown member, is unresolved: withdrawn from the target
// and kept, so that it is installed once the object arrives. A replaced
// object re-resolves every route that uses it (a scan of the routes: objects
// change rarely, routes often). A removed object takes its routes with it,
// as the kernel does.
//
// Mark and sweep. Every route carries the generation in which a message last
// refreshed it. beginResync() starts a new generation; sweep() withdraws and
// forgets every route the current generation has not refreshed. Routes
// learned from a restored table belong to no generation until refreshed.
//
// Metrics. With `byMetric` (the kernel's table, where a prefix may have
// routes of several metrics) the prefix forwards by its best route: a worse
// one is kept aside, a route of the same metric replaces, and when the best
// is deleted the next best takes over, as in the kernel's lookup. Without
// it (FPM, which carries the suite's one chosen route per prefix) every new
// route replaces and every delete removes.
//
// Limits. The mirror holds at most `routeCapacity` refreshed routes (and
// as many more not yet refreshed by a resync) and `objectCapacity` next-hop
// objects: a peer that sends more (the units could not hold them anyway)
// has the excess counted and ignored, so that a hostile stream cannot grow
// the daemon without bound.
//
// Invariant: the target holds, for every resolved route in the mirror, the
// next hop it resolved to, and nothing for other prefixes, as far as the
// target accepted what it was handed.
//
// Thread safety: one thread.
#pragma once

#include <absl/container/flat_hash_map.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "ZaduLpmLib/AdjacencyDataModel.h"
#include "routed/NetlinkRoutes.h"

namespace ZaduRouted {

struct Prefix {
  std::uint32_t address = 0;
  std::uint8_t length = 0;

  std::uint64_t number() const noexcept { return (std::uint64_t{address} << 8) | length; }
  static Prefix of(std::uint64_t number) {
    return {static_cast<std::uint32_t>(number >> 8), static_cast<std::uint8_t>(number & 0xff)};
  }
};

class FibMirror {
 public:
  class Target {
   public:
    virtual ~Target() = default;
    // `prefix` forwards to `nextHop` now (new, or changed, or the same).
    virtual void install(Prefix prefix, ZaduLpmLib::AdjacencyKey const& nextHop) = 0;
    // `prefix` is gone, or forwards nowhere the mirror can name.
    virtual void withdraw(Prefix prefix) = 0;
  };

  struct Counts {
    std::uint64_t installs = 0;
    std::uint64_t withdraws = 0;
    std::uint64_t unresolved = 0;  // route messages whose next hop was unknown
    std::uint64_t swept = 0;
    std::uint64_t overCapacity = 0;  // new routes and objects past the limits, ignored
  };
  struct Limits {
    std::size_t routeCapacity = 1 << 24;
    std::size_t objectCapacity = 1 << 16;
  };

  FibMirror(Target& target, bool byMetric, Limits limits)
      : target_(target), byMetric_(byMetric), limits_(limits) {}

  // A route a restored table holds: known, not installed again, and swept
  // unless a message refreshes it.
  void learn(Prefix prefix, ZaduLpmLib::AdjacencyKey const& nextHop);

  void apply(RouteMessage const& message);
  void apply(NextHopMessage const& message);

  void beginResync() {
    ++generation_;
    refreshed_ = 0;
  }
  // Forgets every next-hop object, as a new source names them anew: a new
  // zebra hands out the same ids with other meanings. Routes keep the next
  // hop they resolved to until the replay names their objects again.
  void forgetObjects();
  // Routes held that the current generation has not refreshed: what a
  // sweep now would withdraw.
  std::size_t unrefreshed() const noexcept { return routes_.size() - refreshed_; }
  // Withdraws every route not refreshed since beginResync(); returns how many.
  std::size_t sweep();

  std::size_t routes() const noexcept { return routes_.size(); }
  std::size_t nextHopObjects() const noexcept { return objects_.size(); }
  Counts const& counts() const noexcept { return counts_; }
  // The next hop a prefix resolves to, when it does.
  std::optional<ZaduLpmLib::AdjacencyKey> lookup(Prefix prefix) const;

 private:
  struct Route {
    std::uint32_t generation = 0;
    std::uint32_t priority = 0;
    std::uint32_t nextHopId = 0;  // the object it names, or 0
    bool unresolved = false;      // it names an object that does not resolve
    std::uint32_t nextHop = 0;    // what the target holds: an id in keys_, or 0
  };
  struct Object {
    ZaduLpmLib::NextHopPath path;      // a single next hop's path
    std::vector<std::uint32_t> group;  // or a group's members

    bool operator==(Object const&) const = default;
  };

  // Next hops are kept once, by id, for as long as a route holds them: a
  // route stays a few bytes, whatever its number of paths.
  struct Interned {
    ZaduLpmLib::AdjacencyKey key;
    std::uint32_t users = 0;
  };
  std::uint32_t intern(ZaduLpmLib::AdjacencyKey const& key);
  void release(std::uint32_t id);
  // Sets what the route holds; withdraws or installs nothing.
  void holdKey(Route& route, std::uint32_t id);

  // A route of a prefix, held or kept as an alternate: its metric and its
  // object, or its own paths (`key`, an id in keys_ holding one use).
  struct Candidate {
    std::uint32_t priority = 0;
    std::uint32_t nextHopId = 0;
    std::uint32_t key = 0;
  };
  using RoutesIterator = absl::flat_hash_map<std::uint64_t, Route>::iterator;
  std::uint32_t candidateKey(RouteMessage const& message);
  Candidate heldAsCandidate(Route const& route);
  // Makes `candidate` the prefix's route and hands it to the target; takes
  // over its use of `key`.
  void hold(std::uint64_t prefix, Candidate const& candidate);
  void keepAlternate(std::uint64_t prefix, Candidate const& candidate);
  void dropAlternates(std::uint64_t prefix);
  void removeByMetric(RoutesIterator at, std::uint32_t priority);

  // The next hop of an object, when it and its members are known.
  std::optional<ZaduLpmLib::AdjacencyKey> resolve(std::uint32_t id) const;
  // Hands the route's new resolution to the target.
  void settle(std::uint64_t prefix, Route& route,
              std::optional<ZaduLpmLib::AdjacencyKey> const& nextHop);
  void nameObject(Route& route, std::uint32_t id);
  void forget(std::uint64_t prefix, Route& route);
  // `id` and the groups that contain it.
  std::vector<std::uint32_t> withGroupsOf(std::uint32_t id) const;
  bool used(std::vector<std::uint32_t> const& ids) const;
  // Re-resolves every route whose object is among `ids`; with `remove`,
  // withdraws and forgets them instead.
  void reresolve(std::vector<std::uint32_t> const& ids, bool remove);

  Target& target_;
  bool const byMetric_;
  Limits const limits_;
  std::uint32_t generation_ = 1;
  absl::flat_hash_map<std::uint64_t, Route> routes_;
  absl::flat_hash_map<std::uint32_t, Object> objects_;
  absl::flat_hash_map<std::uint32_t, std::uint32_t> users_;  // object id -> routes naming it
  std::vector<Interned> keys_;                               // next hop id - 1 -> key
  std::vector<std::uint32_t> freeKeys_;
  absl::flat_hash_map<ZaduLpmLib::AdjacencyKey, std::uint32_t, ZaduLpmLib::AdjacencyKeyHash>
      keyIds_;
  std::size_t unresolvedRoutes_ = 0;
  std::size_t refreshed_ = 0;  // routes of the current generation
  // With byMetric: the worse routes of prefixes, for when the best goes.
  absl::flat_hash_map<std::uint64_t, std::vector<Candidate>> alternates_;
  Counts counts_;
};

// The adjacency key of a set of paths, duplicates merged; none when there
// are none or more than 64.
std::optional<ZaduLpmLib::AdjacencyKey> keyOf(std::vector<ZaduLpmLib::NextHopPath> paths);

}  // namespace ZaduRouted
