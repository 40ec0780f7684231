#include "Zido/CanonicalTableName.h"

#include <fmt/format.h>

#include "Vesk/TypeBuilder.h"

namespace Zido {

CanonicalTableName::CanonicalTableName(std::uint32_t orderedTableType, std::string groupName,
                                       std::string tableNamespace, std::string tableName)
    : orderedTableType_(orderedTableType),
      groupName_(std::move(groupName)),
      tableNamespace_(std::move(tableNamespace)),
      tableName_(std::move(tableName)) {}

std::string CanonicalTableName::text() const {
  return fmt::format("{}/{}/{}", groupName_, tableNamespace_, tableName_);
}

Vesk::TypeData const& CanonicalTableName::staticTypeData() {
  static Vesk::TypeData const& type =
      Vesk::TypeBuilder<CanonicalTableName>("Zido::CanonicalTableName",
                                            &Quor::Entity::staticTypeData())
          .attribute("orderedTableType", &CanonicalTableName::orderedTableType)
          .attribute("groupName", &CanonicalTableName::groupName)
          .attribute("tableNamespace", &CanonicalTableName::tableNamespace)
          .attribute("tableName", &CanonicalTableName::tableName)
          .creator("CanonicalTableNameIs",
                   [](std::uint32_t type, std::string const& group, std::string const& space,
                      std::string const& table) {
                     return Vesk::Ptr<CanonicalTableName>(
                         new CanonicalTableName(type, group, space, table));
                   })
          .done();
  return type;
}

namespace {
[[maybe_unused]] Vesk::TypeData const& registered = CanonicalTableName::staticTypeData();
}  // namespace

}  // namespace Zido
