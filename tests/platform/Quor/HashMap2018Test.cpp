#include "Quor/HashMap2018.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <stdexcept>
#include <vector>

namespace {

// A walk resumed at a bookmark goes on where it stopped however much the map
// grew meanwhile: the order is the order of first insertion.
TEST(HashMap2018Test, TheOrderIsInsertionOrderAndTheMapAgreesWithStdMap) {
  Quor::HashMap2018<int, int> map;
  for (int i = 0; i < 10; ++i) {
    map.insert(i, i);
  }
  auto cursor = map.cursorFirst();
  for (int i = 0; i < 4; ++i) {
    cursor.advance();
  }
  int const bookmark = cursor.key();
  for (int i = 10; i < 5000; ++i) {  // several growths
    map.insert(i, i);
  }
  map.del(2);
  map.del(7);
  map.insert(5, 55);  // a replacement keeps its place
  map.insert(2, 2);   // a key inserted again goes last
  std::vector<int> rest;
  for (auto resumed = map.cursorAt(bookmark); resumed.valid(); resumed.advance()) {
    rest.push_back(resumed.key());
  }
  std::vector<int> expected = {4, 5, 6, 8, 9};
  for (int i = 10; i < 5000; ++i) {
    expected.push_back(i);
  }
  expected.push_back(2);
  EXPECT_EQ(rest, expected);
  EXPECT_EQ(*map.find(5), 55);
  EXPECT_FALSE(map.cursorAt(7).valid());  // deleted

  // Random operations agree with std::map.
  Quor::HashMap2018<std::uint32_t, std::uint32_t> randomMap;
  std::map<std::uint32_t, std::uint32_t> model;
  std::mt19937 random(7);
  for (int step = 0; step < 20000; ++step) {
    std::uint32_t const key = random() % 512;
    if (random() % 3 == 0) {
      auto removed = randomMap.del(key);
      auto found = model.find(key);
      ASSERT_EQ(removed.has_value(), found != model.end());
      if (found != model.end()) {
        EXPECT_EQ(*removed, found->second);
        model.erase(found);
      }
    } else {
      std::uint32_t const value = static_cast<std::uint32_t>(random());
      EXPECT_EQ(randomMap.insert(key, value), !model.contains(key));
      model[key] = value;
    }
    ASSERT_EQ(randomMap.count(), model.size());
  }
  for (auto const& [key, value] : model) {
    ASSERT_NE(randomMap.find(key), nullptr);
    EXPECT_EQ(*randomMap.find(key), value);
  }
}

// update reads and replaces with one probe; a new key whose member cannot be
// made leaves no trace.
TEST(HashMap2018Test, UpdateSeesTheHeldMemberAndANewKeyThatFailsLeavesNothing) {
  Quor::HashMap2018<int, int> map;
  auto const increment = [](int const* held) { return held == nullptr ? 0 : *held + 1; };
  EXPECT_EQ(map.update(1, increment), 0);
  map.insert(2, 20);
  EXPECT_EQ(map.update(1, increment), 1);  // replaced in place: 1 stays first
  EXPECT_EQ(map.cursorFirst().key(), 1);
  EXPECT_THROW(map.update(3, [](int const*) -> int { throw std::runtime_error("no member"); }),
               std::runtime_error);
  EXPECT_EQ(map.count(), 2u);
  EXPECT_FALSE(map.has(3));
  EXPECT_EQ(map.update(3, increment), 0);
}

}  // namespace
