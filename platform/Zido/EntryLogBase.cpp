#include "Zido/EntryLogBase.h"

#include "Vesk/TypeBuilder.h"
#include "Zido/GroupInterface.h"

namespace Zido {

EntryLogBase::EntryLogBase(SwTableId tableId, Vesk::Ptr<Centrum::EntityManager> entityManager,
                           Vesk::Ptr<GroupInterface> groupInterface, std::string agentName)
    : tableId_(tableId),
      entityManager_(std::move(entityManager)),
      groupInterface_(std::move(groupInterface)),
      agentName_(std::move(agentName)) {}

EntryLogBase::~EntryLogBase() = default;

void EntryLogBase::tableVersionIs(LogVersion version) {
  if (version != tableVersion_) {
    tableVersion_ = version;
    publisher().publish(*this, "tableVersion");
  }
}

LogVersion EntryLogBase::tableVersionInc(LogVersion by) {
  tableVersionIs(tableVersion_ + by);
  return tableVersion_;
}

void EntryLogBase::cleanupVersionIs(LogVersion version) {
  if (version != cleanupVersion_) {
    cleanupVersion_ = version;
    publisher().publish(*this, "cleanupVersion");
  }
}

Vesk::TypeData const& EntryLogBase::staticTypeData() {
  static Vesk::TypeData const& type =
      Vesk::TypeBuilder<EntryLogBase>("Zido::EntryLogBase", &Quor::Entity::staticTypeData())
          .attribute("tableId", [](EntryLogBase const& log) { return log.tableId().value(); })
          .attribute("agentName", &EntryLogBase::agentName)
          .attribute("tableVersion", &EntryLogBase::tableVersion)
          .attribute("cleanupVersion", &EntryLogBase::cleanupVersion)
          .operation("tableVersionInc", &EntryLogBase::tableVersionInc)
          .done();
  return type;
}

namespace {
[[maybe_unused]] Vesk::TypeData const& registered = EntryLogBase::staticTypeData();
}  // namespace

}  // namespace Zido
