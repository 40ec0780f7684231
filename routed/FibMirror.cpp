#include "routed/FibMirror.h"

#include <algorithm>
#include <limits>

namespace ZaduRouted {

std::optional<ZaduLpmLib::AdjacencyKey> keyOf(std::vector<ZaduLpmLib::NextHopPath> paths) {
  std::sort(paths.begin(), paths.end());
  paths.erase(std::unique(paths.begin(), paths.end()), paths.end());
  if (paths.empty() || paths.size() > ZaduLpmLib::AdjacencyKey::maxPaths) {
    return std::nullopt;
  }
  return ZaduLpmLib::AdjacencyKey::of(paths);
}

std::optional<ZaduLpmLib::AdjacencyKey> FibMirror::lookup(Prefix prefix) const {
  auto const at = routes_.find(prefix.number());
  if (at == routes_.end() || at->second.nextHop == 0) {
    return std::nullopt;
  }
  return keys_[at->second.nextHop - 1].key;
}

std::uint32_t FibMirror::intern(ZaduLpmLib::AdjacencyKey const& key) {
  auto const [at, added] = keyIds_.try_emplace(key, 0);
  if (added) {
    if (freeKeys_.empty()) {
      keys_.push_back({key, 0});
      at->second = static_cast<std::uint32_t>(keys_.size());
    } else {
      at->second = freeKeys_.back();
      freeKeys_.pop_back();
      keys_[at->second - 1] = {key, 0};
    }
  }
  ++keys_[at->second - 1].users;
  return at->second;
}

void FibMirror::release(std::uint32_t id) {
  if (id != 0 && --keys_[id - 1].users == 0) {
    keyIds_.erase(keys_[id - 1].key);
    freeKeys_.push_back(id);
  }
}

void FibMirror::holdKey(Route& route, std::uint32_t id) {
  release(route.nextHop);
  route.nextHop = id;
}

void FibMirror::learn(Prefix prefix, ZaduLpmLib::AdjacencyKey const& nextHop) {
  Route& route = routes_[prefix.number()];
  route.generation = 0;
  route.priority = std::numeric_limits<std::uint32_t>::max();
  holdKey(route, intern(nextHop));
}

std::optional<ZaduLpmLib::AdjacencyKey> FibMirror::resolve(std::uint32_t id) const {
  auto const at = objects_.find(id);
  if (at == objects_.end()) {
    return std::nullopt;
  }
  if (at->second.group.empty()) {
    return ZaduLpmLib::AdjacencyKey::of(at->second.path);
  }
  std::vector<ZaduLpmLib::NextHopPath> paths;
  for (std::uint32_t const member : at->second.group) {
    auto const found = objects_.find(member);
    if (found == objects_.end() || !found->second.group.empty()) {
      return std::nullopt;  // unknown, or a group in a group
    }
    paths.push_back(found->second.path);
  }
  return keyOf(std::move(paths));
}

void FibMirror::settle(std::uint64_t prefix, Route& route,
                       std::optional<ZaduLpmLib::AdjacencyKey> const& nextHop) {
  bool const unresolved = !nextHop.has_value();
  if (unresolved != route.unresolved) {
    unresolvedRoutes_ += unresolved ? 1 : -1;
    route.unresolved = unresolved;
  }
  if (nextHop) {
    holdKey(route, intern(*nextHop));
    target_.install(Prefix::of(prefix), *nextHop);
    ++counts_.installs;
    return;
  }
  ++counts_.unresolved;
  if (route.nextHop != 0) {
    holdKey(route, 0);
    target_.withdraw(Prefix::of(prefix));
    ++counts_.withdraws;
  }
}

void FibMirror::nameObject(Route& route, std::uint32_t id) {
  if (route.nextHopId == id) {
    return;
  }
  if (route.nextHopId != 0 && --users_[route.nextHopId] == 0) {
    users_.erase(route.nextHopId);
  }
  route.nextHopId = id;
  if (id != 0) {
    ++users_[id];
  }
}

void FibMirror::forget(std::uint64_t prefix, Route& route) {
  if (route.generation == generation_) {
    --refreshed_;
  }
  if (route.nextHop != 0) {
    holdKey(route, 0);
    target_.withdraw(Prefix::of(prefix));
    ++counts_.withdraws;
  }
  if (route.unresolved) {
    --unresolvedRoutes_;
  }
  nameObject(route, 0);
}

void FibMirror::apply(RouteMessage const& message) {
  std::uint64_t const prefix = Prefix{message.prefix, message.length}.number();
  auto const at = routes_.find(prefix);
  if (message.remove) {
    if (at == routes_.end()) {
      return;
    }
    if (byMetric_) {
      removeByMetric(at, message.priority);
    } else {
      forget(prefix, at->second);
      routes_.erase(at);
    }
    return;
  }
  if (at == routes_.end() &&
      (refreshed_ >= limits_.routeCapacity || routes_.size() >= 2 * limits_.routeCapacity)) {
    // Routes a resync has not refreshed yet count against the capacity
    // only up to twice it: the sweep frees their room.
    ++counts_.overCapacity;
    return;
  }
  Candidate const candidate{message.priority, message.nextHopId, candidateKey(message)};
  if (at != routes_.end() && byMetric_ && at->second.generation == generation_ &&
      message.priority != at->second.priority) {
    if (message.priority > at->second.priority) {
      keepAlternate(prefix, candidate);  // a worse route of a prefix that has a better one
      return;
    }
    keepAlternate(prefix, heldAsCandidate(at->second));
  }
  hold(prefix, candidate);
}

std::uint32_t FibMirror::candidateKey(RouteMessage const& message) {
  if (message.nextHopId != 0) {
    return 0;
  }
  std::optional<ZaduLpmLib::AdjacencyKey> const key =
      keyOf({message.pathSpan().begin(), message.pathSpan().end()});
  return key ? intern(*key) : 0;
}

FibMirror::Candidate FibMirror::heldAsCandidate(Route const& route) {
  std::uint32_t const key = route.nextHopId == 0 ? route.nextHop : 0;
  if (key != 0) {
    ++keys_[key - 1].users;
  }
  return {route.priority, route.nextHopId, key};
}

void FibMirror::hold(std::uint64_t prefix, Candidate const& candidate) {
  auto const [at, added] = routes_.try_emplace(prefix);
  Route& route = at->second;
  if (route.generation != generation_) {
    route.generation = generation_;
    ++refreshed_;
  }
  route.priority = candidate.priority;
  nameObject(route, candidate.nextHopId);
  if (candidate.nextHopId != 0) {
    settle(prefix, route, resolve(candidate.nextHopId));
  } else if (candidate.key != 0) {
    settle(prefix, route, keys_[candidate.key - 1].key);
    release(candidate.key);
  } else {
    settle(prefix, route, std::nullopt);  // more than 64 paths
  }
}

void FibMirror::keepAlternate(std::uint64_t prefix, Candidate const& candidate) {
  std::vector<Candidate>& kept = alternates_[prefix];
  for (Candidate& each : kept) {
    if (each.priority == candidate.priority) {
      release(each.key);
      each = candidate;
      return;
    }
  }
  kept.push_back(candidate);
}

void FibMirror::dropAlternates(std::uint64_t prefix) {
  if (auto const at = alternates_.find(prefix); at != alternates_.end()) {
    for (Candidate const& each : at->second) {
      release(each.key);
    }
    alternates_.erase(at);
  }
}

void FibMirror::removeByMetric(RoutesIterator at, std::uint32_t priority) {
  std::uint64_t const prefix = at->first;
  Route& route = at->second;
  // A learned route's metric is unknown: any delete of its prefix matches.
  bool const held =
      route.priority == priority || route.priority == std::numeric_limits<std::uint32_t>::max();
  auto const others = alternates_.find(prefix);
  if (!held) {
    if (others != alternates_.end()) {
      std::erase_if(others->second, [&](Candidate const& each) {
        if (each.priority == priority) {
          release(each.key);
          return true;
        }
        return false;
      });
    }
    return;
  }
  if (others == alternates_.end() || others->second.empty()) {
    dropAlternates(prefix);
    forget(prefix, route);
    routes_.erase(at);
    return;
  }
  // The next best route of the prefix takes over, as the kernel's lookup
  // does.
  auto const best = std::min_element(
      others->second.begin(), others->second.end(),
      [](Candidate const& a, Candidate const& b) { return a.priority < b.priority; });
  Candidate const next = *best;
  others->second.erase(best);
  hold(prefix, next);
}

void FibMirror::forgetObjects() {
  for (auto& [prefix, route] : routes_) {
    if (route.nextHopId == 0) {
      continue;
    }
    nameObject(route, 0);  // it keeps the next hop it resolved to
    if (route.unresolved) {
      route.unresolved = false;
      --unresolvedRoutes_;
    }
  }
  for (auto& [prefix, kept] : alternates_) {
    std::erase_if(kept, [](Candidate const& each) { return each.nextHopId != 0; });
  }
  objects_.clear();
  users_.clear();
}

std::vector<std::uint32_t> FibMirror::withGroupsOf(std::uint32_t id) const {
  std::vector<std::uint32_t> ids{id};
  for (auto const& [groupId, object] : objects_) {
    if (std::find(object.group.begin(), object.group.end(), id) != object.group.end()) {
      ids.push_back(groupId);
    }
  }
  return ids;
}

bool FibMirror::used(std::vector<std::uint32_t> const& ids) const {
  return std::any_of(ids.begin(), ids.end(), [&](std::uint32_t id) { return users_.contains(id); });
}

void FibMirror::reresolve(std::vector<std::uint32_t> const& ids, bool remove) {
  for (auto at = routes_.begin(); at != routes_.end();) {
    Route& route = at->second;
    if (route.nextHopId == 0 || std::find(ids.begin(), ids.end(), route.nextHopId) == ids.end()) {
      ++at;
      continue;
    }
    if (remove) {
      // Its routes of other metrics that name the object go with it; the
      // best of the rest, if any, takes over.
      auto const current = at++;
      if (auto const others = alternates_.find(current->first); others != alternates_.end()) {
        std::erase_if(others->second, [&](Candidate const& each) {
          return std::find(ids.begin(), ids.end(), each.nextHopId) != ids.end();
        });
      }
      if (byMetric_) {
        removeByMetric(current, current->second.priority);
      } else {
        forget(current->first, current->second);
        routes_.erase(current);
      }
    } else {
      settle(at->first, route, resolve(route.nextHopId));
      ++at;
    }
  }
}

void FibMirror::apply(NextHopMessage const& message) {
  if (message.remove) {
    if (objects_.erase(message.id) == 0) {
      return;
    }
    // The kernel removes the routes of a removed object; groups that named
    // it no longer resolve.
    std::vector<std::uint32_t> const ids = withGroupsOf(message.id);
    if (users_.contains(message.id)) {
      reresolve({message.id}, true);
    }
    if (used(ids)) {
      reresolve(ids, false);
    }
    return;
  }
  if (objects_.size() >= limits_.objectCapacity && !objects_.contains(message.id)) {
    ++counts_.overCapacity;
    return;
  }
  Object object{message.path, message.group};
  auto const [at, added] = objects_.try_emplace(message.id, object);
  if (!added) {
    if (at->second == object) {
      return;  // the same object again, as a replay sends it
    }
    at->second = std::move(object);
  }
  std::vector<std::uint32_t> const ids = withGroupsOf(message.id);
  if (used(ids) && (!added || unresolvedRoutes_ != 0)) {
    reresolve(ids, false);
  }
}

std::size_t FibMirror::sweep() {
  std::size_t swept = 0;
  for (auto at = routes_.begin(); at != routes_.end();) {
    if (at->second.generation == generation_) {
      ++at;
      continue;
    }
    dropAlternates(at->first);
    forget(at->first, at->second);
    routes_.erase(at++);
    ++swept;
  }
  counts_.swept += swept;
  refreshed_ = routes_.size();
  return swept;
}

}  // namespace ZaduRouted
