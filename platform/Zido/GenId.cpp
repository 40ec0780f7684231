#include "Zido/GenId.h"

#include "Pantry/PantryRing.h"
#include "QuorSharedMem/EntityManager.h"
#include "Vesk/TypeBuilder.h"

namespace Zido {

namespace {

// The segment needs a collection; the id itself is its scratchpad.
struct GenIdRecord {
  std::uint64_t generation = 0;
};
struct GenIdKeyOf {
  using Key = std::uint64_t;
  static Key key(GenIdRecord const& record) { return record.generation; }
};
using GenIdRing = Pantry::PantryRing<GenIdRecord, GenIdKeyOf>;

}  // namespace

struct GenIdMounter {
  static Vesk::Ptr<QuorPantry::PantryEntity> mount(QuorPantry::MountRequest const& request) {
    return Vesk::Ptr<QuorPantry::PantryEntity>(new GenId(
        request.entityPath, request.typeName, QuorPantry::mountCollection<GenIdRing>(request)));
  }
};

namespace {
[[maybe_unused]] bool const pantryTypeRegistered = [] {
  QuorPantry::PantryTypes::registerType(GenId::pantryTypeName, &GenIdMounter::mount);
  return true;
}();
}  // namespace

Vesk::Ptr<GenId> GenId::mount(Centrum::EntityManager const& store, std::string const& path) {
  auto manager = store.sharedMemory();
  QuorPantry::MountInfo info(QuorPantry::MountInfo::writer);
  info.collectionInfoIs(QuorPantry::CollectionInfo{"generation", 4, 0});
  auto group = manager->getMountGroup();
  group->mount(path, pantryTypeName, info);
  group->doClose();
  return Vesk::dynamicPtrCast<GenId>(manager->getEntity(path));
}

std::uint64_t GenId::majorIdInc(std::uint64_t by) {
  collectionBase().scratchpadIs(majorId() + by);
  publisher().publish(*this, "majorId");
  return majorId();
}

Vesk::TypeData const& GenId::staticTypeData() {
  static Vesk::TypeData const& type =
      Vesk::TypeBuilder<GenId>("Zido::GenId", &QuorPantry::PantryEntity::staticTypeData())
          .attribute("majorId", &GenId::majorId)
          .operation("majorIdInc", &GenId::majorIdInc)
          .done();
  return type;
}

namespace {
[[maybe_unused]] Vesk::TypeData const& registered = GenId::staticTypeData();
}  // namespace

}  // namespace Zido
