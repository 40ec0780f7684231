// The agent's route file and generated table: every kind of bad line is
// reported with its file and line before anything is used; generation and
// churn are reproducible.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fmt/format.h>

#include <fstream>
#include <map>

#include "agent/Routes.h"
#include "support/ScratchDirectory.h"

namespace ZaduTest {
namespace {

using ZaduAgent::readRouteFile;
using ZaduAgent::RouteFileError;

class RoutesTest : public ::testing::Test {
 protected:
  std::string fileWith(std::string const& text) {
    std::string const path = scratch.file("routes.txt");
    std::ofstream(path, std::ios::trunc) << text;
    return path;
  }
  std::string errorOf(std::string const& text) {
    try {
      readRouteFile(fileWith(text), 4);
    } catch (RouteFileError const& error) {
      return error.what();
    }
    return "no error";
  }
  ScratchDirectory scratch;
};

TEST_F(RoutesTest, AGoodFileGivesItsRoutesAndEachBadLineIsNamedByFileAndLine) {
  auto const set = readRouteFile(fileWith("# a comment\n\n10.0.0.0/8 192.168.1.1 2\n"
                                          "10.1.0.0/16 192.168.1.2@7,192.168.1.1   # trailing\n"
                                          "10.2.0.0/16 192.168.1.1@0\n"),
                                 4);
  ASSERT_EQ(set.routes.size(), 3u);
  EXPECT_EQ(set.routes[0].prefix, 0x0A000000u);
  EXPECT_EQ(set.routes[0].length, 8);
  EXPECT_EQ(set.routes[0].unit, 2);
  EXPECT_EQ(set.routes[1].unit, ZaduAgent::unitOf(0x0A010000, 16, 4));
  // One next hop per distinct set of paths: "@0" is the default interface.
  ASSERT_EQ(set.nextHops.size(), 2u);
  EXPECT_EQ(set.routes[2].nextHop, set.routes[0].nextHop);
  EXPECT_EQ(fmt::format("{}", set.nextHops[set.routes[0].nextHop]), "192.168.1.1@0");
  EXPECT_EQ(fmt::format("{}", set.nextHops[set.routes[1].nextHop]), "192.168.1.1@0,192.168.1.2@7");

  std::string const path = scratch.file("routes.txt");
  EXPECT_EQ(errorOf("10.0.0.0/8\n"),
            path + ":1: expected \"A.B.C.D/LEN NEXTHOP[,NEXTHOP...] [UNIT]\"");
  EXPECT_EQ(errorOf("\n10.0.0/8 1.1.1.1\n"), path + ":2: '10.0.0/8' is not a prefix A.B.C.D/LEN");
  EXPECT_EQ(errorOf("10.0.0.0/33 1.1.1.1\n"),
            path + ":1: '10.0.0.0/33': the prefix length must be 0 to 32");
  EXPECT_EQ(errorOf("10.0.0.1/24 1.1.1.1\n"), path + ":1: '10.0.0.1/24' has host bits set");
  EXPECT_EQ(errorOf("10.0.0.0/24 1.1.1.256\n"),
            path + ":1: '1.1.1.256' is not a next hop A.B.C.D[@IFINDEX]");
  EXPECT_EQ(errorOf("10.0.0.0/24 1.1.1.1@x\n"),
            path + ":1: '1.1.1.1@x' is not a next hop A.B.C.D[@IFINDEX]");
  EXPECT_EQ(errorOf("10.0.0.0/24 1.1.1.1,1.1.1.1\n"), path + ":1: path 1.1.1.1@0 is named twice");
  EXPECT_EQ(errorOf("10.0.0.0/24 1.1.1.1 4\n"), path + ":1: unit '4' is not one of 0 to 3");
  EXPECT_EQ(errorOf("10.0.0.0/24 1.1.1.1 1\n10.0.0.0/24 2.2.2.2 1\n"),
            path + ":2: 10.0.0.0/24 is already on unit 1");
  EXPECT_THAT(errorOf(""), "no error");
  EXPECT_THROW(readRouteFile(scratch.file("absent.txt"), 4), RouteFileError);
}

TEST_F(RoutesTest, BadInputIsQuotedByAShortExcerptAndHugeLinesAreRefusedUnread) {
  std::string const path = scratch.file("routes.txt");
  std::string const long_prefix = std::string(1000, '1') + "/8";
  EXPECT_EQ(errorOf(long_prefix + " 1.1.1.1\n"),
            path + ":1: '" + std::string(40, '1') + "...' is not a prefix A.B.C.D/LEN");
  EXPECT_EQ(errorOf("10.0.0.0/8 1.1.1.1\n" + std::string(ZaduAgent::maxLineLength + 1, ' ') + "\n"),
            path + ":2: the line is longer than 4096 characters");
  // A line just within the limit, and a last line without a newline, are read.
  std::string const padded = "10.0.0.0/8 1.1.1.1" + std::string(ZaduAgent::maxLineLength - 18, ' ');
  EXPECT_EQ(readRouteFile(fileWith(padded + "\n10.1.0.0/16 1.1.1.1"), 4).routes.size(), 2u);
  std::string paths;
  for (int n = 1; n <= 65; ++n) {
    paths += fmt::format("{}10.0.0.{}", n == 1 ? "" : ",", n);
  }
  EXPECT_EQ(errorOf("10.0.0.0/24 " + paths + "\n"),
            path + ":1: an ECMP route has at most 64 next hops");
}

TEST_F(RoutesTest, TheGeneratedTableLooksLikeAnInternetTableAndRepeats) {
  auto const set = ZaduAgent::generateRoutes(20000, 4, 9);
  auto const& routes = set.routes;
  EXPECT_EQ(routes.size(), 20000u);
  std::map<int, int> lengths;
  std::size_t ecmp = 0;
  for (auto const& route : routes) {
    ++lengths[route.length];
    ASSERT_EQ(route.prefix & ~(route.length == 0 ? 0u : ~0u << (32 - route.length)), 0u);
    ecmp += set.nextHops[route.nextHop].isEcmp() ? 1 : 0;
  }
  EXPECT_GT(lengths[24], 11000);
  EXPECT_GT(lengths[22], lengths[20]);
  EXPECT_NEAR(static_cast<double>(ecmp) / routes.size(), 0.1, 0.02);
  EXPECT_EQ(ZaduAgent::generateRoutes(20000, 4, 9).routes[12345].prefix, routes[12345].prefix);
  EXPECT_EQ(set.nextHops.size(), 324u);
  auto const churn = ZaduAgent::planChurn(routes, 9);
  EXPECT_NEAR(static_cast<double>(churn.rewritten.size()) / routes.size(), 0.25, 0.02);
  auto const intended = ZaduAgent::intendedRoutes(routes, churn, set.nextHops.size());
  EXPECT_EQ(intended.size(), routes.size() - churn.removed.size());
}

}  // namespace
}  // namespace ZaduTest
