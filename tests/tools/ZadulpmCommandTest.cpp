// The zadulpm command on a root the test filled: every subcommand's text and
// JSON, and every error with its exit status.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "CommandLine/CommandLine.h"
#include "ZaduLpm/AdjacencyTable.h"
#include "support/ChildProcess.h"
#include "support/TcamTableFixture.h"

namespace ZaduTest {
namespace {

using ::testing::HasSubstr;

class ZadulpmCommandTest : public TcamTableFixture {
 protected:
  void SetUp() override {
    TcamTableFixture::SetUp();
    entryLog->mountPantryConfig(1, 0);
    for (std::uint32_t n = 0; n < 3; ++n) {
      logWrite(n, 0);  // versions 1 to 3 on unit 0
    }
    logWrite(7, 1);                            // version 4 on unit 1
    entryLog->entryDel(keyOf(1), nullptr, 0);  // version 5
    Zido::TableVersionPublisher(*central, "ZaduRoute-ZaduRoute").publish(tableId, 2);
    entryLog->cleanupEntryLog(2);
  }
  // The command's output and, when not 0, its exit status.
  std::string zadulpm(std::string const& arguments) {
    return runCommand(std::string(ZADULPM_COMMAND) + " --root " + scratch.path().string() +
                      " --store " + central->name() + " " + arguments + " 2>&1");
  }
  std::string storeDirectory() const {
    return scratch.path().string() + "/local/" + central->name();
  }
};

TEST_F(ZadulpmCommandTest, StatusTellsTheLogTheHardwareAndEachUnit) {
  std::string const text = zadulpm("status");
  EXPECT_THAT(text, HasSubstr("change log: 3 records, versions 3..5, table version 5; writer pid " +
                              std::to_string(getpid()) + " (alive)"));
  EXPECT_THAT(text, HasSubstr("hardware side: version 2 taken; writer pid " +
                              std::to_string(getpid()) + " (alive)"));
  EXPECT_THAT(text, HasSubstr("unit 0: 2 live, 1 in deletion, 0.0% of 65536"));
  EXPECT_THAT(text, HasSubstr("unit 1: 1 live, 0 in deletion"));
  auto const document = nlohmann::json::parse(zadulpm("status --json"));
  EXPECT_EQ(document["changeLog"]["tableVersion"], 5);
  EXPECT_EQ(document["changeLog"]["lowestVersion"], 3);
  EXPECT_EQ(document["hardware"]["publishedVersion"], 2);
  EXPECT_EQ(document["units"][0]["inDeletion"], 1);
  EXPECT_EQ(document["units"][1]["live"], 1);
  EXPECT_EQ(document["units"][1]["writer"]["alive"], true);
}

TEST_F(ZadulpmCommandTest, LogEntriesAndRouteGetListAndAnswerWithinBounds) {
  EXPECT_EQ(zadulpm("log"),
            "3          unit 0    write        10.0.2.0/24 adjacency 12\n"
            "4          unit 1    write        10.0.7.0/24 adjacency 17\n"
            "5          unit 0    entryDelete  10.0.1.0/24 adjacency 11\n");
  auto const records = nlohmann::json::parse(zadulpm("log --from 4 --limit 1 --json"));
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0]["version"], 4);
  EXPECT_EQ(records[0]["kind"], "write");
  EXPECT_EQ(records[0]["entry"]["prefix"], "10.0.7.0/24");
  EXPECT_EQ(nlohmann::json::parse(zadulpm("log --to 3 --json")).size(), 1u);

  // Entries and route lookups answer from the configuration.
  EXPECT_EQ(zadulpm("entries --unit 0"),
            "10.0.0.0/24        adjacency 10     version 1\n"
            "10.0.2.0/24        adjacency 12     version 3\n");
  EXPECT_EQ(zadulpm("entries --unit 0 --deleted"),
            "10.0.1.0/24        adjacency 11     version 5 (in deletion)\n");
  auto const one = nlohmann::json::parse(zadulpm("entries --unit 0 --prefix 10.0.2.0/24 --json"));
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0]["adjacency"], 12);
  EXPECT_EQ(one[0]["logVersion"], 3);
  EXPECT_EQ(zadulpm("route-get --unit 0 10.0.2.77"),
            "10.0.2.77 on unit 0: 10.0.2.0/24, adjacency 12 (version 3)\n");
  // A deleted record is no route.
  EXPECT_EQ(zadulpm("route-get --unit 0 10.0.1.1"), "10.0.1.1 on unit 0: no route\n");
  auto const routed = nlohmann::json::parse(zadulpm("route-get --unit 1 10.0.7.9 --json"));
  EXPECT_EQ(routed["match"]["prefix"], "10.0.7.0/24");
}

