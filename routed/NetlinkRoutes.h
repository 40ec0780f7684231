// ZaduRouted netlink routes: decodes the rtnetlink messages a routing suite
// sends (over FPM) or the kernel reports (over a NETLINK_ROUTE socket) into
// route and next-hop changes, with libmnl walking messages and attributes.
//
//   RTM_NEWROUTE / RTM_DELROUTE      -> RouteMessage
//   RTM_NEWNEXTHOP / RTM_DELNEXTHOP  -> NextHopMessage
//   NLMSG_DONE, NLMSG_ERROR (not 0)  -> MessageSink::dumpEnded
//   RTM_NEWLINK (down), RTM_DELLINK,
//   RTM_DELADDR (IPv4)               -> MessageSink::interfaceLost
//
// What becomes a route: IPv4 routes of the main table of type unicast (its
// paths), blackhole, unreachable or prohibit (the drop next hop). Everything
// else is counted in DecodeCounts and skipped: other families (IPv6, MPLS),
// other tables (local among them), other route types (local, broadcast,
// multicast, anycast, ...) and IPv6 next-hop objects. A message whose
// lengths disagree, whose attributes do not fit, whose prefix is longer than
// 32 bits or has host bits set is malformed: counted, the reason kept in
// DecodeCounts::lastProblem, and skipped; the messages after it in the same
// buffer are decoded only while the netlink lengths still chain.
//
// Paths: a gateway with its interface index (RTA_GATEWAY, RTA_OIF), the
// paths of RTA_MULTIPATH, or a next-hop object (RTA_NH_ID) that the caller
// resolves. A connected route (an interface, no gateway) is the path
// 0.0.0.0@IFINDEX; the drop next hop is the one path 0.0.0.0@0.
//
// Thread safety: none needed; the functions keep no state of their own.
// Cost: no allocation for a route; a next-hop group allocates its members.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "ZaduLpmLib/AdjacencyDataModel.h"

namespace ZaduRouted {

// The path of the drop next hop: blackhole, unreachable and prohibit routes.
inline constexpr ZaduLpmLib::NextHopPath dropPath{0, 0};

struct RouteMessage {
  bool remove = false;
  std::uint32_t prefix = 0;  // host order
  std::uint8_t length = 0;
  std::uint32_t priority = 0;   // RTA_PRIORITY, the metric
  std::uint32_t nextHopId = 0;  // RTA_NH_ID; 0: the paths below
  std::uint32_t pathCount = 0;
  ZaduLpmLib::NextHopPath paths[ZaduLpmLib::AdjacencyKey::maxPaths] = {};

  std::span<ZaduLpmLib::NextHopPath const> pathSpan() const { return {paths, pathCount}; }
};

struct NextHopMessage {
  bool remove = false;
  std::uint32_t id = 0;
  ZaduLpmLib::NextHopPath path;      // a single next hop (dropPath for a blackhole)
  std::vector<std::uint32_t> group;  // a group: its members' ids instead of a path
};

// What the decoder met, by kind. Counters only grow.
struct DecodeCounts {
  std::uint64_t messages = 0;
  std::uint64_t routes = 0;
  std::uint64_t nextHops = 0;
  std::uint64_t otherFamily = 0;   // IPv6, MPLS, ... routes and next hops
  std::uint64_t otherTable = 0;    // local and every table but main
  std::uint64_t otherType = 0;     // local, broadcast, multicast, ... routes
  std::uint64_t otherMessage = 0;  // message types other than routes and next hops
  std::uint64_t unknownAttributes = 0;
  std::uint64_t malformed = 0;
  std::uint64_t dumpsEnded = 0;
  char const* lastProblem = "";  // the reason of the last malformed message

  std::uint64_t skipped() const noexcept { return otherFamily + otherTable + otherType; }
};

class MessageSink {
 public:
  virtual ~MessageSink() = default;
  virtual void routeChanged(RouteMessage const& route) = 0;
  virtual void nextHopChanged(NextHopMessage const& nextHop) = 0;
  // An interface went down or away, or lost an IPv4 address (RTM_NEWLINK
  // that clears IFF_UP, RTM_DELLINK, RTM_DELADDR): the kernel drops the
  // routes over it without a message for each.
  virtual void interfaceLost(std::uint32_t ifIndex) { (void)ifIndex; }
  // A dump ended (NLMSG_DONE), or a request failed (NLMSG_ERROR with an
  // error): the messages of a dump have all arrived.
  virtual void dumpEnded() {}
};

// Decodes the netlink messages in `bytes`, which must start 4-byte aligned.
// Returns false when the netlink lengths stop chaining before the end of
// `bytes` (the rest is not decoded; counted as malformed).
bool decodeNetlink(std::span<std::uint8_t const> bytes, MessageSink& sink, DecodeCounts& counts);

}  // namespace ZaduRouted
