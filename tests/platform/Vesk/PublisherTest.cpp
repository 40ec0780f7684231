#include "Vesk/Publisher.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "Hunkpool/Pool.h"
#include "Vesk/Node.h"

namespace {

// An entity with one attribute of each kind, mutated the way generated
// accessors mutate: publish only what changed.
class Inventory : public Vesk::Node {
  HUNKPOOL_CLASS_ALLOCATION(Inventory)
 public:
  void ownerIs(std::string const& owner) {
    if (owner == owner_) {
      return;
    }
    owner_ = owner;
    publisher().publish(*this, "owner");
  }
  void itemIs(std::uint32_t key, int count) {
    auto [position, inserted] = items_.try_emplace(key, count);
    if (!inserted) {
      if (position->second == count) {
        return;
      }
      position->second = count;
    }
    publisher().publishKey(*this, "item", key);
  }
  void historyEnq() { publisher().publishIndex(*this, "history", ++historyBack_); }

 private:
  std::string owner_;
  std::map<std::uint32_t, int> items_;
  std::uint32_t historyBack_ = 0;
};

class Recorder : public Vesk::Observer {
 public:
  void onChange(Vesk::Notification const& notification) override {
    seen.push_back(notification);
    if (detachOnChange) {
      stopObserving();
    }
  }
  std::vector<Vesk::Notification> seen;
  bool detachOnChange = false;
};

TEST(PublisherTest, EachAttributeKindNotifiesWhatChanged) {
  Vesk::Ptr<Inventory> inventory(new Inventory());
  Recorder recorder;
  recorder.observe(inventory);

  inventory->ownerIs("ops");
  inventory->itemIs(7, 3);
  inventory->historyEnq();
  inventory->historyEnq();

  ASSERT_EQ(recorder.seen.size(), 4u);
  EXPECT_EQ(recorder.seen[0].kind, Vesk::Notification::Kind::Scalar);
  EXPECT_EQ(recorder.seen[0].attribute, "owner");
  EXPECT_EQ(recorder.seen[0].entity, inventory.get());
  EXPECT_EQ(recorder.seen[1].kind, Vesk::Notification::Kind::Key);
  EXPECT_EQ(recorder.seen[1].attribute, "item");
  EXPECT_EQ(recorder.seen[1].key, Vesk::Value(7u));
  EXPECT_EQ(recorder.seen[2].kind, Vesk::Notification::Kind::Index);
  EXPECT_EQ(recorder.seen[2].index, 1u);
  EXPECT_EQ(recorder.seen[3].index, 2u);
}

TEST(PublisherTest, ObserversComeAndGo) {
  Vesk::Ptr<Inventory> inventory(new Inventory());
  EXPECT_FALSE(inventory->publisher().hasObservers());
  {
    Recorder recorder;
    recorder.observe(inventory);
    EXPECT_TRUE(inventory->publisher().hasObservers());
    EXPECT_EQ(inventory->refCount(), 2u);  // the observer keeps its subject alive
  }
  EXPECT_FALSE(inventory->publisher().hasObservers());
  EXPECT_EQ(inventory->refCount(), 1u);

  Recorder first;
  Recorder second;
  first.observe(inventory);
  second.observe(inventory);
  first.detachOnChange = true;
  inventory->ownerIs("a");
  inventory->ownerIs("b");
  EXPECT_EQ(first.seen.size(), 1u);
  EXPECT_EQ(second.seen.size(), 2u);
  EXPECT_FALSE(first.subject());

  // Re-observing moves the observer to the new subject.
  Vesk::Ptr<Inventory> other(new Inventory());
  second.observe(other);
  inventory->ownerIs("c");
  other->ownerIs("c");
  EXPECT_EQ(second.seen.size(), 3u);
  EXPECT_EQ(second.seen.back().entity, other.get());
}

}  // namespace
