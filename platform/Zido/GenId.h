// Zido::GenId: a generation id kept in the central state store, so that it
// outlives the agent: a major id that only grows. The agent's relaunch
// generation id lives at Constants::relaunchGenIdPath(agent); a collection
// found wiped at mount bumps it (majorIdInc), so that whoever watches it
// knows the agent lost state.
//
// The id is the scratchpad of a small pantry entity of type
// "Zido::GenIdPantry" in the store's shared-memory namespace.
#pragma once

#include <cstdint>
#include <string>

#include "Centrum/EntityManager.h"
#include "Hunkpool/Pool.h"
#include "QuorPantry/PantryEntity.h"

namespace Zido {

class GenId : public QuorPantry::PantryEntity {
  HUNKPOOL_CLASS_ALLOCATION(GenId)

 public:
  static constexpr char const* pantryTypeName = "Zido::GenIdPantry";

  // Mounts (creating if needed) the generation id at `path` of the store.
  static Vesk::Ptr<GenId> mount(Centrum::EntityManager const& store, std::string const& path);

  std::uint64_t majorId() const noexcept { return collectionBase().scratchpad(); }
  // Raises the major id by `by`; returns the new value.
  std::uint64_t majorIdInc(std::uint64_t by);

  Vesk::TypeData const& typeData() const override { return staticTypeData(); }
  static Vesk::TypeData const& staticTypeData();

 private:
  friend struct GenIdMounter;
  using PantryEntity::PantryEntity;
};

}  // namespace Zido
