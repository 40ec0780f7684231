// What an operator can get wrong with the two programs: each mistake gives
// one clear line and a non-zero exit, never a crash or a stack of traces.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "support/ChildProcess.h"
#include "support/ScratchDirectory.h"

namespace ZaduTest {
namespace {

using ::testing::HasSubstr;
using ::testing::MatchesRegex;

class ProgramErrorsTest : public ::testing::Test {
 protected:
  // Runs a program on the scratch root; returns its output and status.
  std::string run(char const* program, std::string const& arguments) {
    return runCommand(std::string("ZADU_SHM_ROOT=") + scratch.path().string() + " " + program +
                      " " + arguments + " 2>&1");
  }
  ScratchDirectory scratch;
};

// One line naming the program, then " (status N)" from runCommand.
constexpr char const* oneFailedLine = "zadulpm-[a-z]+: [^\n]+\n \\(status [1-9][0-9]*\\)";

TEST_F(ProgramErrorsTest, UnknownOptionsBadRouteFilesNoAgentAndAnUnusableRootAreOneLine) {
  EXPECT_THAT(run(ZADULPM_AGENT, "--bogus"), MatchesRegex(oneFailedLine));
  EXPECT_THAT(run(ZADULPM_HW, "--batch 0"), MatchesRegex(oneFailedLine));
  std::string const routes = scratch.file("routes.txt");
  std::ofstream(routes) << "10.0.0.0/8 1.1.1.1\n10.0.0.1/24 1.1.1.1\n";
  std::string output = run(ZADULPM_AGENT, routes);
  EXPECT_THAT(output, MatchesRegex(oneFailedLine));
  EXPECT_THAT(output, HasSubstr(routes + ":2: '10.0.0.1/24' has host bits set"));
  EXPECT_THAT(output, HasSubstr("(status 512)"));                   // exit status 2
  EXPECT_FALSE(std::filesystem::exists(scratch.path() / "local"));  // nothing written

  output = run(ZADULPM_HW, "--wait 0");
  EXPECT_THAT(output, MatchesRegex(oneFailedLine));
  EXPECT_THAT(output, HasSubstr("is the agent running?"));
  std::ofstream(scratch.file("file")) << "not a directory";
  EXPECT_THAT(run(ZADULPM_AGENT, "--routes-generated 10 --root " + scratch.file("file") + "/root"),
              MatchesRegex(oneFailedLine));
}

TEST_F(ProgramErrorsTest, ASecondHardwareSideOrAgentOnTheRootIsRefusedWithTheFirstsPid) {
  // A slow hardware side keeps the agent waiting for answers, holding its
  // collections.
  ChildProcess hardware([&](int) {
    execl(ZADULPM_HW, ZADULPM_HW, "--root", scratch.path().c_str(), "--rate", "100", nullptr);
    return 127;
  });
  ChildProcess agent([&](int) {
    execl(ZADULPM_AGENT, ZADULPM_AGENT, "--root", scratch.path().c_str(), "--routes-generated",
          "1000", "--quiet", nullptr);
    return 127;
  });
  std::filesystem::path const changeLog =
      scratch.path() / "local/ZaduRoute/zido/ZaduRoute-ZaduRoute/ZaduLpm/Tcam/entryLog.pantry";
  for (int attempt = 0; attempt < 400 && !std::filesystem::exists(changeLog); ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // made, now locked
  std::string output = run(ZADULPM_AGENT, "--routes-generated 10");
  EXPECT_THAT(output, MatchesRegex(oneFailedLine));
  EXPECT_THAT(output, HasSubstr("another agent is running"));
  EXPECT_THAT(output, HasSubstr("(pid " + std::to_string(agent.pid()) + ")"));
  output = run(ZADULPM_HW, "--wait 0");
  EXPECT_THAT(output, MatchesRegex(oneFailedLine));
  EXPECT_THAT(output, HasSubstr("another hardware side is running"));
  EXPECT_THAT(output, HasSubstr("(pid " + std::to_string(hardware.pid()) + ")"));
}

}  // namespace
}  // namespace ZaduTest
