#include "Centrum/EntityManager.h"

#include "QuorSharedMem/EntityManager.h"
#include "Vesk/TypeBuilder.h"

namespace Centrum {

EntityManager::EntityManager(std::string name, bool local)
    : name_(std::move(name)), local_(local) {}

Vesk::Ptr<Quor::Entity> EntityManager::getEntity(std::string const& path) const {
  auto const found = entities_.find(path);
  return found == entities_.end() ? nullptr : found->second;
}

void EntityManager::entityIs(std::string const& path, Vesk::Ptr<Quor::Entity> const& entity) {
  if (entity) {
    entities_[path] = entity;
  } else {
    entities_.erase(path);
  }
}

Vesk::Ptr<QuorSharedMem::EntityManager> EntityManager::sharedMemory() const {
  return QuorSharedMem::EntityManager::getEntityManager(name_, local_);
}

Vesk::TypeData const& EntityManager::staticTypeData() {
  static Vesk::TypeData const& type =
      Vesk::TypeBuilder<EntityManager>("Centrum::EntityManager", &Quor::Entity::staticTypeData())
          .attribute("name", &EntityManager::name)
          .attribute("local", &EntityManager::local)
          .operation("getEntity", &EntityManager::getEntity)
          .done();
  return type;
}

namespace {
[[maybe_unused]] Vesk::TypeData const& registered = EntityManager::staticTypeData();
}  // namespace

}  // namespace Centrum
