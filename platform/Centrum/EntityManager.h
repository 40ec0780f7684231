// Centrum::EntityManager: the agent's handle on the central state store.
//
// The store is identified by a name and a local flag, the same pair that
// selects the shared-memory namespace of the system
// (QuorSharedMem::EntityManager::getEntityManager(name, local)). Entities of
// the store are found by path:
//   - entities placed with entityIs, shared by every manager of the same name
//     and flag in the process;
//   - otherwise the pantry entity of that path in the store's shared-memory
//     namespace, mounted (as its writer) on first use. State that must outlive
//     a restart of the agent (such as the relaunch generation ids) lives
//     there, so a restarted agent finds it by path.
//
// Thread safety: belongs to the agent's thread.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "Hunkpool/Pool.h"
#include "Quor/Entity.h"

namespace QuorSharedMem {
class EntityManager;
}

namespace Centrum {

class EntityManager : public Quor::Entity {
  HUNKPOOL_CLASS_ALLOCATION(EntityManager)

 public:
  EntityManager(std::string name, bool local);

  std::string const& name() const noexcept { return name_; }
  bool local() const noexcept { return local_; }

  // The entity at `path`, or null.
  Vesk::Ptr<Quor::Entity> getEntity(std::string const& path) const;
  // Places `entity` at `path` (null removes it).
  void entityIs(std::string const& path, Vesk::Ptr<Quor::Entity> const& entity);
  // The shared-memory namespace of the store.
  Vesk::Ptr<QuorSharedMem::EntityManager> sharedMemory() const;

  Vesk::TypeData const& typeData() const override { return staticTypeData(); }
  static Vesk::TypeData const& staticTypeData();

 private:
  std::string name_;
  bool local_;
  std::shared_ptr<std::map<std::string, Vesk::Ptr<Quor::Entity>>> entities_;
};

}  // namespace Centrum
