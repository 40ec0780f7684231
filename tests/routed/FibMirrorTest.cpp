// The FIB mirror: what reaches the target from zebra's recorded streams,
// mark and sweep across a reconnection, next-hop objects that come late,
// change or go, and the kernel's metrics.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "ZaduLpmLib/Ipv4Text.h"
#include "routed/FibMirror.h"
#include "routed/FpmStream.h"

namespace ZaduRouted {
namespace {

// Holds what the mirror installed, as "prefix/length" -> next hop text, and
// counts the calls.
struct Table : FibMirror::Target {
  std::map<std::string, std::string> routes;
  int installs = 0;
  int withdraws = 0;

  static std::string name(Prefix prefix) {
    return fmt::format("{}/{}", ZaduLpmLib::formatIpv4(prefix.address), prefix.length);
  }
  void install(Prefix prefix, ZaduLpmLib::AdjacencyKey const& nextHop) override {
    routes[name(prefix)] = fmt::format("{}", nextHop);
    ++installs;
  }
  void withdraw(Prefix prefix) override {
    routes.erase(name(prefix));
    ++withdraws;
  }
};

// Feeds a recorded stream to the mirror.
struct Feeder : MessageSink {
  explicit Feeder(FibMirror& mirror) : mirror(mirror) {}
  void routeChanged(RouteMessage const& route) override { mirror.apply(route); }
  void nextHopChanged(NextHopMessage const& nextHop) override { mirror.apply(nextHop); }
  void play(char const* name) {
    std::ifstream file(std::string(ROUTED_TEST_DATA) + "/" + name, std::ios::binary);
    std::vector<std::uint8_t> const bytes{std::istreambuf_iterator<char>(file),
                                          std::istreambuf_iterator<char>()};
    FpmStream stream;
    DecodeCounts counts;
    ASSERT_TRUE(stream.feed(bytes, *this, counts));
  }
  FibMirror& mirror;
};

std::map<std::string, std::string> const afterChanges = {
    {"10.1.0.0/16", "0.0.0.0@2"},    {"10.20.0.0/16", "10.1.0.7@2"},
    {"10.21.1.0/24", "10.1.0.10@2"}, {"10.30.0.0/16", "10.1.0.7@2,10.1.0.8@2"},
    {"10.77.0.0/16", "10.1.0.5@2"},  {"10.98.0.0/16", "0.0.0.0@0"},
    {"10.99.0.0/16", "0.0.0.0@0"}};

TEST(FibMirrorTest, FollowsZebrasChanges) {
  Table table;
  FibMirror mirror(table, false, {});
  Feeder feeder(mirror);
  feeder.play("static-routes.fpm");
  EXPECT_EQ(table.routes["10.30.0.0/16"], "10.1.0.7@2,10.1.0.8@2,10.1.0.9@2");  // the group
  EXPECT_EQ(table.routes["192.0.2.0/24"], "10.1.0.9@2");
  EXPECT_EQ(table.routes.size(), 8u);
  feeder.play("changes.fpm");
  EXPECT_EQ(table.routes, afterChanges);
  EXPECT_EQ(mirror.counts().unresolved, 0u);
}

TEST(FibMirrorTest, AReplaySweepsOnlyWhatItDidNotRefresh) {
  Table table;
  FibMirror mirror(table, false, {});
  Feeder feeder(mirror);
  feeder.play("static-routes.fpm");
  // A restarted daemon learns from its tables a route zebra no longer has.
  mirror.learn({ZaduLpmLib::parseIpv4("172.16.0.0").value(), 12},
               ZaduLpmLib::AdjacencyKey::of({1, 2}));
  mirror.beginResync();
  feeder.play("replay.fpm");
  EXPECT_EQ(mirror.routes(), 9u);  // refreshed 7, and 192.0.2.0/24 and 172.16.0.0/12 not
  int const withdrawsBefore = table.withdraws;
  EXPECT_EQ(mirror.sweep(), 2u);
  EXPECT_EQ(table.withdraws, withdrawsBefore + 2);  // the learned one is in the tables too
  EXPECT_EQ(table.routes, afterChanges);
  EXPECT_EQ(mirror.sweep(), 0u);
}

NextHopMessage single(std::uint32_t id, std::uint32_t gateway, bool remove = false) {
  NextHopMessage message;
  message.id = id;
  message.path = {gateway, 2};
  message.remove = remove;
  return message;
}

RouteMessage routeVia(std::uint32_t prefix, std::uint32_t nextHopId, std::uint32_t priority = 0,
                      bool remove = false) {
  RouteMessage message;
  message.prefix = prefix;
  message.length = 24;
  message.nextHopId = nextHopId;
  message.priority = priority;
  message.remove = remove;
  return message;
}

TEST(FibMirrorTest, NextHopObjectsThatComeLateChangeOrGo) {
  Table table;
  FibMirror mirror(table, false, {});
  mirror.apply(routeVia(0x0a000000, 7));  // its object is not known yet
  EXPECT_TRUE(table.routes.empty());
  EXPECT_EQ(mirror.counts().unresolved, 1u);
  mirror.apply(single(7, 0x0b000001));
  EXPECT_EQ(table.routes["10.0.0.0/24"], "11.0.0.1@2");

  NextHopMessage group;
  group.id = 9;
  group.group = {7, 8};
  mirror.apply(group);
  mirror.apply(routeVia(0x0a000100, 9));
  EXPECT_FALSE(table.routes.contains("10.0.1.0/24"));  // member 8 is missing
  mirror.apply(single(8, 0x0b000002));
  EXPECT_EQ(table.routes["10.0.1.0/24"], "11.0.0.1@2,11.0.0.2@2");

  // The same object again changes nothing; a replaced one moves its routes
  // and those of its groups.
  int const installs = table.installs;
  mirror.apply(single(7, 0x0b000001));
  EXPECT_EQ(table.installs, installs);
  mirror.apply(single(7, 0x0b000003));
  EXPECT_EQ(table.routes["10.0.0.0/24"], "11.0.0.3@2");
  EXPECT_EQ(table.routes["10.0.1.0/24"], "11.0.0.2@2,11.0.0.3@2");

  // A removed object takes its routes along; its groups no longer resolve.
  mirror.apply(single(7, 0, true));
  EXPECT_TRUE(table.routes.empty());
  EXPECT_EQ(mirror.routes(), 1u);  // the group's route waits for its member
}

TEST(FibMirrorTest, TheKernelsMetricsDecideWhichRouteOfAPrefixHolds) {
  Table table;
  FibMirror mirror(table, true, {});
  mirror.apply(single(1, 0x0b000001));
  mirror.apply(single(2, 0x0b000002));
  mirror.apply(single(3, 0x0b000003));
  mirror.apply(routeVia(0x0a000000, 1, 100));
  mirror.apply(routeVia(0x0a000000, 2, 200));  // worse: kept aside
  EXPECT_EQ(table.routes["10.0.0.0/24"], "11.0.0.1@2");
  mirror.apply(routeVia(0x0a000000, 3, 50));  // better: takes over
  EXPECT_EQ(table.routes["10.0.0.0/24"], "11.0.0.3@2");
  mirror.apply(routeVia(0x0a000000, 0, 200, true));  // a route aside goes quietly
  EXPECT_EQ(table.routes["10.0.0.0/24"], "11.0.0.3@2");
  // The best goes: the next best forwards, as in the kernel's lookup.
  mirror.apply(routeVia(0x0a000000, 0, 50, true));
  EXPECT_EQ(table.routes["10.0.0.0/24"], "11.0.0.1@2");
  mirror.apply(routeVia(0x0a000000, 0, 100, true));
  EXPECT_TRUE(table.routes.empty());
  EXPECT_EQ(mirror.routes(), 0u);

  // A removed object takes the prefix's routes that name it, held or aside.
  mirror.apply(routeVia(0x0a000000, 1, 100));
  mirror.apply(routeVia(0x0a000000, 2, 200));
  mirror.apply(routeVia(0x0a000000, 1, 300));
  mirror.apply(single(1, 0, true));
  EXPECT_EQ(table.routes["10.0.0.0/24"], "11.0.0.2@2");
  mirror.apply(single(2, 0, true));
  EXPECT_TRUE(table.routes.empty());
  EXPECT_EQ(mirror.routes(), 0u);
}

TEST(FibMirrorTest, ANewSourceNamesItsObjectsAnew) {
  Table table;
  FibMirror mirror(table, false, {});
  mirror.apply(single(7, 0x0b000001));
  mirror.apply(routeVia(0x0a000000, 7));
  mirror.apply(routeVia(0x0a000100, 7));
  // A restarted zebra gives id 7 to another next hop; its replay has
  // reached one of the two routes so far.
  mirror.beginResync();
  mirror.forgetObjects();
  mirror.apply(single(7, 0x0b000009));
  EXPECT_EQ(table.routes["10.0.1.0/24"], "11.0.0.1@2");  // not moved by the new id 7
  mirror.apply(routeVia(0x0a000000, 7));
  EXPECT_EQ(table.routes["10.0.0.0/24"], "11.0.0.9@2");
  EXPECT_EQ(mirror.sweep(), 1u);
  EXPECT_EQ(table.routes.size(), 1u);
}

TEST(FibMirrorTest, APeerCannotGrowItPastItsLimits) {
  Table table;
  FibMirror mirror(table, false, {.routeCapacity = 2, .objectCapacity = 1});
  mirror.apply(single(1, 0x0b000001));
  mirror.apply(single(2, 0x0b000002));  // past the limit: ignored
  mirror.apply(single(1, 0x0b000003));  // a known object still changes
  for (std::uint32_t prefix : {0x0a000000u, 0x0a000100u, 0x0a000200u}) {
    mirror.apply(routeVia(prefix, 1));
  }
  EXPECT_EQ(mirror.routes(), 2u);
  EXPECT_EQ(mirror.nextHopObjects(), 1u);
  EXPECT_EQ(mirror.counts().overCapacity, 2u);
  mirror.apply(routeVia(0x0a000100, 0, 0, true));
  mirror.apply(routeVia(0x0a000200, 1));  // room again
  EXPECT_EQ(table.routes["10.0.2.0/24"], "11.0.0.3@2");
}

}  // namespace
}  // namespace ZaduRouted
