// QuorPantry::PantryEntity: an entity whose state is one shared-memory
// collection, mounted at an entity path; and the registry of pantry entity
// types by name, through which a mount group makes the entity of a mount.
//
// A pantry type registers a mount function under its type name (usually with
// registerCollectionEntity<Collection>, or a class of its own derived from
// CollectionEntity). The function receives a MountRequest and mounts the
// collection as the request's mount info says: as the writer, or read-only.
//
// Ownership: the entity holds its collection; a collection control made by
// collectionControl() holds the collection too.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "Hunkpool/Pool.h"
#include "Quor/Entity.h"
#include "QuorPantry/CollectionControl.h"
#include "QuorPantry/MountInfo.h"
#include "Vesk/Exception.h"

namespace QuorPantry {

// One mount, as a mount group hands it to the type's mount function.
struct MountRequest {
  std::string entityPath;
  std::string filePath;
  std::string typeName;
  MountInfo info;
  bool heldBefore = false;  // the path held a segment before
  unsigned fileMode = 0600;

  // The request's collection info; raises Vesk::Exception when it has none or
  // its flag is not 0.
  CollectionInfo const& collection() const;
};

class PantryEntity : public Quor::Entity {
  HUNKPOOL_CLASS_ALLOCATION(PantryEntity)

 public:
  PantryEntity(std::string path, std::string typeName, Vesk::Ptr<Pantry::PantryMapBase> collection);

  std::string const& path() const noexcept { return path_; }
  std::string const& pantryTypeName() const noexcept { return typeName_; }
  Vesk::Ptr<CollectionControl> collectionControl() const;
  Pantry::PantryMapBase& collectionBase() const noexcept { return *collection_; }

  Vesk::TypeData const& typeData() const override { return staticTypeData(); }
  static Vesk::TypeData const& staticTypeData();

 private:
  std::string path_;
  std::string typeName_;
  Vesk::Ptr<Pantry::PantryMapBase> collection_;
};

// Mounts a collection of type Collection (PantryMap or PantryRing) for a
// request.
template <class Collection>
Vesk::Ptr<Collection> mountCollection(MountRequest const& request) {
  CollectionInfo const& info = request.collection();
  if (request.info.writes()) {
    return Collection::mountWriter(request.filePath, info.size, request.typeName, info.name,
                                   request.heldBefore, request.fileMode);
  }
  return Collection::mountReader(request.filePath, info.size, request.typeName, info.name);
}

// A pantry entity that gives typed access to its collection.
template <class Collection>
class CollectionEntity : public PantryEntity {
  HUNKPOOL_CLASS_ALLOCATION(CollectionEntity)

 public:
  CollectionEntity(std::string path, std::string typeName, Vesk::Ptr<Collection> collection)
      : PantryEntity(std::move(path), std::move(typeName), collection),
        collection_(collection.get()) {}

  Collection& collection() const noexcept { return *collection_; }

  static Vesk::Ptr<PantryEntity> mount(MountRequest const& request) {
    return Vesk::Ptr<PantryEntity>(new CollectionEntity(request.entityPath, request.typeName,
                                                        mountCollection<Collection>(request)));
  }

 private:
  Collection* collection_;  // held by the base
};

class PantryTypes {
 public:
  using MountFunction = std::function<Vesk::Ptr<PantryEntity>(MountRequest const&)>;

  // REQUIRES: no type of the same name is registered (raises
  // Vesk::Exception).
  static void registerType(std::string typeName, MountFunction mount);
  // Null when no type of that name is registered.
  static MountFunction const* find(std::string_view typeName);
};

// Registers CollectionEntity<Collection> under `typeName`.
template <class Collection>
void registerCollectionEntity(std::string typeName) {
  PantryTypes::registerType(std::move(typeName), &CollectionEntity<Collection>::mount);
}

}  // namespace QuorPantry
