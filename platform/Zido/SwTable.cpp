#include "Zido/SwTable.h"

#include "Vesk/TypeBuilder.h"
#include "Zido/OrderedSwTableSet.h"

namespace Zido {

SwTableBase::SwTableBase(Vesk::Ptr<CanonicalTableName const> name, SwTableId tableId)
    : name_(std::move(name)), tableId_(tableId) {}

void SwTableBase::doCreateHwTable() {}

void SwTableBase::doCreateHwTableResponse() {}

Vesk::TypeData const& SwTableBase::staticTypeData() {
  static Vesk::TypeData const& type =
      Vesk::TypeBuilder<SwTableBase>("Zido::SwTableBase", &Quor::Entity::staticTypeData())
          .attribute("name",
                     [](SwTableBase const& table) {
                       return Vesk::constPtrCast<CanonicalTableName>(table.name());
                     })
          .attribute("tableId", [](SwTableBase const& table) { return table.tableId().value(); })
          .operation("doCreateHwTable", &SwTableBase::doCreateHwTable)
          .operation("doCreateHwTableResponse", &SwTableBase::doCreateHwTableResponse)
          .done();
  return type;
}

void NamedSwTable::reconcile() {}

Vesk::TypeData const& NamedSwTable::staticTypeData() {
  static Vesk::TypeData const& type =
      Vesk::TypeBuilder<NamedSwTable>("Zido::NamedSwTable", &SwTableBase::staticTypeData())
          .operation("reconcile", &NamedSwTable::reconcile)
          .done();
  return type;
}

OrderedSwTable::OrderedSwTable(Vesk::Ptr<CanonicalTableName const> name, SwTableId tableId,
                               UnitId unitId, OrderedSwTableSet* swTableSet)
    : NamedSwTable(std::move(name), tableId), unitId_(unitId), swTableSet_(swTableSet) {}

OrderedSwTable::~OrderedSwTable() = default;

void OrderedSwTable::statsIs() {
  stats_ = new SwTableStats();
  publisher().publish(*this, "stats");
}

void OrderedSwTable::statusIs(Vesk::Ptr<OrderedSwTableStatus> const& status) {
  if (status != status_) {
    status_ = status;
    publisher().publish(*this, "status");
  }
}

Vesk::TypeData const& OrderedSwTable::staticTypeData() {
  static Vesk::TypeData const& type =
      Vesk::TypeBuilder<OrderedSwTable>("Zido::OrderedSwTable", &NamedSwTable::staticTypeData())
          .attribute("unitId", &OrderedSwTable::unitId)
          .attribute("stats", &OrderedSwTable::stats)
          .attribute("status", &OrderedSwTable::status, &OrderedSwTable::statusIs)
          .operation("tableStatusVersion", &OrderedSwTable::tableStatusVersion)
          .operation("hasPendingHwWrites", &OrderedSwTable::hasPendingHwWrites)
          .done();
  return type;
}

namespace {
[[maybe_unused]] Vesk::TypeData const& baseRegistered = SwTableBase::staticTypeData();
[[maybe_unused]] Vesk::TypeData const& namedRegistered = NamedSwTable::staticTypeData();
[[maybe_unused]] Vesk::TypeData const& orderedRegistered = OrderedSwTable::staticTypeData();
}  // namespace

}  // namespace Zido
