#include "QuorSharedMem/ShmemEntities.h"

#include "Vesk/TypeBuilder.h"

namespace QuorSharedMem {

std::string ShmemEntities::count(std::string const& path) const {
  auto const found = count_.find(path);
  return found == count_.end() ? std::string() : found->second;
}

void ShmemEntities::countIs(std::string const& path, std::string const& typeName) {
  count_[path] = typeName;
}

Vesk::TypeData const& ShmemEntities::staticTypeData() {
  using Binding = Vesk::CollectionBinding<ShmemEntities, std::string, std::string>;
  static Vesk::TypeData const& type =
      Vesk::TypeBuilder<ShmemEntities>("QuorSharedMem::ShmemEntities",
                                       &Quor::Entity::staticTypeData())
          .collection<std::string, std::string>(
              "count", Binding{.lookup = &ShmemEntities::count,
                               .has = &ShmemEntities::countHas,
                               .count = &ShmemEntities::countSize,
                               .forEach =
                                   [](ShmemEntities const& listing, auto const& visit) {
                                     for (auto const& [path, typeName] : listing.members()) {
                                       if (!visit(path, typeName)) {
                                         return;
                                       }
                                     }
                                   },
                               .insertAt = &ShmemEntities::countIs})
          .done();
  return type;
}

namespace {
[[maybe_unused]] Vesk::TypeData const& registered = ShmemEntities::staticTypeData();
}  // namespace

}  // namespace QuorSharedMem
