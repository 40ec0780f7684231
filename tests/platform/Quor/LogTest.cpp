#include "Quor/Log.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

QUOR_LOG_DESCRIPTOR(testErrorDescriptor, "TEST_LOAD_ERROR", "unable to load item: %s",
                    "A test item could not be loaded", "\x01", 3);

TEST(LogTest, MessagesAreFormattedAndRepeatsSuppressedAndReported) {
  // Long enough that a loaded machine does not end the window early.
  Quor::LogHandle handle(testErrorDescriptor, std::chrono::milliseconds(300), 2.0, 1, 0);
  Quor::LogCapture capture;
  for (int i = 0; i < 5; ++i) {
    Quor::log(handle, "x");
  }
  ASSERT_EQ(capture.records().size(), 2u);  // burst 1: two per interval
  EXPECT_EQ(capture.records()[0].name, "TEST_LOAD_ERROR");
  EXPECT_EQ(capture.records()[0].severity, 3);
  EXPECT_EQ(capture.records()[1].message, "unable to load item: x");
  EXPECT_EQ(handle.suppressed(), 3u);
  std::this_thread::sleep_for(std::chrono::milliseconds(320));
  Quor::log(handle, "y");
  ASSERT_EQ(capture.records().size(), 3u);
  EXPECT_EQ(capture.records()[2].message, "unable to load item: y (3 similar messages suppressed)");
}

}  // namespace
