#include "QuorPantry/CollectionControl.h"

#include "Vesk/TypeBuilder.h"

namespace QuorPantry {

CollectionControl::CollectionControl(Vesk::Ptr<Pantry::PantryMapBase> collection)
    : collection_(std::move(collection)) {}

Vesk::TypeData const& CollectionControl::staticTypeData() {
  static Vesk::TypeData const& type =
      Vesk::TypeBuilder<CollectionControl>("QuorPantry::CollectionControl",
                                           &Quor::Entity::staticTypeData())
          .attribute("wiped", &CollectionControl::wiped)
          .attribute("scratchpad", &CollectionControl::scratchpad, &CollectionControl::scratchpadIs)
          .operation("clearWiped", &CollectionControl::clearWiped)
          .done();
  return type;
}

namespace {
[[maybe_unused]] Vesk::TypeData const& registered = CollectionControl::staticTypeData();
}  // namespace

}  // namespace QuorPantry
