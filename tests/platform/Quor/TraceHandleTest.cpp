#include "Quor/TraceHandle.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

// Counts how often fmt formats it, to prove disabled levels format nothing.
struct Counted {
  static inline int formatted = 0;
};

}  // namespace

template <>
struct fmt::formatter<Counted> : fmt::formatter<std::string_view> {
  auto format(Counted const&, format_context& context) const {
    ++Counted::formatted;
    return fmt::formatter<std::string_view>::format("counted", context);
  }
};

namespace {

class TraceHandleTest : public ::testing::Test {
 protected:
  void TearDown() override { Quor::TraceHandle::reset(); }
};

TEST_F(TraceHandleTest, OnlyEnabledLevelsAreFormatted) {
  Quor::TraceHandle handle("TraceTestMask");
  Quor::TraceCapture capture;
  Counted::formatted = 0;
  int evaluated = 0;
  auto argument = [&evaluated] {
    ++evaluated;
    return Counted{};
  };

  QUOR_TRACE(handle, 8, "Tag", "value {}", argument());
  EXPECT_EQ(Counted::formatted, 0);
  EXPECT_EQ(evaluated, 0);
  EXPECT_TRUE(capture.records().empty());

  Quor::TraceHandle::levelsIs("TraceTestMask", 1u << 8);
  QUOR_TRACE(handle, 8, "Tag", "value {}", argument());
  QUOR_TRACE(handle, 9, "Tag", "value {}", argument());
  EXPECT_EQ(Counted::formatted, 1);
  EXPECT_EQ(evaluated, 1);
  ASSERT_EQ(capture.records().size(), 1u);

  Quor::TraceRecord const& record = capture.records()[0];
  EXPECT_EQ(record.handle, "TraceTestMask");
  EXPECT_EQ(record.level, 8u);
  EXPECT_EQ(record.tag, "Tag");
  EXPECT_EQ(record.message, "value counted");
  EXPECT_EQ(record.function, "TestBody");
  EXPECT_THAT(record.file, HasSubstr("TraceHandleTest.cpp"));
  EXPECT_GT(record.line, 0u);
}

TEST_F(TraceHandleTest, LevelsApplyByNameOrWildcardAndComeFromConfigurationText) {
  Quor::TraceHandle first("TraceTestShared");
  Quor::TraceHandle::levelsIs("TraceTestShared", 0x0006);
  Quor::TraceHandle second("TraceTestShared");
  Quor::TraceHandle other("TraceTestOther");
  EXPECT_EQ(first.levels(), 0x0006);
  EXPECT_EQ(second.levels(), 0x0006);
  EXPECT_EQ(other.levels(), 0);

  Quor::TraceHandle::levelsIs("*", 0x0002);
  EXPECT_EQ(other.levels(), 0x0002);
  EXPECT_EQ(first.levels(), 0x0006);  // its own setting wins over the wildcard

  // The configuration text sets levels by name and reports each malformed entry.
  Quor::TraceHandle swTable("TraceTestTable");
  Quor::TraceHandle entryLog("TraceTestLog");
  Quor::TraceHandle iteration("TraceTestIter");
  Quor::TraceHandle rest("TraceTestRest");
  std::vector<std::string> problems = Quor::TraceHandle::configure(
      "TraceTestTable=1-3,8; TraceTestLog=all;TraceTestIter=0x0200;*=1;bad;x=16;y=3-1;=2;z=");
  EXPECT_EQ(swTable.levels(), 0x010E);
  EXPECT_EQ(entryLog.levels(), 0xFFFF);
  EXPECT_EQ(iteration.levels(), 0x0200);
  EXPECT_EQ(rest.levels(), 0x0002);
  EXPECT_THAT(problems, ElementsAre(HasSubstr("'bad'"), HasSubstr("'x=16'"), HasSubstr("'y=3-1'"),
                                    HasSubstr("'=2'"), HasSubstr("'z='")));

  EXPECT_TRUE(Quor::TraceHandle::configure("TraceTestTable=none").empty());
  EXPECT_EQ(swTable.levels(), 0);
}

}  // namespace