TEST_F(ZadulpmCommandTest, AdjacenciesListTheNextHopsAndRouteGetNamesTheOneARouteUses) {
  EXPECT_EQ(zadulpm("adjacencies"),
            "zadulpm: no adjacency table in " + storeDirectory() + "\n (status 1536)");  // 6
  Vesk::Ptr<ZaduLpm::AdjacencyTable> const adjacencies =
      new ZaduLpm::AdjacencyTable(central, group, nullptr);
  using ZaduLpmLib::AdjacencyKey;
  using ZaduLpmLib::NextHopPath;
  adjacencies->adjacencyWrite(
      AdjacencyKey::of(std::vector<NextHopPath>{{0x0A000002, 4}, {0x0A000001, 3}}));
  adjacencies->adjacencyWrite(AdjacencyKey::of(NextHopPath{0x0A000009, 1}));
  commitAll();
  adjacencies->adjacencyRemove(AdjacencyKey::of(NextHopPath{0x0A000009, 1}), nullptr);
  commitAll();
  entryLog->entryIs(ZaduLpmLib::TcamDataModelLogEntry{entryOf(9, 1).data, {}}, {}, nullptr, 0,
                    nullptr, false);
  EXPECT_EQ(zadulpm("adjacencies"), "1      10.0.0.1@3,10.0.0.2@4                    version 1\n");
  EXPECT_EQ(zadulpm("adjacencies --deleted"),
            "2      10.0.0.9@1                               version 3 (in deletion)\n");
  auto const listed = nlohmann::json::parse(zadulpm("adjacencies --json"));
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0]["index"], 1);
  EXPECT_EQ(listed[0]["nextHop"][1]["gateway"], "10.0.0.2");
  EXPECT_EQ(listed[0]["nextHop"][1]["ifIndex"], 4);
  EXPECT_EQ(zadulpm("route-get --unit 0 10.0.9.1"),
            "10.0.9.1 on unit 0: 10.0.9.0/24, adjacency 1 via 10.0.0.1@3,10.0.0.2@4 (version 6)\n");
  auto const routed = nlohmann::json::parse(zadulpm("route-get --unit 0 10.0.9.1 --json"));
  EXPECT_EQ(routed["match"]["nextHop"].size(), 2u);
  // An index no live next hop holds resolves to nothing.
  EXPECT_TRUE(
      nlohmann::json::parse(zadulpm("route-get --unit 0 10.0.2.1 --json"))["match"]["nextHop"]
          .is_null());
}

TEST_F(ZadulpmCommandTest, EachErrorIsOneLineWithItsOwnStatus) {
  EXPECT_EQ(zadulpm("entries --unit 9"),
            "zadulpm: unit 9 has no configuration table in " + storeDirectory() +
                "\n (status 1536)");  // 6
  EXPECT_THAT(runCommand(std::string(ZADULPM_COMMAND) + " --root /nonexistent status 2>&1"),
              HasSubstr("no shared memory at /nonexistent: no such directory\n (status 768)"));
  EXPECT_THAT(zadulpm("route-get --unit 0 10.0.300.1"), HasSubstr("(status 512)"));
  EXPECT_THAT(zadulpm("entries --unit 0 --prefix 10.0.0.1/24"), HasSubstr("(status 512)"));
  EXPECT_THAT(zadulpm("frobnicate"), HasSubstr("(status 512)"));
  std::ofstream(scratch.file("trace.rlog")) << "not a trace";
  EXPECT_THAT(zadulpm("trace " + scratch.file("trace.rlog")), HasSubstr("(status 1280)"));
  // A damaged configuration file.
  std::string const unit1 =
      storeDirectory() + "/" + ZaduLpmLib::TcamConstants::configPantryPath(1) + ".pantry";
  std::filesystem::resize_file(unit1, 100);
  std::string const damaged = zadulpm("entries --unit 1");
  EXPECT_THAT(damaged, HasSubstr("is damaged or of another layout version"));
  EXPECT_THAT(damaged, HasSubstr("(status 1280)"));  // 5
  if (geteuid() != 0) {
    std::filesystem::permissions(storeDirectory(), std::filesystem::perms::none);
    EXPECT_THAT(zadulpm("status"), HasSubstr("(status 1024)"));  // 4
    std::filesystem::permissions(storeDirectory(), std::filesystem::perms::owner_all);
  }
}

TEST_F(ZadulpmCommandTest, PathsFromTheCommandLineStayInsideTheRoot) {
  std::string const command(ZADULPM_COMMAND);
  EXPECT_THAT(runCommand(command + " --root relative status 2>&1"),
              HasSubstr("the shared-memory root must be an absolute path"));
  EXPECT_THAT(
      runCommand(command + " --root " + scratch.path().string() + " --store .. status 2>&1"),
      HasSubstr("a store name is letters, digits"));
  // A directory below the root that is a link is not followed out of it.
  std::filesystem::path const unit1(storeDirectory() + "/" +
                                    ZaduLpmLib::TcamConstants::configPantryPath(1) + ".pantry");
  std::filesystem::path const config = unit1.parent_path();
  std::filesystem::rename(config, scratch.path() / "moved");
  std::filesystem::create_directory_symlink(scratch.path() / "moved", config);
  std::string const linked = zadulpm("entries --unit 1");
  EXPECT_THAT(linked, HasSubstr(config.string() + " is a link or not a directory"));
  EXPECT_THAT(linked, HasSubstr("(status 1024)"));  // 4

  // Output files named on a command line are not written through a link.
  std::string const target = scratch.file("target.txt");
  std::ofstream(target) << "kept";
  std::filesystem::create_symlink(target, scratch.file("link.txt"));
  EXPECT_THROW(CommandLine::writeOutputFile(scratch.file("link.txt"), "lost"), std::runtime_error);
  CommandLine::writeOutputFile(scratch.file("plain.txt"), "written\n");
  std::ifstream kept(target);
  std::ifstream plain(scratch.file("plain.txt"));
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "kept");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(plain), {}), "written\n");
}

}  // namespace
}  // namespace ZaduTest
