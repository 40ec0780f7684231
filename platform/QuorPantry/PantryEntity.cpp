#include "QuorPantry/PantryEntity.h"

#include <fmt/format.h>

#include <map>

#include "Vesk/TypeBuilder.h"

namespace QuorPantry {

namespace {

std::map<std::string, PantryTypes::MountFunction, std::less<>>& types() {
  static auto* registry = new std::map<std::string, PantryTypes::MountFunction, std::less<>>();
  return *registry;
}

}  // namespace

CollectionInfo const& MountRequest::collection() const {
  if (!info.collectionInfo()) {
    throw Vesk::Exception(
        fmt::format("mount of {} as {} names no collection", entityPath, typeName));
  }
  if (info.collectionInfo()->flag != 0) {
    throw Vesk::Exception(fmt::format("mount of {} as {}: collection {} has unknown flag {}",
                                      entityPath, typeName, info.collectionInfo()->name,
                                      info.collectionInfo()->flag));
  }
  return *info.collectionInfo();
}

PantryEntity::PantryEntity(std::string path, std::string typeName,
                           Vesk::Ptr<Pantry::PantryMapBase> collection)
    : path_(std::move(path)), typeName_(std::move(typeName)), collection_(std::move(collection)) {}

Vesk::Ptr<CollectionControl> PantryEntity::collectionControl() const {
  return Vesk::Ptr<CollectionControl>(new CollectionControl(collection_));
}

Vesk::TypeData const& PantryEntity::staticTypeData() {
  static Vesk::TypeData const& type =
      Vesk::TypeBuilder<PantryEntity>("QuorPantry::PantryEntity", &Quor::Entity::staticTypeData())
          .attribute("path", &PantryEntity::path)
          .attribute("pantryTypeName", &PantryEntity::pantryTypeName)
          .attribute("collectionControl", &PantryEntity::collectionControl)
          .done();
  return type;
}

void PantryTypes::registerType(std::string typeName, MountFunction mount) {
  auto [where, inserted] = types().emplace(typeName, std::move(mount));
  if (!inserted) {
    throw Vesk::Exception(fmt::format("pantry type {} is registered twice", typeName));
  }
}

PantryTypes::MountFunction const* PantryTypes::find(std::string_view typeName) {
  auto const found = types().find(typeName);
  return found == types().end() ? nullptr : &found->second;
}

namespace {
[[maybe_unused]] Vesk::TypeData const& registered = PantryEntity::staticTypeData();
}  // namespace

}  // namespace QuorPantry
