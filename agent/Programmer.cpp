#include "agent/Programmer.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstdio>

#include "ZaduLpmLib/Ipv4Text.h"

namespace ZaduAgent {
namespace {

std::uint64_t routeNumber(std::uint16_t unit, std::uint32_t prefix, std::uint8_t length) {
  return (std::uint64_t{unit} << 40) | (std::uint64_t{prefix} << 8) | length;
}

}  // namespace

Programmer::Programmer(Zido::Agent& agent, ZaduLpm::AdjacencyTable& adjacencies,
                       std::vector<ZaduLpmLib::AdjacencyKey> const& nextHops, Settings settings)
    : agent_(agent), adjacencies_(adjacencies), settings_(settings), nextHops_(nextHops) {
  for (std::uint32_t id = 0; id < nextHops_.size(); ++id) {
    ids_.emplace(nextHops_[id], id);
  }
  handles_.resize(nextHops_.size());
}

void Programmer::learn(std::uint16_t unit, ZaduLpm::TcamSwTable const& table) {
  for (auto const& entry : table.entryIteratorConst()) {
    std::optional<ZaduLpmLib::AdjacencyKey> const nextHop =
        adjacencies_.nextHop(entry.data.adjacencyIndex);
    if (nextHop) {
      use(routeNumber(unit, entry.key().prefix, entry.key().length), idOf(*nextHop), nullptr);
    }
  }
}

std::uint32_t Programmer::idOf(ZaduLpmLib::AdjacencyKey const& nextHop) {
  auto const [at, added] = ids_.try_emplace(nextHop, 0);
  if (added) {
    if (freeIds_.empty()) {
      at->second = static_cast<std::uint32_t>(nextHops_.size());
      nextHops_.push_back(nextHop);
      handles_.emplace_back();
    } else {
      at->second = freeIds_.back();
      freeIds_.pop_back();
      nextHops_[at->second] = nextHop;
    }
  }
  return at->second;
}

bool Programmer::holds(ZaduLpm::TcamSwTable const& table, Route const& route,
                       std::uint32_t nextHop) {
  ZaduLpmLib::TcamDataModelEntryKey const key(route.prefix, route.length);
  ZaduLpmLib::TcamDataModelEntry const now = table.entryRead(key);
  return now.data.key == key && now.data.adjacencyIndex != 0 &&
         now.data.adjacencyIndex == indexOf(nextHop);
}

void Programmer::write(ZaduLpm::TcamSwTable& table, Route const& route, std::uint32_t nextHop) {
  ZaduLpmLib::TcamDataModelEntryKey const key(route.prefix, route.length);
  Vesk::Ptr<ZaduLpm::AdjacencyTable::EntryHandle> const adjacency = handleOf(nextHop);
  ZaduLpmLib::TcamDataModelEntry entry;
  entry.keyIs(key);
  entry.data.adjacencyIndex = adjacency->index();
  std::uint64_t const operation = accept();
  auto const handle = table.entryWriteWithResponseHandler(
      key, entry, adjacency,
      [this, operation, route](auto const& done) { answer(operation, done, &route); });
  use(routeNumber(table.unitId(), route.prefix, route.length), nextHop, handle);
  pump();
}

void Programmer::remove(ZaduLpm::TcamSwTable& table, ZaduLpmLib::TcamDataModelEntryKey const& key) {
  std::uint64_t const operation = accept();
  auto const handle = table.entryRemoveWithResponseHandler(
      key, nullptr, [this, operation](auto const& done) { answer(operation, done, nullptr); });
  letGo(routeNumber(table.unitId(), key.prefix, key.length), handle);
  pump();
}

void Programmer::removeAll(ZaduLpm::TcamSwTable& table) {
  table.entryRemoveAll(nullptr);
  std::uint64_t const unit = table.unitId();
  for (auto at = routes_.begin(); at != routes_.end();) {
    if (at->first >> 40 == unit) {
      release(at->second, nullptr);
      routes_.erase(at++);
    } else {
      ++at;
    }
  }
}

std::size_t Programmer::removeUnusedNextHops() {
  std::size_t removed = 0;
  for (auto const& [id, users] : users_) {
    if (users != 0 || adjacencies_.indexOf(nextHops_[id]) == 0) {
      continue;
    }
    adjacencies_.adjacencyRemove(nextHops_[id], lastLetGo_[id]);
    handles_[id] = nullptr;
    ids_.erase(nextHops_[id]);
    freeIds_.push_back(id);  // nextHop(id) answers until idOf gives it again
    ++removed;
  }
  nextHopsRemoved_ += removed;
  absl::erase_if(users_, [](auto const& each) { return each.second == 0; });
  lastLetGo_.clear();
  return removed;
}

bool Programmer::unusedNextHops() const {
  return std::any_of(users_.begin(), users_.end(),
                     [](auto const& each) { return each.second == 0; });
}

bool Programmer::settle(double seconds) {
  bool const done = agent_.runUntil(
      [&] { return settled(); },
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds)));
  if (showProgress_) {
    std::fprintf(stderr, "\r%-60s\r", "");
  }
  return done;
}

