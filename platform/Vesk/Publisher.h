// Vesk::Publisher and Vesk::Observer: the change notifications of an entity.
//
// Every entity has a publisher. A mutation of one of the entity's attributes
// publishes a Notification through it to every attached observer: a scalar
// attribute publishes the attribute alone, a collection the attribute and the
// key, a queue the attribute and the element index. A mutation that changes
// nothing publishes nothing (the mutating code checks, not the publisher).
//
// Cost: an entity that nobody observes pays one pointer of storage and, per
// mutation, one load and one test (hasObservers()). Delete-all paths ask
// hasObservers() to choose between clearing in one step and removing members
// one at a time. Building the notification, and encoding its key as a
// dynamic value, happens only when something observes.
//
// Ownership: an Observer holds a counted reference to the entity it observes
// and detaches itself when destroyed or re-attached; the publisher holds plain
// pointers to its observers.
//
// Thread safety: none; publishers and observers belong to the thread that
// mutates the entity.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "Vesk/Codec.h"
#include "Vesk/Ptr.h"

namespace Vesk {

class Node;
class Observer;

struct Notification {
  enum class Kind : std::uint8_t { Scalar, Key, Index };

  Node const* entity = nullptr;
  std::string_view attribute;
  Kind kind = Kind::Scalar;
  Value key;                // Kind::Key: the member's key.
  std::uint32_t index = 0;  // Kind::Index: the queue element's index.
};

class Publisher {
 public:
  Publisher() noexcept = default;
  Publisher(Publisher const&) = delete;
  Publisher& operator=(Publisher const&) = delete;
  ~Publisher();

  bool hasObservers() const noexcept { return observers_ != nullptr && !observers_->empty(); }

  // Publishes a change of a scalar attribute.
  void publish(Node const& entity, std::string_view attribute) {
    if (hasObservers()) {
      deliver(Notification{&entity, attribute, Notification::Kind::Scalar, {}, 0});
    }
  }
  // Publishes a change of the member `key` of a collection attribute.
  template <class Key>
  void publishKey(Node const& entity, std::string_view attribute, Key const& key) {
    if (hasObservers()) {
      deliver(
          Notification{&entity, attribute, Notification::Kind::Key, Codec<Key>::encode(key), 0});
    }
  }
  // Publishes a change of the element `index` of a queue attribute.
  void publishIndex(Node const& entity, std::string_view attribute, std::uint32_t index) {
    if (hasObservers()) {
      deliver(Notification{&entity, attribute, Notification::Kind::Index, {}, index});
    }
  }

 private:
  friend class Observer;
  void attach(Observer* observer);
  void detach(Observer* observer) noexcept;
  // Calls every observer attached when the delivery starts and still attached
  // when its turn comes (an observer may detach itself or others).
  void deliver(Notification const& notification);

  std::unique_ptr<std::vector<Observer*>> observers_;
};

class Observer {
 public:
  Observer() = default;
  Observer(Observer const&) = delete;
  Observer& operator=(Observer const&) = delete;
  virtual ~Observer();

  // Starts observing `subject` (stops observing the previous one).
  void observe(Ptr<Node const> const& subject);
  // Stops observing; does nothing when not observing.
  void stopObserving() noexcept;
  Ptr<Node const> const& subject() const noexcept { return subject_; }

  virtual void onChange(Notification const& notification) = 0;

 private:
  Ptr<Node const> subject_;
};

}  // namespace Vesk
