#include "Zido/Agent.h"

#include <algorithm>

namespace Zido {

Agent::Agent(std::string const& storeName)
    : central_(new Centrum::EntityManager(storeName, true)),
      orderedTableInterface_(new OrderedTableInterface(central_, &loop_)) {}

Agent::~Agent() {
  orderedTableInterface_->withdrawTableInterfaces();
  orderedTableInterface_ = nullptr;
  central_ = nullptr;
}

bool Agent::runUntil(std::function<bool()> const& done, Quor::EventLoop::Clock::duration timeout) {
  auto const deadline = Quor::EventLoop::Clock::now() + timeout;
  while (!done()) {
    auto const now = Quor::EventLoop::Clock::now();
    if (now >= deadline) {
      return false;
    }
    loop_.runFor(
        std::min<Quor::EventLoop::Clock::duration>(deadline - now, std::chrono::milliseconds(1)));
  }
  return true;
}

}  // namespace Zido
