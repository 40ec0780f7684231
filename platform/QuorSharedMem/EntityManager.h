// QuorSharedMem::EntityManager: the shared-memory entities of one namespace.
//
// Where the files live. Every mounted entity is a segment file under the
// shared-memory root: the directory named by the environment variable
// ZADU_SHM_ROOT, or /dev/shm/zadulpm when it is unset. A manager is selected
// by a name and a local flag:
//   - local = true: this node's own namespace, <root>/local/<name>/;
//   - local = false: the namespace shared by every agent of the system on this
//     machine, <root>/shared/<name>/.
// An agent that is told (by the environment variable NOT_LOCAL_EM) that it
// runs outside its node's private namespace asks for local = false, so that
// it finds the entities where the other agents of the system keep them.
// The entity at path a/b/c lives in <namespace>/a/b/c.pantry.
//
// Permissions: new files are owner-only (0600, directories 0700). With
// ZADU_SHM_GROUP_READ=1 in the writer's environment, new files are 0640 and
// directories 0750, so that processes of the owner's group can mount them
// read-only. Existing files keep their mode.
//
// Paths held: the namespace keeps the list of entity paths whose segment a
// writer has created (<namespace>/.known-paths). A writer mount of a path on
// that list whose file is missing or invalid recreates it with the wiped
// mark set; a path never held is simply created.
//
// Entity paths are relative, '/'-separated, and made of letters, digits and
// "_-.:" with no empty, "." or ".." component; any other path raises
// Vesk::Exception.
//
// Thread safety: managers belong to the agent's thread.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "Hunkpool/Pool.h"
#include "Quor/Entity.h"
#include "QuorPantry/PantryEntity.h"
#include "QuorSharedMem/MountGroup.h"
#include "QuorSharedMem/RootPaths.h"
#include "QuorSharedMem/ShmemEntities.h"

namespace QuorSharedMem {

class EntityManager : public Quor::Entity {
  HUNKPOOL_CLASS_ALLOCATION(EntityManager)

 public:
  // The manager of (name, local); the same object for the same arguments
  // within a process.
  static Vesk::Ptr<EntityManager> getEntityManager(std::string const& name, bool local);

  std::string const& name() const noexcept { return name_; }
  bool local() const noexcept { return local_; }
  // The namespace's directory.
  std::string const& directory() const noexcept { return directory_; }

  // A new mount group of this manager.
  Vesk::Ptr<MountGroup> getMountGroup();
  // The entity mounted at `path` in this process, or null.
  Vesk::Ptr<Quor::Entity> getEntity(std::string const& path) const;
  // The entities of `type` that exist in the namespace strictly under `path`
  // (mounted or not), keyed by entity path.
  Vesk::Ptr<ShmemEntities> findEntities(std::string const& path, QuorSharedMemType type) const;

  // The segment file of an entity path. Raises Vesk::Exception for a path
  // that is not valid.
  std::string filePathOf(std::string const& path) const;
  // Whether a writer ever created the segment of `path`.
  bool heldBefore(std::string const& path) const;
  // Mounts the existing segment of `path` with the type name, collection
  // name and capacity recorded in its header, as writer or read-only
  // (QuorPantry::MountInfo::PantryType); returns the entity, or null when
  // there is no valid segment at the path. Raises what the mount raises.
  Vesk::Ptr<QuorPantry::PantryEntity> mountExisting(std::string const& path,
                                                    std::uint32_t pantryType);
  // Drops this process's reference to the entity at `path`; a writer mount
  // releases its lock when the last reference goes. The segment stays.
  void unmount(std::string const& path);

  Vesk::TypeData const& typeData() const override { return staticTypeData(); }
  static Vesk::TypeData const& staticTypeData();

 private:
  friend class MountGroup;
  EntityManager(std::string name, bool local);

  // Mounts one request of a mount group and records the entity.
  void mount(std::string const& path, std::string const& typeName,
             QuorPantry::MountInfo const& info);
  void recordHeld(std::string const& path) const;

  std::string name_;
  bool local_;
  std::string root_;  // the shared-memory root when the manager was made
  std::string directory_;
  std::map<std::string, Vesk::Ptr<QuorPantry::PantryEntity>> mounted_;
};

}  // namespace QuorSharedMem
