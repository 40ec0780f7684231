#include "Centrum/EntityManager.h"

#include "QuorSharedMem/EntityManager.h"
#include "Vesk/TypeBuilder.h"

namespace Centrum {

namespace {

using EntityTable = std::map<std::string, Vesk::Ptr<Quor::Entity>>;

// The tables of placed entities, one per (name, local) in the process.
std::shared_ptr<EntityTable> tableOf(std::string const& name, bool local) {
  static auto* tables = new std::map<std::pair<std::string, bool>, std::weak_ptr<EntityTable>>();
  std::weak_ptr<EntityTable>& slot = (*tables)[{name, local}];
  std::shared_ptr<EntityTable> table = slot.lock();
  if (!table) {
    table = std::make_shared<EntityTable>();
    slot = table;
  }
  return table;
}

}  // namespace

EntityManager::EntityManager(std::string name, bool local)
    : name_(std::move(name)), local_(local), entities_(tableOf(name_, local_)) {}

Vesk::Ptr<Quor::Entity> EntityManager::getEntity(std::string const& path) const {
  if (auto const found = entities_->find(path); found != entities_->end()) {
    return found->second;
  }
  auto shared = sharedMemory();
  if (Vesk::Ptr<Quor::Entity> mounted = shared->getEntity(path)) {
    return mounted;
  }
  try {
    return shared->mountExisting(path, QuorPantry::MountInfo::writer);
  } catch (Vesk::Exception const&) {
    return nullptr;  // not a valid path, or not a segment this process can mount
  }
}

void EntityManager::entityIs(std::string const& path, Vesk::Ptr<Quor::Entity> const& entity) {
  if (entity) {
    (*entities_)[path] = entity;
  } else {
    entities_->erase(path);
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
