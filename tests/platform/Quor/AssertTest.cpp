#include "Quor/Assert.h"

#include <gtest/gtest.h>

namespace {

bool isPowerOfTwo(unsigned value) {
  return value != 0 && (value & (value - 1)) == 0;
}

// The assertion prints the condition exactly as written, blanks included.
// clang-format off
void checkCapacity(unsigned i) {
  QUOR_ASSERT(isPowerOfTwo( i ));
}
// clang-format on

void checkRegistration(bool registered) {
  QUOR_ASSERT_MSG(!registered, "Interface already created");
}

TEST(AssertDeathTest, PrintsTheConditionAsWrittenAndTheMessage) {
  checkCapacity(8);
  EXPECT_DEATH(checkCapacity(6),
               "Assertion failed: isPowerOfTwo\\( i \\) in checkCapacity at AssertTest.cpp:[0-9]+");
  checkRegistration(false);
  EXPECT_DEATH(checkRegistration(true),
               "Assertion failed: !registered \\(Interface already created\\) in "
               "checkRegistration");
}

}  // namespace
