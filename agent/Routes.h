// ZaduAgent routes: the route set an agent programs, read from a route file
// or generated, and the churn applied to it.
//
// Route file: one route per line, "A.B.C.D/LEN NEXTHOP [UNIT]"; NEXTHOP is an
// IPv4 address; '#' starts a comment; blank lines are skipped. A route
// without a unit goes to the unit a hash of its prefix picks among `units`.
// The whole file is checked before anything is used: a malformed line, a
// prefix with host bits set, a length above 32, a unit out of range or a
// prefix twice on a unit raises RouteFileError "file:line: what is wrong".
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace ZaduAgent {

class RouteFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Route {
  std::uint32_t prefix = 0;
  std::uint8_t length = 0;
  std::uint32_t nextHop = 0;  // IPv4 address
  std::uint16_t unit = 0;
};

// The unit of a route without one.
std::uint16_t unitOf(std::uint32_t prefix, std::uint8_t length, std::uint16_t units);

std::vector<Route> readRouteFile(std::string const& path, std::uint16_t units);

// `count` distinct routes over `units`, with prefix lengths distributed as in
// public IPv4 routing tables (mostly /24, then /22, /23, /20, /21, /16, /19,
// /18, a few /8 to /15 and /25 to /32) and a few hundred next hops; the same
// for the same seed.
std::vector<Route> generateRoutes(std::uint32_t count, std::uint16_t units, std::uint64_t seed);

// The churn, fixed by the seed: which routes get a new next hop (about a
// quarter) and which are removed (about a tenth).
struct Churn {
  std::vector<std::size_t> rewritten;
  std::vector<std::size_t> removed;
};
Churn planChurn(std::vector<Route> const& routes, std::uint64_t seed);
// The next hop a rewritten route gets: another of the set's next hops.
std::uint32_t rewrittenNextHop(Route const& route, std::vector<std::uint32_t> const& nextHops);

// The routes after the churn: rewritten next hops, removed routes gone.
std::vector<Route> intendedRoutes(std::vector<Route> const& routes, Churn const& churn,
                                  std::vector<std::uint32_t> const& nextHops);

// The distinct next hops of `routes` and of their rewrites, sorted: a next
// hop's adjacency index is its position here.
std::vector<std::uint32_t> nextHopsOf(std::vector<Route> const& routes);

}  // namespace ZaduAgent
