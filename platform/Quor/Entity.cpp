#include "Quor/Entity.h"

#include <fmt/format.h>

#include <map>
#include <string>

#include "Vesk/Exception.h"
#include "Vesk/TypeBuilder.h"

namespace Quor {

namespace {

std::map<std::string, Vesk::Ptr<Entity>, std::less<>>& singletons() {
  static std::map<std::string, Vesk::Ptr<Entity>, std::less<>> registry;
  return registry;
}

}  // namespace

void Entity::handleParent(Vesk::Ptr<Entity> const&) {}

Vesk::TypeData const& Entity::staticTypeData() {
  static Vesk::TypeData const& type =
      Vesk::TypeBuilder<Entity>("Quor::Entity", &Vesk::Node::staticTypeData())
          .operation("handleParent", &Entity::handleParent)
          .done();
  return type;
}

Vesk::Ptr<Entity> Entity::singletonExists(std::string_view typeName) {
  auto const found = singletons().find(typeName);
  return found == singletons().end() ? nullptr : found->second;
}

Vesk::Ptr<Entity> Entity::singletonIs(std::string_view typeName) {
  if (Vesk::Ptr<Entity> existing = singletonExists(typeName)) {
    return existing;
  }
  Vesk::TypeData const& type = Vesk::TypeRegistry::get(typeName);
  Vesk::Ptr<Entity> made = Vesk::dynamicPtrCast<Entity>(type.create({}));
  if (!made) {
    throw Vesk::ReflectionError(fmt::format("{} is not a Quor::Entity", typeName));
  }
  singletons().emplace(std::string(typeName), made);
  return made;
}

void Entity::singletonDel(std::string_view typeName) {
  auto const found = singletons().find(typeName);
  if (found != singletons().end()) {
    singletons().erase(found);
  }
}

namespace {
[[maybe_unused]] Vesk::TypeData const& registered = Entity::staticTypeData();
}  // namespace

}  // namespace Quor
