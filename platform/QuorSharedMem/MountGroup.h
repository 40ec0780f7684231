// QuorSharedMem::MountGroup: a batch of mounts of one entity manager.
//
// mount() queues a request; doClose() performs the queued mounts in order:
// each creates, validates or repairs its segment (Pantry::Segment) and makes
// the entity through its registered pantry type. An error stops doClose and
// propagates; the mounts before it stay mounted, the rest stay queued.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "Hunkpool/Pool.h"
#include "Quor/Entity.h"
#include "QuorPantry/MountInfo.h"

namespace QuorSharedMem {

class EntityManager;

class MountGroup : public Quor::Entity {
  HUNKPOOL_CLASS_ALLOCATION(MountGroup)

 public:
  explicit MountGroup(Vesk::Ptr<EntityManager> manager);

  // Queues the mount of `path` as an entity of `typeName`; returns the number
  // of mounts queued.
  std::size_t mount(std::string const& path, std::string const& typeName,
                    QuorPantry::MountInfo const& info);
  // Performs the queued mounts.
  void doClose();
  std::size_t pending() const noexcept { return queued_.size(); }

  Vesk::TypeData const& typeData() const override { return staticTypeData(); }
  static Vesk::TypeData const& staticTypeData();

 private:
  struct Request {
    std::string path;
    std::string typeName;
    QuorPantry::MountInfo info;
  };

  Vesk::Ptr<EntityManager> manager_;
  std::vector<Request> queued_;
};

}  // namespace QuorSharedMem
