#include "agent/Routes.h"

#include "ZaduLpmLib/Ipv4Text.h"

#include <fmt/format.h>

#include <algorithm>
#include <charconv>
#include <fstream>
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

}  // namespace

std::uint16_t unitOf(std::uint32_t prefix, std::uint8_t length, std::uint16_t units) {
  return static_cast<std::uint16_t>(mix((std::uint64_t{prefix} << 8) | length) % units);
}

std::vector<Route> readRouteFile(std::string const& path, std::uint16_t units) {
  std::ifstream in(path);
  if (!in) {
    throw RouteFileError(fmt::format("{}: cannot be read", path));
  }
  std::vector<Route> routes;
  std::set<std::pair<std::uint16_t, std::uint64_t>> seen;
  std::string line;
  for (std::size_t number = 1; std::getline(in, line); ++number) {
    auto const fail = [&](std::string const& what) {
      throw RouteFileError(fmt::format("{}:{}: {}", path, number, what));
    };
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
      fail("expected \"A.B.C.D/LEN NEXTHOP [UNIT]\"");
    }
    std::size_t const slash = fields[0].find('/');
    Route route;
    unsigned length = 0;
    auto const prefix = slash == std::string::npos
                            ? std::nullopt
                            : ZaduLpmLib::parseIpv4(std::string_view(fields[0]).substr(0, slash));
    if (!prefix) {
      fail(fmt::format("'{}' is not a prefix A.B.C.D/LEN", fields[0]));
    }
    if (!parseNumber(std::string_view(fields[0]).substr(slash + 1), length) || length > 32) {
      fail(fmt::format("'{}': the prefix length must be 0 to 32", fields[0]));
    }
    route.prefix = *prefix;
    route.length = static_cast<std::uint8_t>(length);
    if ((route.prefix & ~ZaduLpmLib::prefixMaskOf(route.length)) != 0) {
      fail(fmt::format("'{}' has host bits set", fields[0]));
    }
    auto const nextHop = ZaduLpmLib::parseIpv4(fields[1]);
    if (!nextHop) {
      fail(fmt::format("'{}' is not a next-hop address", fields[1]));
    }
    route.nextHop = *nextHop;
    route.unit = unitOf(route.prefix, route.length, units);
    if (fields.size() == 3) {
      unsigned unit = 0;
      if (!parseNumber(std::string_view(fields[2]), unit) || unit >= units) {
        fail(fmt::format("unit '{}' is not one of 0 to {}", fields[2], units - 1));
      }
      route.unit = static_cast<std::uint16_t>(unit);
    }
    if (!seen.emplace(route.unit, (std::uint64_t{route.prefix} << 8) | route.length).second) {
      fail(fmt::format("{} is already on unit {}", fields[0], route.unit));
    }
    routes.push_back(route);
  }
  return routes;
}

std::vector<Route> generateRoutes(std::uint32_t count, std::uint16_t units, std::uint64_t seed) {
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
  std::vector<std::uint32_t> nextHops(300);
  for (std::uint32_t& nextHop : nextHops) {
    nextHop = (10u << 24) | static_cast<std::uint32_t>(random() & 0xFFFFFF);
  }
  std::vector<Route> routes;
  routes.reserve(count);
  std::set<std::pair<std::uint16_t, std::uint64_t>> seen;
  while (routes.size() < count) {
    Route route;
    route.length = lengthTable[random() % lengthTable.size()];
    // Public unicast space: first octet 1 to 223.
    auto const address =
        static_cast<std::uint32_t>(((1 + random() % 223) << 24) | (random() & 0xFFFFFF));
    route.prefix = address & ZaduLpmLib::prefixMaskOf(route.length);
    route.nextHop = nextHops[random() % nextHops.size()];
    route.unit = unitOf(route.prefix, route.length, units);
    if (seen.emplace(route.unit, (std::uint64_t{route.prefix} << 8) | route.length).second) {
      routes.push_back(route);
    }
  }
  return routes;
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

std::uint32_t rewrittenNextHop(Route const& route, std::vector<std::uint32_t> const& nextHops) {
  auto const at = std::lower_bound(nextHops.begin(), nextHops.end(), route.nextHop);
  auto const position = static_cast<std::size_t>(at - nextHops.begin());
  return nextHops[(position + 1) % nextHops.size()];
}

std::vector<Route> intendedRoutes(std::vector<Route> const& routes, Churn const& churn,
                                  std::vector<std::uint32_t> const& nextHops) {
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

std::vector<std::uint32_t> nextHopsOf(std::vector<Route> const& routes) {
  std::vector<std::uint32_t> nextHops;
  for (Route const& route : routes) {
    nextHops.push_back(route.nextHop);
  }
  std::sort(nextHops.begin(), nextHops.end());
  nextHops.erase(std::unique(nextHops.begin(), nextHops.end()), nextHops.end());
  return nextHops;
}

}  // namespace ZaduAgent
