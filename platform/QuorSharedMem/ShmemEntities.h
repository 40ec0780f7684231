// QuorSharedMem::ShmemEntities: a listing of shared-memory entities, as
// EntityManager::findEntities returns it. Its collection `count` is keyed by
// entity path, one member per entity found, holding the entity's pantry type
// name; it iterates in path order.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "Hunkpool/Pool.h"
#include "Quor/Entity.h"

namespace QuorSharedMem {

// What findEntities lists: any entity, or pantry segments.
enum QuorSharedMemType : std::uint32_t { anyType = 0, pantryType = 1 };

class ShmemEntities : public Quor::Entity {
  HUNKPOOL_CLASS_ALLOCATION(ShmemEntities)

 public:
  // The type name of the entity at `path`; empty when absent.
  std::string count(std::string const& path) const;
  bool countHas(std::string const& path) const { return count_.contains(path); }
  void countIs(std::string const& path, std::string const& typeName);
  std::uint32_t countSize() const noexcept { return static_cast<std::uint32_t>(count_.size()); }
  // Members in path order.
  std::map<std::string, std::string> const& members() const noexcept { return count_; }

  Vesk::TypeData const& typeData() const override { return staticTypeData(); }
  static Vesk::TypeData const& staticTypeData();

 private:
  std::map<std::string, std::string> count_;
};

}  // namespace QuorSharedMem
