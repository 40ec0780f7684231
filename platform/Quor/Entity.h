// Quor::Entity: the base of the platform's entities, and the process's
// registry of singletons by type name.
//
// A singleton is an entity of which a process holds at most one, found by its
// class's reflection name. singletonIs makes it through the class's creator
// (Vesk::TypeData::create) the first time and keeps a counted reference to it
// until singletonDel.
//
// Thread safety: the registry belongs to the agent's thread.
#pragma once

#include <string_view>

#include "Vesk/Node.h"
#include "Vesk/Ptr.h"

namespace Quor {

class Entity : public Vesk::Node {
 public:
  // Told of the entity's parent; entities that keep no parent ignore it.
  virtual void handleParent(Vesk::Ptr<Entity> const& parent);

  Vesk::TypeData const& typeData() const override { return staticTypeData(); }
  static Vesk::TypeData const& staticTypeData();

  // The singleton of the class named `typeName`, or null.
  static Vesk::Ptr<Entity> singletonExists(std::string_view typeName);
  // The singleton of the class named `typeName`, made now if there is none.
  // Raises Vesk::ReflectionError when the class is unknown, cannot be made
  // through reflection, or is not an entity.
  static Vesk::Ptr<Entity> singletonIs(std::string_view typeName);
  // Releases the registry's reference to the singleton, if any.
  static void singletonDel(std::string_view typeName);
};

}  // namespace Quor
