#include "Hunkpool/Pool.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <thread>
#include <vector>

namespace {

struct alignas(32) Wide {
  HUNKPOOL_CLASS_ALLOCATION(Wide)
  char bytes[40];
};

struct Small {
  HUNKPOOL_CLASS_ALLOCATION(Small)
  virtual ~Small() = default;
  std::uint64_t value = 0;
};

// Derived without pooling of its own: served by the global allocator, still
// counted under the base's tracker.
struct Larger : Small {
  char extra[100];
};

TEST(PoolTest, TrackersCountEveryAllocationSlotsAreAlignedDistinctAndReusedLastInFirstOut) {
  auto const& tracker = Small::memAllocationTracker_;
  std::uint64_t const allocated = tracker.allocated();
  std::uint64_t const live = tracker.live();
  std::vector<Small*> objects;
  for (int i = 0; i < 1000; ++i) {
    objects.push_back(new Small());
  }
  objects.push_back(new Larger());
  EXPECT_EQ(tracker.live(), live + 1001);
  for (Small* object : objects) {
    delete object;
  }
  EXPECT_EQ(tracker.live(), live);
  EXPECT_EQ(tracker.allocated(), allocated + 1001);

  // Slots are aligned, distinct and reused last in, first out.
  std::set<void*> slots;
  std::vector<Wide*> wide;
  for (int i = 0; i < 5000; ++i) {  // several slabs
    Wide* object = new Wide();
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(object) % 32, 0u);
    EXPECT_TRUE(slots.insert(object).second);
    wide.push_back(object);
  }
  Wide* last = wide.back();
  wide.pop_back();
  delete last;
#if !defined(__SANITIZE_ADDRESS__)
  Wide* again = new Wide();
  EXPECT_EQ(again, last);
  wide.push_back(again);
  EXPECT_GT(Hunkpool::PoolOf<Wide>::pool.slabCount(), 1u);
  EXPECT_EQ(Hunkpool::PoolOf<Wide>::pool.slotSize(), 64u);
#endif
  for (Wide* object : wide) {
    delete object;
  }
}

TEST(PoolTest, ThreadSafeModeSerialisesThePool) {
  Vesk::threadSafeModeIs(true);
  std::uint64_t const live = Small::memAllocationTracker_.live();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([] {
      std::vector<Small*> mine;
      for (int round = 0; round < 50; ++round) {
        for (int i = 0; i < 200; ++i) {
          mine.push_back(new Small());
          mine.back()->value = static_cast<std::uint64_t>(i);
        }
        for (std::size_t i = 0; i < mine.size(); ++i) {
          ASSERT_EQ(mine[i]->value, i);
          delete mine[i];
        }
        mine.clear();
      }
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  EXPECT_EQ(Small::memAllocationTracker_.live(), live);
  Vesk::threadSafeModeIs(false);
}

}  // namespace
