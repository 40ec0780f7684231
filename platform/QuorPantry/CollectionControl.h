// QuorPantry::CollectionControl: the control words of one mounted collection:
// its wiped mark and its persistent 64-bit scratchpad.
//
// The wiped mark is set when a writer mount found that the collection had
// held data that was lost (a missing, truncated or invalid file, or damaged
// records); the owner reacts and then clears it. The scratchpad keeps one word
// across restarts (the entry log keeps its table version there).
//
// Ownership: holds a counted reference to its collection.
#pragma once

#include <cstdint>

#include "Hunkpool/Pool.h"
#include "Pantry/PantryMapBase.h"
#include "Quor/Entity.h"

namespace QuorPantry {

class CollectionControl : public Quor::Entity {
  HUNKPOOL_CLASS_ALLOCATION(CollectionControl)

 public:
  explicit CollectionControl(Vesk::Ptr<Pantry::PantryMapBase> collection);

  bool wiped() const noexcept { return collection_->wiped(); }
  void clearWiped() { collection_->clearWiped(); }
  std::uint64_t scratchpad() const noexcept { return collection_->scratchpad(); }
  void scratchpadIs(std::uint64_t value) { collection_->scratchpadIs(value); }
  Vesk::Ptr<Pantry::PantryMapBase> const& collection() const noexcept { return collection_; }

  Vesk::TypeData const& typeData() const override { return staticTypeData(); }
  static Vesk::TypeData const& staticTypeData();

 private:
  Vesk::Ptr<Pantry::PantryMapBase> collection_;
};

}  // namespace QuorPantry
