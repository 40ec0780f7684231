#include "Vesk/Node.h"

#include <limits>

#include "Vesk/TypeBuilder.h"

namespace Vesk {

void Node::beingDestroyedIs() noexcept {
  beingDestroyed_ = true;
  // Half the range: counted references taken and released during destruction
  // move the count around this value and never back to zero.
  refCount_.store(std::numeric_limits<std::uint32_t>::max() / 2, std::memory_order_relaxed);
}

void Node::lastUserGone() {
  beingDestroyedIs();
  delete this;
}

TypeData const& Node::staticTypeData() {
  static TypeData const& type = TypeBuilder<Node>("Vesk::Node", nullptr).done();
  return type;
}

namespace {
[[maybe_unused]] TypeData const& registered = Node::staticTypeData();
}  // namespace

}  // namespace Vesk