void Programmer::step(char const* name, std::uint64_t operations) {
  stepName_ = name;
  stepStart_ = accepted();
  stepOperations_ = operations;
}

std::map<std::string, std::uint64_t> Programmer::states() const {
  std::map<std::string, std::uint64_t> named;
  for (std::size_t state = 0; state < states_.size(); ++state) {
    if (states_[state] != 0) {
      named[std::string(Zido::entryStateName(static_cast<Zido::EntryState>(state)))] =
          states_[state];
    }
  }
  return named;
}

double Programmer::latency(double quantile) {
  if (latencies_.empty()) {
    return 0;
  }
  std::sort(latencies_.begin(), latencies_.end());
  auto const at = static_cast<std::size_t>(quantile * static_cast<double>(latencies_.size() - 1));
  return static_cast<double>(latencies_[at]) / 1000.0;
}

std::uint64_t Programmer::accept() {
  operations_.push_back(Operation{Clock::now(), false});
  return accepted() - 1;
}

void Programmer::answer(std::uint64_t number, Vesk::Ptr<Zido::OrderedEntryHandle const> const& done,
                        Route const* route) {
  // An operation before the first outstanding one was answered already.
  if (number < firstOutstanding_ || operations_[number - firstOutstanding_].answered) {
    ++duplicateAnswers_;
    return;
  }
  Operation& operation = operations_[number - firstOutstanding_];
  operation.answered = true;
  ++answered_;
  lastAnswer_ = Clock::now();
  if (latencies_.size() < settings_.latencySamples) {
    latencies_.push_back(
        std::chrono::duration_cast<std::chrono::nanoseconds>(lastAnswer_ - operation.accepted)
            .count());
  }
  while (!operations_.empty() && operations_.front().answered) {
    operations_.pop_front();
    ++firstOutstanding_;
  }
  Zido::EntryState const state = done->entryState();
  ++states_[std::min(static_cast<std::size_t>(state), states_.size() - 1)];
  bool const noAdjacency = state == Zido::EntryState::dependencyFailed;
  if ((state == Zido::EntryState::failed || noAdjacency) && route != nullptr) {
    ++refusedCount_;
    if (settings_.refusedRoute) {
      settings_.refusedRoute(*route);
    }
    if (refused_.size() < settings_.refusedKept) {
      refused_.push_back(fmt::format("{}/{} unit {}{}", ZaduLpmLib::formatIpv4(route->prefix),
                                     route->length, route->unit,
                                     noAdjacency ? " (no adjacency)" : ""));
    }
  }
}

void Programmer::pump() {
  if (settings_.pumpEvery == 0 || accepted() % settings_.pumpEvery != 0) {
    return;
  }
  agent_.runUntilIdle();
  if (showProgress_ && stepOperations_ != 0) {
    std::uint64_t const done = accepted() - stepStart_;
    int const filled = static_cast<int>(30 * done / stepOperations_);
    std::fprintf(stderr, "\r%-12s [%-30s] %llu/%llu", stepName_, std::string(filled, '#').c_str(),
                 static_cast<unsigned long long>(done),
                 static_cast<unsigned long long>(stepOperations_));
  }
}

Vesk::Ptr<ZaduLpm::AdjacencyTable::EntryHandle> Programmer::handleOf(std::uint32_t nextHop) {
  auto& handle = handles_[nextHop];
  if (!handle || Zido::isFailure(handle->entryState())) {
    handle = adjacencies_.adjacencyWrite(nextHops_[nextHop]);  // again, once refused
  }
  return handle;
}

void Programmer::use(std::uint64_t route, std::uint32_t nextHop, Dependency const& change) {
  auto const [at, added] = routes_.try_emplace(route, nextHop);
  if (!added) {
    if (at->second == nextHop) {
      return;
    }
    release(at->second, change);
    at->second = nextHop;
  }
  ++users_[nextHop];
}

void Programmer::letGo(std::uint64_t route, Dependency const& change) {
  if (auto const at = routes_.find(route); at != routes_.end()) {
    release(at->second, change);
    routes_.erase(at);
  }
}

void Programmer::release(std::uint32_t nextHop, Dependency const& change) {
  --users_[nextHop];
  lastLetGo_[nextHop] = change;
}

}  // namespace ZaduAgent
