// The simulated TCAM: the first matching line is the longest prefix, its
// layout holds through random updates, and updates next to the gap are cheap.
#include <gtest/gtest.h>

#include <map>
#include <random>

#include "ZaduLpmLib/Ipv4Text.h"
#include "hw/SimulatedTcam.h"

namespace ZaduTest {
namespace {

using ZaduHw::SimulatedTcam;

TEST(SimulatedTcamTest, TheFirstMatchingLineIsTheLongestPrefixAndUpdatesNextToTheGapMoveNothing) {
  SimulatedTcam tcam(64);
  EXPECT_TRUE(tcam.write(0x0A000000, 8, 1));   // 10.0.0.0/8
  EXPECT_TRUE(tcam.write(0x0A010000, 16, 2));  // 10.1.0.0/16
  EXPECT_TRUE(tcam.write(0x0A010100, 24, 3));  // 10.1.1.0/24
  EXPECT_TRUE(tcam.write(0x0A010105, 32, 4));  // 10.1.1.5/32
  EXPECT_TRUE(tcam.write(0x00000000, 0, 9));   // the default route
  EXPECT_EQ(tcam.lookup(0x0A010105), 4u);
  EXPECT_EQ(tcam.lookup(0x0A010106), 3u);
  EXPECT_EQ(tcam.lookup(0x0A01FF01), 2u);
  EXPECT_EQ(tcam.lookup(0x0AFF0000), 1u);
  EXPECT_EQ(tcam.lookup(0x0B000000), 9u);
  EXPECT_TRUE(tcam.remove(0x0A010100, 24));
  EXPECT_FALSE(tcam.remove(0x0A010100, 24));
  EXPECT_EQ(tcam.lookup(0x0A010106), 2u);
  EXPECT_TRUE(tcam.write(0x0A010000, 16, 5));  // a rewrite keeps its line
  EXPECT_EQ(tcam.lookup(0x0A010106), 5u);
  EXPECT_EQ(tcam.counters().rewrites, 1u);
  EXPECT_EQ(tcam.checkLayout(), std::nullopt);
  tcam.clear();
  EXPECT_EQ(tcam.size(), 0u);
  EXPECT_EQ(tcam.lookup(0x0A010105), std::nullopt);

  // Updates next to the gap move nothing, others one line per region passed.
  SimulatedTcam gap(64);
  gap.write(0x01000000, 8, 1);
  gap.write(0x02000000, 16, 1);
  gap.write(0x03000000, 23, 1);
  EXPECT_EQ(gap.counters().moves, 0u);  // the lower regions were empty
  gap.write(0x04000000, 24, 1);
  gap.write(0x04000100, 24, 1);
  EXPECT_EQ(gap.counters().moves, 0u);  // /24 sits on the gap
  gap.write(0x05000000, 32, 1);         // passes the /24 region
  EXPECT_EQ(gap.counters().moves, 1u);
  gap.write(0x06000000, 8, 1);  // passes the /23 and /16 regions
  EXPECT_EQ(gap.counters().moves, 3u);
  gap.remove(0x02000000, 16);  // fills its hole, then passes /23
  EXPECT_EQ(gap.counters().moves, 4u);
  EXPECT_EQ(gap.checkLayout(), std::nullopt);
}

TEST(SimulatedTcamTest, RandomUpdatesKeepTheLayoutAndAgreeWithAPerLengthReference) {
  SimulatedTcam tcam(512);
  std::map<std::pair<std::uint8_t, std::uint32_t>, std::uint32_t> reference;
  std::mt19937 random(5);
  for (int step = 0; step < 20000; ++step) {
    auto const length = static_cast<std::uint8_t>(random() % 33);
    std::uint32_t const prefix =
        (0x0A000000 | (random() & 0x00FFFFFF)) & ZaduLpmLib::prefixMaskOf(length);
    if (random() % 3 == 0) {
      EXPECT_EQ(tcam.remove(prefix, length), reference.erase({length, prefix}) == 1);
    } else {
      bool const room = reference.size() < 512 || reference.contains({length, prefix});
      EXPECT_EQ(tcam.write(prefix, length, step), room);
      if (room) {
        reference[{length, prefix}] = static_cast<std::uint32_t>(step);
      }
    }
    if (step % 997 == 0) {
      ASSERT_EQ(tcam.checkLayout(), std::nullopt) << "step " << step;
      ASSERT_EQ(tcam.size(), reference.size());
      std::uint32_t const address = 0x0A000000 | (random() & 0x00FFFFFF);
      std::optional<std::uint32_t> expected;
      for (int probe = 32; probe >= 0 && !expected; --probe) {
        auto const key =
            std::make_pair(static_cast<std::uint8_t>(probe),
                           address & ZaduLpmLib::prefixMaskOf(static_cast<std::uint8_t>(probe)));
        if (auto const found = reference.find(key); found != reference.end()) {
          expected = found->second;
        }
      }
      ASSERT_EQ(tcam.lookup(address), expected) << "step " << step;
    }
  }
  EXPECT_GT(tcam.counters().refused, 0u);
}

}  // namespace
}  // namespace ZaduTest
