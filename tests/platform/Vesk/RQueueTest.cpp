#include "Vesk/RQueue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <memory>
#include <random>
#include <vector>

namespace {

std::vector<std::uint32_t> capacities(Vesk::RQueue<int> const& queue) {
  std::vector<std::uint32_t> found;
  queue.forEachChunkCapacity([&](std::uint32_t capacity) { found.push_back(capacity); });
  return found;
}

TEST(RQueueTest, IndexesStartAtOneAreNeverReusedAndWrapInSerialOrder) {
  Vesk::RQueue<int> queue;
  EXPECT_EQ(queue.enq(10), 1u);
  EXPECT_EQ(*queue.front(), 10);
  EXPECT_EQ(queue.front(), queue.back());
  EXPECT_EQ(queue.at(0), nullptr);
  EXPECT_EQ(queue.at(2), nullptr);
  queue.enq(11);
  queue.enq(12);
  int out = 0;
  for (std::uint32_t expected = 1; expected <= 3; ++expected) {
    EXPECT_EQ(queue.deq(out), expected);
  }
  EXPECT_EQ(queue.deq(out), 0u);
  EXPECT_EQ(capacities(queue), (std::vector<std::uint32_t>{0}));  // drained: capacity 0
  EXPECT_EQ(queue.enq(13), 4u);
  EXPECT_EQ(capacities(queue), (std::vector<std::uint32_t>{4}));
  EXPECT_EQ(queue.at(1), nullptr);  // dequeued

  for (int i = 0; i < 6; ++i) {
    queue.enq(i);
  }
  EXPECT_EQ(queue.backIndex(), 10u);
  queue.clear();
  EXPECT_TRUE(queue.empty());
  EXPECT_EQ(queue.enq(99), 11u);

  // Numbering wraps around in serial order.
  EXPECT_TRUE(Vesk::RQueue<int>::precedes(0xFFFFFFFFu, 0u));
  EXPECT_FALSE(Vesk::RQueue<int>::precedes(0u, 0xFFFFFFFFu));
  Vesk::RQueue<int> wrapping(0xFFFFFFFEu);
  EXPECT_EQ(wrapping.enq(1), 0xFFFFFFFEu);
  EXPECT_EQ(wrapping.enq(2), 0xFFFFFFFFu);
  EXPECT_EQ(wrapping.enq(3), 0u);
  EXPECT_EQ(wrapping.enq(4), 1u);
  EXPECT_EQ(wrapping.enq(5), 2u);  // in a second chunk across the wrap
  EXPECT_EQ(wrapping.count(), 5u);
  EXPECT_EQ(*wrapping.at(0), 3);
  EXPECT_EQ(*wrapping.at(2), 5);
  EXPECT_EQ(wrapping.at(3), nullptr);
  EXPECT_EQ(wrapping.at(0xFFFFFFFDu), nullptr);
  EXPECT_EQ(wrapping.deq(out), 0xFFFFFFFEu);
  EXPECT_EQ(wrapping.frontIndex(), 0xFFFFFFFFu);
}

// Chunks grow with the queue, never beyond 8192 elements, and an index
// reaches its element across them.
TEST(RQueueTest, ChunksGrowUpTo8192AndIndexesReachAcrossThem) {
  Vesk::RQueue<int> queue;
  for (int i = 0; i < 30000; ++i) {
    queue.enq(i);
  }
  std::vector<std::uint32_t> const grown = capacities(queue);
  EXPECT_EQ(grown.front(), 4u);
  EXPECT_EQ(*std::max_element(grown.begin(), grown.end()), 8192u);
  EXPECT_EQ(*queue.at(29999), 29998);
}

TEST(RQueueTest, AgreesWithStdDequeAndReleasesElements) {
  auto tracked = std::make_shared<int>(0);
  {
    Vesk::RQueue<std::shared_ptr<int>> queue;
    std::deque<std::uint32_t> model;
    std::mt19937 random(8);
    for (int step = 0; step < 50000; ++step) {
      if (random() % 3 != 0) {
        model.push_back(queue.enq(tracked));
      } else {
        std::shared_ptr<int> out;
        std::uint32_t const index = queue.deq(out);
        if (model.empty()) {
          ASSERT_EQ(index, 0u);
        } else {
          ASSERT_EQ(index, model.front());
          model.pop_front();
        }
      }
      ASSERT_EQ(queue.count(), model.size());
      ASSERT_EQ(tracked.use_count(), static_cast<long>(model.size()) + 1);
    }
    std::vector<std::uint32_t> walked;
    queue.forEach([&](std::uint32_t index, auto const&) { walked.push_back(index); });
    EXPECT_EQ(walked, std::vector<std::uint32_t>(model.begin(), model.end()));
  }
  EXPECT_EQ(tracked.use_count(), 1);
}

}  // namespace
