#include "agent/Routes.h"

#include "ZaduLpmLib/Ipv4Text.h"

#include <fmt/format.h>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <utility>

namespace ZaduAgent {

namespace {

std::uint64_t mix(std::uint64_t value) {
  value ^= value >> 33;
  value *= 0xff51afd7ed558ccdULL;
  value ^= value >> 33;
  value *= 0xc4ceb9fe1a85ec53ULL;
  return value ^ (value >> 33);
}

template <class Number>
bool parseNumber(std::string_view text, Number& value) {
  auto const [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size();
}

// At most 40 characters of what a user wrote, for an error line.
std::string excerpt(std::string_view text) {
  constexpr std::size_t shown = 40;
  return text.size() <= shown ? std::string(text) : fmt::format("{}...", text.substr(0, shown));
}

// "A.B.C.D[@IFINDEX][,...]"; the reason when it is not one.
ZaduLpmLib::AdjacencyKey parseNextHop(std::string_view text,
                                      std::function<void(std::string const&)> const& fail) {
  std::vector<ZaduLpmLib::NextHopPath> paths;
  while (true) {
    std::size_t const comma = text.find(',');
    std::string_view const path = text.substr(0, comma);
    std::size_t const at = path.find('@');
    auto const gateway = ZaduLpmLib::parseIpv4(path.substr(0, at));
    std::uint32_t ifIndex = 0;
    if (!gateway || (at != std::string_view::npos && !parseNumber(path.substr(at + 1), ifIndex))) {
      fail(fmt::format("'{}' is not a next hop A.B.C.D[@IFINDEX]", excerpt(path)));
    }
    paths.push_back({*gateway, ifIndex});
    if (paths.size() > ZaduLpmLib::AdjacencyKey::maxPaths) {
      fail(fmt::format("an ECMP route has at most {} next hops",
                       ZaduLpmLib::AdjacencyKey::maxPaths));
    }
    if (comma == std::string_view::npos) {
      break;
    }
    text.remove_prefix(comma + 1);
  }
  try {
    return ZaduLpmLib::AdjacencyKey::of(paths);
  } catch (ZaduLpmLib::AdjacencyKeyError const& error) {
    fail(error.what());
  }
  return {};
}

}  // namespace

std::uint32_t RouteSet::idOf(ZaduLpmLib::AdjacencyKey const& nextHop) {
  auto const [at, added] = ids_.try_emplace(nextHop, static_cast<std::uint32_t>(nextHops.size()));
  if (added) {
    nextHops.push_back(nextHop);
  }
  return at->second;
}

std::uint16_t unitOf(std::uint32_t prefix, std::uint8_t length, std::uint16_t units) {
  return static_cast<std::uint16_t>(mix((std::uint64_t{prefix} << 8) | length) % units);
}

RouteSet readRouteFile(std::string const& path, std::uint16_t units) {
  std::ifstream in(path);
  if (!in) {
    throw RouteFileError(fmt::format("{}: cannot be read", path));
  }
  RouteSet set;
  std::set<std::pair<std::uint16_t, std::uint64_t>> seen;
  std::vector<char> buffer(maxLineLength + 1);
  for (std::size_t number = 1;; ++number) {
    auto const fail = [&](std::string const& what) {
      throw RouteFileError(fmt::format("{}:{}: {}", path, number, what));
    };
    // A line is read into a bounded buffer: a huge line is refused, never
    // held whole.
    in.getline(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    if (in.fail()) {
      if (in.gcount() == 0 && in.eof()) {
        break;
      }
      fail(fmt::format("the line is longer than {} characters", maxLineLength));
    }
    // gcount counts the newline it took, unless the file ended the line.
    auto const taken = static_cast<std::size_t>(in.gcount());
    std::string line(buffer.data(), in.eof() ? taken : taken - 1);
    if (auto const comment = line.find('#'); comment != std::string::npos) {
      line.erase(comment);
    }
    std::istringstream words(line);
    std::vector<std::string> fields;
    for (std::string word; words >> word;) {
      fields.push_back(word);
    }
    if (fields.empty()) {
      continue;
    }
    if (fields.size() < 2 || fields.size() > 3) {
      fail("expected \"A.B.C.D/LEN NEXTHOP[,NEXTHOP...] [UNIT]\"");
    }
    std::size_t const slash = fields[0].find('/');
    Route route;
    unsigned length = 0;
    auto const prefix = slash == std::string::npos
                            ? std::nullopt
                            : ZaduLpmLib::parseIpv4(std::string_view(fields[0]).substr(0, slash));
    if (!prefix) {
      fail(fmt::format("'{}' is not a prefix A.B.C.D/LEN", excerpt(fields[0])));
    }
    if (!parseNumber(std::string_view(fields[0]).substr(slash + 1), length) || length > 32) {
      fail(fmt::format("'{}': the prefix length must be 0 to 32", excerpt(fields[0])));
    }
    route.prefix = *prefix;
    route.length = static_cast<std::uint8_t>(length);
    if ((route.prefix & ~ZaduLpmLib::prefixMaskOf(route.length)) != 0) {
      fail(fmt::format("'{}' has host bits set", fields[0]));
    }
    route.nextHop = set.idOf(parseNextHop(fields[1], fail));
    route.unit = unitOf(route.prefix, route.length, units);
    if (fields.size() == 3) {
      unsigned unit = 0;
      if (!parseNumber(std::string_view(fields[2]), unit) || unit >= units) {
        fail(fmt::format("unit '{}' is not one of 0 to {}", excerpt(fields[2]), units - 1));
      }
      route.unit = static_cast<std::uint16_t>(unit);
    }
    if (!seen.emplace(route.unit, (std::uint64_t{route.prefix} << 8) | route.length).second) {
      fail(fmt::format("{} is already on unit {}", fields[0], route.unit));
    }
    set.routes.push_back(route);
  }
  return set;
}

RouteSet generateRoutes(std::uint32_t count, std::uint16_t units, std::uint64_t seed) {
  // Share of each prefix length, in parts per thousand.
  static constexpr std::pair<std::uint8_t, int> lengths[] = {
      {24, 600}, {22, 100}, {23, 90}, {20, 50}, {21, 50}, {16, 30}, {19, 30}, {18, 20},
      {17, 10},  {8, 1},    {12, 2},  {13, 2},  {14, 3},  {15, 2},  {25, 3},  {26, 2},
      {27, 1},   {28, 1},   {29, 1},  {30, 1},  {31, 0},  {32, 1}};
  std::vector<std::uint8_t> lengthTable;
  for (auto const& [length, share] : lengths) {
    lengthTable.insert(lengthTable.end(), static_cast<std::size_t>(share), length);
  }
  std::mt19937_64 random(seed);
  RouteSet set;
  std::vector<ZaduLpmLib::NextHopPath> paths;
  while (set.nextHops.size() < 300) {
    ZaduLpmLib::NextHopPath const path{
        (10u << 24) | static_cast<std::uint32_t>(random() & 0xFFFFFF),
        static_cast<std::uint32_t>(1 + random() % 48)};
    if (set.idOf(ZaduLpmLib::AdjacencyKey::of(path)) == paths.size()) {
      paths.push_back(path);
    }
  }
  std::size_t const singlePaths = paths.size();
  while (set.nextHops.size() < singlePaths + 24) {
    std::vector<ZaduLpmLib::NextHopPath> group;
    std::size_t const width = 2 + random() % 7;
    while (group.size() < width) {
      ZaduLpmLib::NextHopPath const path = paths[random() % paths.size()];
      if (std::find(group.begin(), group.end(), path) == group.end()) {
        group.push_back(path);
      }
    }
    set.idOf(ZaduLpmLib::AdjacencyKey::of(group));
  }
  std::vector<Route>& routes = set.routes;
  routes.reserve(count);
  std::set<std::pair<std::uint16_t, std::uint64_t>> seen;
  while (routes.size() < count) {
    Route route;
    route.length = lengthTable[random() % lengthTable.size()];
    // Public unicast space: first octet 1 to 223.
    auto const address =
        static_cast<std::uint32_t>(((1 + random() % 223) << 24) | (random() & 0xFFFFFF));
    route.prefix = address & ZaduLpmLib::prefixMaskOf(route.length);
    route.nextHop = static_cast<std::uint32_t>(
        random() % 10 == 0 ? singlePaths + random() % (set.nextHops.size() - singlePaths)
                           : random() % singlePaths);
    route.unit = unitOf(route.prefix, route.length, units);
    if (seen.emplace(route.unit, (std::uint64_t{route.prefix} << 8) | route.length).second) {
      routes.push_back(route);
    }
  }
  return set;
}

Churn planChurn(std::vector<Route> const& routes, std::uint64_t seed) {
  Churn churn;
  for (std::size_t index = 0; index < routes.size(); ++index) {
    std::uint64_t const draw = mix(seed * 0x9E3779B97F4A7C15ULL + index);
    if (draw % 4 == 0) {
      churn.rewritten.push_back(index);
    } else if (draw % 10 == 1) {
      churn.removed.push_back(index);
    }
  }
  return churn;
}

std::uint32_t rewrittenNextHop(Route const& route, std::size_t nextHops) {
  return static_cast<std::uint32_t>((route.nextHop + 1) % nextHops);
}

std::vector<Route> intendedRoutes(std::vector<Route> const& routes, Churn const& churn,
                                  std::size_t nextHops) {
  std::vector<Route> intended = routes;
  for (std::size_t index : churn.rewritten) {
    intended[index].nextHop = rewrittenNextHop(routes[index], nextHops);
  }
  std::vector<bool> gone(routes.size());
  for (std::size_t index : churn.removed) {
    gone[index] = true;
  }
  std::vector<Route> kept;
  for (std::size_t index = 0; index < intended.size(); ++index) {
    if (!gone[index]) {
      kept.push_back(intended[index]);
    }
  }
  return kept;
}

}  // namespace ZaduAgent
