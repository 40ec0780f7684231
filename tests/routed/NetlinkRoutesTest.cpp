// The FPM stream and netlink decoder against frames the real zebra sent
// (tests/routed/data, recorded by record.sh there) and against hand-built
// messages that break one rule each.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <libmnl/libmnl.h>
#include <linux/nexthop.h>
#include <linux/rtnetlink.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "routed/FpmStream.h"

namespace ZaduRouted {
namespace {

using ZaduLpmLib::NextHopPath;

std::vector<std::uint8_t> recorded(char const* name) {
  std::ifstream file(std::string(ROUTED_TEST_DATA) + "/" + name, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::uint32_t ip(char const* text) {
  in_addr address{};
  inet_pton(AF_INET, text, &address);
  return ntohl(address.s_addr);
}

// Every message as one line.
struct Recorder : MessageSink {
  std::vector<std::string> lines;
  int dumpsEnded = 0;

  void routeChanged(RouteMessage const& route) override {
    std::string line =
        fmt::format("{} {:08x}/{}", route.remove ? "del" : "route", route.prefix, route.length);
    if (route.nextHopId != 0) {
      line += fmt::format(" nh {}", route.nextHopId);
    }
    for (NextHopPath const& path : route.pathSpan()) {
      line += fmt::format(" {:08x}@{}", path.gateway, path.ifIndex);
    }
    lines.push_back(line);
  }
  void nextHopChanged(NextHopMessage const& nextHop) override {
    std::string line = fmt::format("{} {}", nextHop.remove ? "delnh" : "nh", nextHop.id);
    if (nextHop.group.empty()) {
      line += fmt::format(" {:08x}@{}", nextHop.path.gateway, nextHop.path.ifIndex);
    }
    for (std::uint32_t member : nextHop.group) {
      line += fmt::format(" +{}", member);
    }
    lines.push_back(line);
  }
  void dumpEnded() override { ++dumpsEnded; }
};

TEST(FpmStreamTest, DecodesWhatZebraSentWhateverTheReadsCutIt) {
  std::vector<std::uint8_t> const bytes = recorded("changes.fpm");
  ASSERT_EQ(bytes.size(), 1368u);
  Recorder whole;
  DecodeCounts wholeCounts;
  FpmStream stream;
  ASSERT_TRUE(stream.feed(bytes, whole, wholeCounts));
  EXPECT_EQ(stream.frameCounts().frames, 25u);
  EXPECT_EQ(stream.partial(), 0u);
  // The group arrives before its members; an IPv6 next hop and route are
  // skipped; a change is a delete and a new route in one frame; deletes
  // come with route type 0.
  std::vector<std::string> const expected = {"nh 16 +14 +15 +17",
                                             "nh 17 0a010009@2",
                                             "nh 3 00000000@2",
                                             "nh 4 0a010005@2",
                                             "nh 12 00000000@0",
                                             "nh 13 00000000@0",
                                             "nh 14 0a010007@2",
                                             "nh 15 0a010008@2",
                                             "route 0a010000/16 nh 3",
                                             "route 0a140000/16 nh 14",
                                             "route 0a150100/24 nh 15",
                                             "route 0a1e0000/16 nh 16",
                                             "route 0a4d0000/16 nh 4",
                                             "route 0a620000/16 00000000@0",
                                             "route 0a630000/16 00000000@0",
                                             "route c0000200/24 nh 17",
                                             "nh 23 0a01000a@2",
                                             "del 0a150100/24",
                                             "route 0a150100/24 nh 23",
                                             "del c0000200/24",
                                             "nh 27 +14 +15",
                                             "del 0a1e0000/16",
                                             "route 0a1e0000/16 nh 27",
                                             "delnh 16 00000000@0",
                                             "delnh 17 00000000@0"};
  EXPECT_EQ(whole.lines, expected);
  EXPECT_EQ(wholeCounts.otherFamily, 2u);
  EXPECT_EQ(wholeCounts.malformed, 0u);

  // Cut into reads of every size from 1 to 97 bytes: the same messages.
  for (std::size_t cut = 1; cut < 98; cut += 8) {
    Recorder pieces;
    DecodeCounts counts;
    FpmStream split;
    for (std::size_t at = 0; at < bytes.size(); at += cut) {
      std::size_t const size = std::min(cut, bytes.size() - at);
      ASSERT_TRUE(split.feed({bytes.data() + at, size}, pieces, counts));
    }
    EXPECT_EQ(pieces.lines, expected) << "reads of " << cut << " bytes";
  }
}

TEST(FpmStreamTest, RoutesWithTheirOwnGateways) {
  Recorder recorder;
  DecodeCounts counts;
  FpmStream stream;
  ASSERT_TRUE(stream.feed(recorded("replay-no-nhg.fpm"), recorder, counts));
  std::vector<std::string> const expected = {
      "route 0a010000/16 00000000@2", "route 0a140000/16 0a010007@2",
      "route 0a150100/24 0a01000a@2", "route 0a1e0000/16 0a010007@2 0a010008@2",
      "route 0a4d0000/16 0a010005@2", "route 0a620000/16 00000000@0",
      "route 0a630000/16 00000000@0"};
  EXPECT_EQ(recorder.lines, expected);
}

TEST(FpmStreamTest, LostFramingEndsTheStream) {
  Recorder recorder;
  std::vector<std::uint8_t> const good = recorded("static-routes.fpm");
  struct Case {
    char const* what;
    std::vector<std::uint8_t> header;
  };
  for (Case const& broken : {Case{"version 2", {2, 1, 0, 8}}, Case{"length 3", {1, 1, 0, 3}},
                             Case{"length 0", {1, 1, 0, 0}}}) {
    DecodeCounts counts;
    FpmStream stream;
    std::vector<std::uint8_t> bytes(good.begin(), good.begin() + 64);  // one whole frame
    bytes.insert(bytes.end(), broken.header.begin(), broken.header.end());
    bytes.resize(bytes.size() + 8);
    EXPECT_FALSE(stream.feed(bytes, recorder, counts)) << broken.what;
    EXPECT_EQ(stream.frameCounts().frames, 1u) << broken.what;
    EXPECT_STRNE(stream.problem(), "") << broken.what;
  }
  // Another frame type is skipped whole; the stream goes on after it.
  DecodeCounts counts;
  FpmStream stream;
  std::vector<std::uint8_t> bytes = {1, 2, 0, 6, 0xff, 0xff};
  bytes.insert(bytes.end(), good.begin(), good.begin() + 64);
  Recorder after;
  EXPECT_TRUE(stream.feed(bytes, after, counts));
  EXPECT_EQ(stream.frameCounts().otherType, 1u);
  EXPECT_EQ(after.lines, std::vector<std::string>{"nh 16 +14 +15 +17"});
}

// Builds one netlink route message with libmnl, as the kernel would.
class RouteBuilder {
 public:
  explicit RouteBuilder(std::uint16_t type = RTM_NEWROUTE) {
    header_ = mnl_nlmsg_put_header(buffer_);
    header_->nlmsg_type = type;
    route_ = static_cast<rtmsg*>(mnl_nlmsg_put_extra_header(header_, sizeof(rtmsg)));
    route_->rtm_family = AF_INET;
    route_->rtm_table = RT_TABLE_MAIN;
    route_->rtm_type = RTN_UNICAST;
  }
  rtmsg& route() { return *route_; }
  nlmsghdr& header() { return *header_; }
  RouteBuilder& destination(char const* address, std::uint8_t length) {
    route_->rtm_dst_len = length;
    mnl_attr_put_u32(header_, RTA_DST, htonl(ip(address)));
    return *this;
  }
  RouteBuilder& gateway(char const* address, std::uint32_t ifIndex) {
    mnl_attr_put_u32(header_, RTA_GATEWAY, htonl(ip(address)));
    mnl_attr_put_u32(header_, RTA_OIF, ifIndex);
    return *this;
  }
  std::vector<std::uint8_t> bytes() const {
    auto const* first = reinterpret_cast<std::uint8_t const*>(header_);
    return {first, first + header_->nlmsg_len};
  }

 private:
  alignas(8) char buffer_[8192] = {};
  nlmsghdr* header_;
  rtmsg* route_;
};

DecodeCounts decode(std::vector<std::uint8_t> const& bytes, Recorder& recorder) {
  alignas(8) std::uint8_t aligned[4096];
  std::copy(bytes.begin(), bytes.end(), aligned);
  DecodeCounts counts;
  decodeNetlink({aligned, bytes.size()}, recorder, counts);
  return counts;
}

TEST(NetlinkRoutesTest, MalformedMessagesAreCountedAndSkipped) {
  Recorder recorder;
  RouteBuilder longPrefix;
  longPrefix.destination("10.0.0.0", 33).gateway("10.1.0.1", 2);
  EXPECT_EQ(decode(longPrefix.bytes(), recorder).malformed, 1u);

  RouteBuilder hostBits;
  hostBits.destination("10.0.0.1", 24).gateway("10.1.0.1", 2);
  EXPECT_STREQ(decode(hostBits.bytes(), recorder).lastProblem, "a prefix with host bits set");

  RouteBuilder noNextHop;
  noNextHop.destination("10.0.0.0", 24);
  EXPECT_EQ(decode(noNextHop.bytes(), recorder).malformed, 1u);

  RouteBuilder shortGateway;
  shortGateway.destination("10.0.0.0", 24);
  mnl_attr_put_u16(&shortGateway.header(), RTA_GATEWAY, 7);
  EXPECT_EQ(decode(shortGateway.bytes(), recorder).malformed, 1u);

  // An attribute that claims more bytes than the message holds.
  RouteBuilder overlong;
  overlong.destination("10.0.0.0", 24).gateway("10.1.0.1", 2);
  std::vector<std::uint8_t> bytes = overlong.bytes();
  bytes[sizeof(nlmsghdr) + sizeof(rtmsg)] = 200;
  EXPECT_STREQ(decode(bytes, recorder).lastProblem, "an attribute whose length does not fit");

  // A message length past the buffer, or so large that aligning it wraps
  // to 0: the walk stops there.
  for (std::uint32_t length : {static_cast<std::uint32_t>(bytes.size() + 4), 0xffffffffu}) {
    bytes = overlong.bytes();
    std::memcpy(bytes.data(), &length, sizeof length);
    Recorder none;
    EXPECT_EQ(decode(bytes, none).malformed, 1u);
    EXPECT_TRUE(none.lines.empty());
  }
  EXPECT_TRUE(recorder.lines.empty());
}

TEST(NetlinkRoutesTest, SkipsWhatIsNotAnIpv4MainTableRoute) {
  Recorder recorder;
  RouteBuilder local;
  local.destination("10.0.0.1", 32).gateway("0.0.0.0", 2);
  local.route().rtm_table = RT_TABLE_LOCAL;
  local.route().rtm_type = RTN_LOCAL;
  EXPECT_EQ(decode(local.bytes(), recorder).otherTable, 1u);

  RouteBuilder broadcast;
  broadcast.destination("10.0.0.255", 32).gateway("0.0.0.0", 2);
  broadcast.route().rtm_type = RTN_BROADCAST;
  EXPECT_EQ(decode(broadcast.bytes(), recorder).otherType, 1u);

  RouteBuilder mpls;
  mpls.route().rtm_family = AF_MPLS;
  EXPECT_EQ(decode(mpls.bytes(), recorder).otherFamily, 1u);

  RouteBuilder unknown;
  unknown.destination("10.0.0.0", 8).gateway("10.1.0.1", 2);
  mnl_attr_put_u32(&unknown.header(), 200, 1);
  DecodeCounts const counts = decode(unknown.bytes(), recorder);
  EXPECT_EQ(counts.unknownAttributes, 1u);
  EXPECT_EQ(recorder.lines, std::vector<std::string>{"route 0a000000/8 0a010001@2"});

  RouteBuilder done(NLMSG_DONE);
  decode(done.bytes(), recorder);
  EXPECT_EQ(recorder.dumpsEnded, 1);
}

}  // namespace
}  // namespace ZaduRouted
