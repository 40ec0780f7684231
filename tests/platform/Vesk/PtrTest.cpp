#include "Vesk/Ptr.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "Hunkpool/Pool.h"
#include "Vesk/Node.h"

namespace {

class Shape : public Vesk::Node {
  HUNKPOOL_CLASS_ALLOCATION(Shape)
 public:
  explicit Shape(int* destroyed = nullptr) : destroyed_(destroyed) {}
  ~Shape() override {
    if (destroyed_ != nullptr) {
      ++*destroyed_;
    }
  }

 private:
  int* destroyed_;
};

class Circle : public Shape {
  HUNKPOOL_CLASS_ALLOCATION(Circle)
 public:
  using Shape::Shape;
  double radius = 1;
};

// Takes counted references to itself while being destroyed, as teardown code
// that passes `this` to helpers does.
class SelfReferencing : public Vesk::Node {
  HUNKPOOL_CLASS_ALLOCATION(SelfReferencing)
 public:
  ~SelfReferencing() override {
    Vesk::Ptr<SelfReferencing> self(this);
    sawBeingDestroyed = self->beingDestroyed();
  }
  static inline bool sawBeingDestroyed = false;
};

// Keeps itself alive: the last release only records the event.
class Immortal : public Vesk::Node {
  HUNKPOOL_CLASS_ALLOCATION(Immortal)
 public:
  void lastUserGone() override { ++lastUserGoneCalls; }
  int lastUserGoneCalls = 0;
};

TEST(PtrTest, CopiesMovesAndConversionsShareOneExactCount) {
  int destroyed = 0;
  Vesk::Ptr<Shape> first(new Shape(&destroyed));
  EXPECT_EQ(first->refCount(), 1u);
  {
    Vesk::Ptr<Shape> copy = first;
    EXPECT_EQ(first->refCount(), 2u);
    Vesk::Ptr<Shape> moved = std::move(copy);
    EXPECT_EQ(copy, nullptr);
    EXPECT_EQ(first->refCount(), 2u);
    moved = first;  // self-assignment through another reference
    EXPECT_EQ(first->refCount(), 2u);
  }
  EXPECT_EQ(first->refCount(), 1u);
  first = first;
  EXPECT_EQ(first->refCount(), 1u);
  // Release hands the reference over; adopting the raw pointer takes another.
  Shape* raw = first.release();
  EXPECT_EQ(raw->refCount(), 1u);
  Vesk::Ptr<Shape> adopted(raw);
  raw->refCountDec();
  EXPECT_EQ(adopted->refCount(), 1u);
  adopted.reset();
  EXPECT_EQ(destroyed, 1);

  // Const and base conversions share the one count.
  destroyed = 0;
  Vesk::Ptr<Circle> circle(new Circle(&destroyed));
  Vesk::Ptr<Shape const> shape = circle;
  Vesk::Ptr<Vesk::Node const> node = shape;
  EXPECT_EQ(circle->refCount(), 3u);
  EXPECT_EQ(node, circle);

  Vesk::Ptr<Circle const> back = Vesk::dynamicPtrCast<Circle const>(node);
  ASSERT_TRUE(back);
  Vesk::Ptr<Circle> mutableAgain = Vesk::constPtrCast<Circle>(back);
  mutableAgain->radius = 2;
  EXPECT_EQ(circle->radius, 2);

  Vesk::Ptr<Shape> plainShape(new Shape(&destroyed));
  EXPECT_FALSE(Vesk::dynamicPtrCast<Circle>(plainShape));

  Vesk::Ptr<Shape> fromMove = std::move(mutableAgain);
  EXPECT_EQ(circle->refCount(), 5u);  // circle, shape, node, back, fromMove
  circle.reset();
  shape.reset();
  node.reset();
  back.reset();
  EXPECT_EQ(destroyed, 0);
  fromMove.reset();
  EXPECT_EQ(destroyed, 1);
}

TEST(PtrTest, DestructionHappensOnceAndLastUserGoneMayKeepTheEntity) {
  std::uint64_t const freedBefore = SelfReferencing::memAllocationTracker_.freed();
  Vesk::Ptr<SelfReferencing> object(new SelfReferencing());
  object.reset();
  EXPECT_TRUE(SelfReferencing::sawBeingDestroyed);
  EXPECT_EQ(SelfReferencing::memAllocationTracker_.freed(), freedBefore + 1);

  // An entity whose last release only records the event lives on.
  auto* immortal = new Immortal();
  Vesk::Ptr<Immortal>(immortal).reset();
  Vesk::Ptr<Immortal> again(immortal);
  again.reset();
  EXPECT_EQ(immortal->lastUserGoneCalls, 2);
  delete immortal;
}

TEST(PtrTest, ThreadSafeModeCountsAtomically) {
  Vesk::threadSafeModeIs(true);
  int destroyed = 0;
  {
    Vesk::Ptr<Shape> shared(new Shape(&destroyed));
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([&shared] {
        for (int i = 0; i < 100000; ++i) {
          Vesk::Ptr<Shape> copy = shared;
        }
      });
    }
    for (std::thread& thread : threads) {
      thread.join();
    }
    EXPECT_EQ(shared->refCount(), 1u);
  }
  EXPECT_EQ(destroyed, 1);
  Vesk::threadSafeModeIs(false);
}

}  // namespace
