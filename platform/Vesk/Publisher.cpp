#include "Vesk/Publisher.h"

#include <algorithm>

#include "Vesk/Node.h"

namespace Vesk {

Publisher::~Publisher() = default;

void Publisher::attach(Observer* observer) {
  if (observers_ == nullptr) {
    observers_ = std::make_unique<std::vector<Observer*>>();
  }
  observers_->push_back(observer);
}

void Publisher::detach(Observer* observer) noexcept {
  if (observers_ != nullptr) {
    std::erase(*observers_, observer);
  }
}

void Publisher::deliver(Notification const& notification) {
  // An observer may release the last reference to the entity, and with it
  // this publisher: keep the entity until the delivery ends.
  Ptr<Node const> const keepAlive(notification.entity);
  std::vector<Observer*> const snapshot = *observers_;
  for (Observer* observer : snapshot) {
    if (std::find(observers_->begin(), observers_->end(), observer) != observers_->end()) {
      observer->onChange(notification);
    }
  }
}

Observer::~Observer() {
  stopObserving();
}

void Observer::observe(Ptr<Node const> const& subject) {
  stopObserving();
  if (subject) {
    subject->publisher().attach(this);
    subject_ = subject;
  }
}

void Observer::stopObserving() noexcept {
  if (subject_) {
    subject_->publisher().detach(this);
    subject_.reset();
  }
}

}  // namespace Vesk
