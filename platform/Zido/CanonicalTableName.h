// Zido::CanonicalTableName: the name of a software table: an ordered-table
// type and three strings (group name, namespace, table name).
#pragma once

#include <cstdint>
#include <string>

#include "Hunkpool/Pool.h"
#include "Quor/Entity.h"

namespace Zido {

class CanonicalTableName : public Quor::Entity {
  HUNKPOOL_CLASS_ALLOCATION(CanonicalTableName)

 public:
  // Ordered-table type 0 is a table whose operations the group resolver
  // orders; no other type exists yet.
  CanonicalTableName(std::uint32_t orderedTableType, std::string groupName,
                     std::string tableNamespace, std::string tableName);

  std::uint32_t orderedTableType() const noexcept { return orderedTableType_; }
  std::string const& groupName() const noexcept { return groupName_; }
  std::string const& tableNamespace() const noexcept { return tableNamespace_; }
  std::string const& tableName() const noexcept { return tableName_; }
  // "group/namespace/table".
  std::string text() const;

  Vesk::TypeData const& typeData() const override { return staticTypeData(); }
  static Vesk::TypeData const& staticTypeData();

 private:
  std::uint32_t orderedTableType_;
  std::string groupName_;
  std::string tableNamespace_;
  std::string tableName_;
};

}  // namespace Zido
