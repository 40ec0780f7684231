#include "routed/NetlinkRoutes.h"

#include <arpa/inet.h>
#include <libmnl/libmnl.h>
#include <linux/if_addr.h>
#include <linux/nexthop.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>

#include <cstring>

namespace ZaduRouted {
namespace {

// Reads a 32-bit attribute payload; false when it is not 4 bytes long.
bool readU32(nlattr const* attribute, std::uint32_t& value) {
  if (mnl_attr_get_payload_len(attribute) != sizeof(std::uint32_t)) {
    return false;
  }
  std::memcpy(&value, mnl_attr_get_payload(attribute), sizeof value);
  return true;
}

// Reads an IPv4 address attribute into host order.
bool readIpv4(nlattr const* attribute, std::uint32_t& address) {
  if (!readU32(attribute, address)) {
    return false;
  }
  address = ntohl(address);
  return true;
}

void countUnknown(nlattr const* attribute, std::uint16_t maxKnown, DecodeCounts& counts) {
  if (mnl_attr_type_valid(attribute, maxKnown) < 0) {
    ++counts.unknownAttributes;
  }
}

// Outcome of one message: decoded, skipped (counted by kind), or malformed.
struct Problem {
  char const* reason = nullptr;
};

// The paths of RTA_MULTIPATH: a run of rtnexthop, each followed by its own
// attributes (the gateway).
Problem readMultipath(nlattr const* attribute, RouteMessage& route, bool& otherFamily) {
  auto const* at = static_cast<std::uint8_t const*>(mnl_attr_get_payload(attribute));
  std::size_t left = mnl_attr_get_payload_len(attribute);
  while (left >= sizeof(rtnexthop)) {
    rtnexthop hop;
    std::memcpy(&hop, at, sizeof hop);
    if (hop.rtnh_len < sizeof(rtnexthop) || hop.rtnh_len > left) {
      return {"a multipath next hop's length does not fit"};
    }
    if (route.pathCount == ZaduLpmLib::AdjacencyKey::maxPaths) {
      return {"more than 64 paths"};
    }
    ZaduLpmLib::NextHopPath path{0, static_cast<std::uint32_t>(hop.rtnh_ifindex)};
    static_assert(RTNH_ALIGN(sizeof(rtnexthop)) == sizeof(rtnexthop));
    std::size_t const attributesSize = hop.rtnh_len - sizeof(rtnexthop);
    auto const* const attributes = at + sizeof(rtnexthop);
    std::size_t offset = 0;
    while (offset + sizeof(nlattr) <= attributesSize) {
      auto const* nested = reinterpret_cast<nlattr const*>(attributes + offset);
      if (!mnl_attr_ok(nested, static_cast<int>(attributesSize - offset))) {
        return {"a multipath attribute's length does not fit"};
      }
      if (mnl_attr_get_type(nested) == RTA_GATEWAY) {
        if (!readIpv4(nested, path.gateway)) {
          return {"a multipath gateway is not 4 bytes"};
        }
      } else if (mnl_attr_get_type(nested) == RTA_VIA) {
        otherFamily = true;
      }
      offset += MNL_ALIGN(nested->nla_len);
    }
    route.paths[route.pathCount++] = path;
    std::size_t const step = std::min<std::size_t>(RTNH_ALIGN(hop.rtnh_len), left);
    at += step;
    left -= step;
  }
  if (route.pathCount == 0) {
    return {"a multipath attribute with no next hop"};
  }
  return {};
}

// The attributes of a message after its `headerSize` bytes of family
// header: first(), then next() while fits().
nlattr const* firstAttribute(nlmsghdr const* message, std::size_t headerSize) {
  return static_cast<nlattr const*>(mnl_nlmsg_get_payload_offset(message, headerSize));
}
// The end of the message's own bytes (libmnl's tail is aligned up, past
// them when the length is not a multiple of 4).
char const* endOf(nlmsghdr const* message) {
  return reinterpret_cast<char const*>(message) + message->nlmsg_len;
}
bool attributeFits(nlmsghdr const* message, nlattr const* attr) {
  return mnl_attr_ok(attr, static_cast<int>(endOf(message) - reinterpret_cast<char const*>(attr)));
}
// Whether the walk reached the end, rather than stopping at an attribute
// whose length does not fit.
bool walkedToEnd(nlmsghdr const* message, nlattr const* attr) {
  return reinterpret_cast<char const*>(attr) >= endOf(message);
}

Problem decodeRoute(nlmsghdr const* message, MessageSink& sink, DecodeCounts& counts) {
  if (message->nlmsg_len < NLMSG_HDRLEN + sizeof(rtmsg)) {
    return {"a route message shorter than its header"};
  }
  rtmsg header;
  std::memcpy(&header, mnl_nlmsg_get_payload(message), sizeof header);
  if (header.rtm_family != AF_INET) {
    ++counts.otherFamily;
    return {};
  }
  RouteMessage route;
  route.remove = message->nlmsg_type == RTM_DELROUTE;
  if (header.rtm_dst_len > 32) {
    return {"a prefix longer than 32 bits"};
  }
  route.length = header.rtm_dst_len;
  std::uint32_t table = header.rtm_table;
  bool gateway = false;
  bool interface = false;
  bool multipath = false;
  bool otherFamily = false;
  ZaduLpmLib::NextHopPath single;
  nlattr const* attr = firstAttribute(message, sizeof(rtmsg));
  for (; attributeFits(message, attr); attr = mnl_attr_next(attr)) {
    switch (mnl_attr_get_type(attr)) {
      case RTA_DST:
        if (!readIpv4(attr, route.prefix)) {
          return {"a destination that is not 4 bytes"};
        }
        break;
      case RTA_TABLE:
        if (!readU32(attr, table)) {
          return {"a table attribute that is not 4 bytes"};
        }
        break;
      case RTA_PRIORITY:
        if (!readU32(attr, route.priority)) {
          return {"a priority that is not 4 bytes"};
        }
        break;
      case RTA_GATEWAY:
        if (!readIpv4(attr, single.gateway)) {
          return {"a gateway that is not 4 bytes"};
        }
        gateway = true;
        break;
      case RTA_VIA:
        otherFamily = true;
        break;
      case RTA_OIF:
        if (!readU32(attr, single.ifIndex)) {
          return {"an interface index that is not 4 bytes"};
        }
        interface = true;
        break;
      case RTA_MULTIPATH:
        if (Problem const problem = readMultipath(attr, route, otherFamily); problem.reason) {
          return problem;
        }
        multipath = true;
        break;
      case RTA_NH_ID:
        if (!readU32(attr, route.nextHopId) || route.nextHopId == 0) {
          return {"a next-hop id that is not 4 bytes or is 0"};
        }
        break;
      default:
        countUnknown(attr, RTA_MAX, counts);
        break;
    }
  }
  if (!walkedToEnd(message, attr)) {
    return {"an attribute whose length does not fit"};
  }
  if (table != RT_TABLE_MAIN) {
    ++counts.otherTable;
    return {};
  }
  std::uint32_t const hostMask = route.length == 32 ? 0 : ~std::uint32_t{0} >> route.length;
  if ((route.prefix & hostMask) != 0) {
    return {"a prefix with host bits set"};
  }
  // A delete needs no next hop, and zebra sends its deletes with type 0.
  switch (route.remove ? std::uint8_t{RTN_UNICAST} : header.rtm_type) {
    case RTN_UNICAST:
      if (otherFamily) {
        ++counts.otherFamily;  // an IPv6 gateway for an IPv4 route
        return {};
      }
      if (!route.remove && !multipath && route.nextHopId == 0) {
        if (!gateway && !interface) {
          return {"a unicast route with no next hop"};
        }
        route.paths[0] = single;
        route.pathCount = 1;
      }
      break;
    case RTN_BLACKHOLE:
    case RTN_UNREACHABLE:
    case RTN_PROHIBIT:
      route.nextHopId = 0;
      route.paths[0] = dropPath;
      route.pathCount = 1;
      break;
    default:
      ++counts.otherType;
      return {};
  }
  ++counts.routes;
  sink.routeChanged(route);
  return {};
}

Problem decodeNextHop(nlmsghdr const* message, MessageSink& sink, DecodeCounts& counts) {
  if (message->nlmsg_len < NLMSG_HDRLEN + sizeof(nhmsg)) {
    return {"a next-hop message shorter than its header"};
  }
  nhmsg header;
  std::memcpy(&header, mnl_nlmsg_get_payload(message), sizeof header);
  NextHopMessage nextHop;
  nextHop.remove = message->nlmsg_type == RTM_DELNEXTHOP;
  bool blackhole = false;
  bool hasGroup = false;
  bool fdb = false;
  nlattr const* attr = firstAttribute(message, sizeof(nhmsg));
  for (; attributeFits(message, attr); attr = mnl_attr_next(attr)) {
    switch (mnl_attr_get_type(attr)) {
      case NHA_ID:
        if (!readU32(attr, nextHop.id)) {
          return {"a next-hop id that is not 4 bytes"};
        }
        break;
      case NHA_GROUP: {
        std::size_t const size = mnl_attr_get_payload_len(attr);
        if (size == 0 || size % sizeof(nexthop_grp) != 0) {
          return {"a next-hop group whose size is not a multiple of its members"};
        }
        auto const* member = static_cast<std::uint8_t const*>(mnl_attr_get_payload(attr));
        for (std::size_t at = 0; at < size; at += sizeof(nexthop_grp)) {
          nexthop_grp entry;
          std::memcpy(&entry, member + at, sizeof entry);
          nextHop.group.push_back(entry.id);
        }
        hasGroup = true;
        break;
      }
      case NHA_BLACKHOLE:
        blackhole = true;
        break;
      case NHA_OIF:
        if (!readU32(attr, nextHop.path.ifIndex)) {
          return {"an interface index that is not 4 bytes"};
        }
        break;
      case NHA_GATEWAY:
        if (header.nh_family != AF_INET) {
          ++counts.otherFamily;
          return {};
        }
        if (!readIpv4(attr, nextHop.path.gateway)) {
          return {"a gateway that is not 4 bytes"};
        }
        break;
      case NHA_FDB:
        fdb = true;
        break;
      default:
        countUnknown(attr, NHA_MAX, counts);
        break;
    }
  }
  if (!walkedToEnd(message, attr)) {
    return {"an attribute whose length does not fit"};
  }
  if (nextHop.id == 0) {
    return {"a next hop without an id"};
  }
  if (!nextHop.remove) {
    if (fdb) {
      ++counts.otherType;
      return {};
    }
    if (blackhole) {
      nextHop.path = dropPath;
    } else if (!hasGroup && header.nh_family != AF_INET) {
      ++counts.otherFamily;  // an IPv6 next hop
      return {};
    }
  }
  ++counts.nextHops;
  sink.nextHopChanged(nextHop);
  return {};
}

}  // namespace

bool decodeNetlink(std::span<std::uint8_t const> bytes, MessageSink& sink, DecodeCounts& counts) {
  int left = static_cast<int>(bytes.size());
  auto const* message = reinterpret_cast<nlmsghdr const*>(bytes.data());
  while (left > 0) {
    // mnl_nlmsg_ok compares the length as a signed int: a length of 2^31 or
    // more passes it and then aligns to 0, so it is checked unsigned first.
    if (static_cast<std::size_t>(left) < sizeof(nlmsghdr) ||
        message->nlmsg_len > static_cast<std::uint32_t>(left) || !mnl_nlmsg_ok(message, left)) {
      ++counts.malformed;
      counts.lastProblem = "a netlink length that disagrees with the bytes around it";
      return false;
    }
    ++counts.messages;
    Problem problem;
    switch (message->nlmsg_type) {
      case RTM_NEWROUTE:
      case RTM_DELROUTE:
        problem = decodeRoute(message, sink, counts);
        break;
      case RTM_NEWNEXTHOP:
      case RTM_DELNEXTHOP:
        problem = decodeNextHop(message, sink, counts);
        break;
      case RTM_NEWLINK:
      case RTM_DELLINK: {
        if (message->nlmsg_len < NLMSG_HDRLEN + sizeof(ifinfomsg)) {
          problem = {"a link message shorter than its header"};
          break;
        }
        ifinfomsg link;
        std::memcpy(&link, mnl_nlmsg_get_payload(message), sizeof link);
        // ifi_change names the flags a notification changed: only a link
        // that has just gone down counts.
        if (message->nlmsg_type == RTM_DELLINK ||
            ((link.ifi_change & IFF_UP) != 0 && (link.ifi_flags & IFF_UP) == 0)) {
          sink.interfaceLost(static_cast<std::uint32_t>(link.ifi_index));
        }
        break;
      }
      case RTM_DELADDR: {
        if (message->nlmsg_len < NLMSG_HDRLEN + sizeof(ifaddrmsg)) {
          problem = {"an address message shorter than its header"};
          break;
        }
        ifaddrmsg address;
        std::memcpy(&address, mnl_nlmsg_get_payload(message), sizeof address);
        if (address.ifa_family == AF_INET) {
          sink.interfaceLost(address.ifa_index);
        }
        break;
      }
      case NLMSG_DONE:
        ++counts.dumpsEnded;
        sink.dumpEnded();
        break;
      case NLMSG_ERROR: {
        nlmsgerr error;
        if (message->nlmsg_len < NLMSG_HDRLEN + sizeof error) {
          problem = {"an error message shorter than its header"};
          break;
        }
        std::memcpy(&error, mnl_nlmsg_get_payload(message), sizeof error);
        if (error.error != 0) {
          ++counts.dumpsEnded;
          sink.dumpEnded();
        }
        break;
      }
      default:
        ++counts.otherMessage;
        break;
    }
    if (problem.reason != nullptr) {
      ++counts.malformed;
      counts.lastProblem = problem.reason;
    }
    message = mnl_nlmsg_next(message, &left);
  }
  return true;
}

}  // namespace ZaduRouted
