#include "Vesk/Publisher.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Hunkpool/Pool.h"
#include "Vesk/Node.h"

namespace {

// An entity with an attribute mutated the way generated accessors mutate:
// publish only what changed. (Keyed and indexed notifications are observed
// on the TCAM table's collections.)
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

 private:
  std::string owner_;
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
  EXPECT_EQ(second.seen[0].kind, Vesk::Notification::Kind::Scalar);
  EXPECT_EQ(second.seen[0].attribute, "owner");
  EXPECT_EQ(second.seen[0].entity, inventory.get());
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
