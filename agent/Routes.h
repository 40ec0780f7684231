// ZaduAgent routes: the route set an agent programs, read from a route file
// or generated, and the churn applied to it.
//
// Route file: one route per line, "A.B.C.D/LEN NEXTHOP[,NEXTHOP...] [UNIT]";
// a NEXTHOP is an IPv4 gateway with an optional interface index,
// "A.B.C.D[@IFINDEX]" (index 0 when omitted), and several of them make an
// ECMP route (up to 64 paths); '#' starts a comment; blank lines are
// skipped. A route without a unit goes to the unit a hash of its prefix
// picks among `units`. The whole file is checked before anything is used:
// a malformed line, a prefix with host bits set, a length above 32, a bad
// next hop, a unit out of range, a prefix twice on a unit or a line longer
// than maxLineLength raises RouteFileError "file:line: what is wrong", which
// quotes at most a short excerpt of the line.
#pragma once

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "ZaduLpmLib/AdjacencyDataModel.h"

namespace ZaduAgent {

class RouteFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Route {
  std::uint32_t prefix = 0;
  std::uint8_t length = 0;
  std::uint32_t nextHop = 0;  // the next hop's id in its RouteSet
  std::uint16_t unit = 0;
};

// Routes and the distinct next hops they name, each next hop once, by id.
struct RouteSet {
  std::vector<Route> routes;
  std::vector<ZaduLpmLib::AdjacencyKey> nextHops;

  // The id of `nextHop`, added when new.
  std::uint32_t idOf(ZaduLpmLib::AdjacencyKey const& nextHop);

 private:
  std::map<ZaduLpmLib::AdjacencyKey, std::uint32_t> ids_;
};

inline constexpr std::size_t maxLineLength = 4096;

// The unit of a route without one.
std::uint16_t unitOf(std::uint32_t prefix, std::uint8_t length, std::uint16_t units);

RouteSet readRouteFile(std::string const& path, std::uint16_t units);

// `count` distinct routes over `units`, with prefix lengths distributed as in
// public IPv4 routing tables (mostly /24, then /22, /23, /20, /21, /16, /19,
// /18, a few /8 to /15 and /25 to /32) over 300 next hops of one path and 24
// ECMP groups of 2 to 8 paths (a tenth of the routes); the same for the
// same seed.
RouteSet generateRoutes(std::uint32_t count, std::uint16_t units, std::uint64_t seed);

// The churn, fixed by the seed: which routes get a new next hop (about a
// quarter) and which are removed (about a tenth).
struct Churn {
  std::vector<std::size_t> rewritten;
  std::vector<std::size_t> removed;
};
Churn planChurn(std::vector<Route> const& routes, std::uint64_t seed);
// The next hop a rewritten route gets: the next id among `nextHops`.
std::uint32_t rewrittenNextHop(Route const& route, std::size_t nextHops);

// The routes after the churn: rewritten next hops, removed routes gone.
std::vector<Route> intendedRoutes(std::vector<Route> const& routes, Churn const& churn,
                                  std::size_t nextHops);

}  // namespace ZaduAgent
