#include "Zido/OrderedSwTableSet.h"

#include <absl/container/inlined_vector.h>

#include <exception>

#include "Quor/Log.h"

#include "Vesk/TypeBuilder.h"
#include "Zido/SwTable.h"

namespace Zido {

namespace {

QUOR_LOG_DESCRIPTOR(statusFailedDescriptor, "TABLE_STATUS_VERSION_FAILED",
                    "Hardware progress could not be applied to table %s",
                    "A table raised an error while completing the operations the hardware took",
                    "Check the table's client and its logs", 3);

Quor::LogHandle statusFailedLog(statusFailedDescriptor, Quor::LogHandle::Seconds(1), 1.0, 10, 0);

}  // namespace

void OrderedSwTableStatus::pendingHwWritesIs(bool pending) {
  if (pending != pendingHwWrites_) {
    pendingHwWrites_ = pending;
    publisher().publish(*this, "pendingHwWrites");
  }
}

Vesk::TypeData const& OrderedSwTableStatus::staticTypeData() {
  static Vesk::TypeData const& type =
      Vesk::TypeBuilder<OrderedSwTableStatus>("Zido::OrderedSwTableStatus",
                                              &Quor::Entity::staticTypeData())
          .attribute("tableId",
                     [](OrderedSwTableStatus const& status) { return status.tableId().value(); })
          .attribute("pendingHwWrites", &OrderedSwTableStatus::pendingHwWrites,
                     &OrderedSwTableStatus::pendingHwWritesIs)
          .done();
  return type;
}

OrderedSwTableSet::OrderedSwTableSet(SwTableId tableId, Vesk::Ptr<OrderedSwTableStatus> status)
    : tableId_(tableId), status_(std::move(status)) {}

OrderedSwTableSet::~OrderedSwTableSet() = default;

Vesk::Ptr<OrderedSwTable> OrderedSwTableSet::swTable(UnitId unitId) const {
  auto const found = tables_.find(unitId);
  return found == tables_.end() ? nullptr : found->second;
}

void OrderedSwTableSet::swTableIs(Vesk::Ptr<OrderedSwTable> const& table) {
  Vesk::Ptr<OrderedSwTable>& held = tables_[table->unitId()];
  if (held != table) {
    held = table;
    publisher().publishKey(*this, "swTable", table->unitId());
  }
}

Vesk::Ptr<OrderedSwTable> OrderedSwTableSet::swTableDel(UnitId unitId) {
  auto const found = tables_.find(unitId);
  if (found == tables_.end()) {
    return nullptr;
  }
  Vesk::Ptr<OrderedSwTable> removed = std::move(found->second);
  tables_.erase(found);
  publisher().publishKey(*this, "swTable", unitId);
  return removed;
}

void OrderedSwTableSet::maybeUpdatePendingHwWrites() {
  bool pending = false;
  for (auto const& [unitId, table] : tables_) {
    if (table->hasPendingHwWrites()) {
      pending = true;
      break;
    }
  }
  if (status_) {
    status_->pendingHwWritesIs(pending);
  }
}

void OrderedSwTableSet::maybeUpdatePendingHwWrites(OrderedSwTable const& changed) {
  if (!changed.hasPendingHwWrites()) {
    maybeUpdatePendingHwWrites();
  } else if (status_) {
    status_->pendingHwWritesIs(true);
  }
}

void OrderedSwTableSet::tableStatusVersion(LogVersion version) {
  // A copy, since a table's handlers may change the set; inline up to eight
  // units, so that a version costs no allocation.
  absl::InlinedVector<std::pair<UnitId, Vesk::Ptr<OrderedSwTable>>, 8> const tables(tables_.begin(),
                                                                                    tables_.end());
  for (auto const& [unitId, table] : tables) {
    try {
      table->tableStatusVersion(version);
    } catch (std::exception const& error) {
      // A client's response handler failed; the other tables still get the
      // version.
      Quor::log(statusFailedLog, fmt::format("{} unit {}: {}", tableId_, unitId, error.what()));
    }
  }
  maybeUpdatePendingHwWrites();
}

Vesk::TypeData const& OrderedSwTableSet::staticTypeData() {
  using Binding = Vesk::CollectionBinding<OrderedSwTableSet, UnitId, Vesk::Ptr<OrderedSwTable>>;
  static Vesk::TypeData const& type =
      Vesk::TypeBuilder<OrderedSwTableSet>("Zido::OrderedSwTableSet",
                                           &Quor::Entity::staticTypeData())
          .attribute("tableId", [](OrderedSwTableSet const& set) { return set.tableId().value(); })
          .attribute("status", &OrderedSwTableSet::status)
          .collection<UnitId, Vesk::Ptr<OrderedSwTable>>(
              "swTable",
              Binding{.lookup = &OrderedSwTableSet::swTable,
                      .has = &OrderedSwTableSet::swTableHas,
                      .count = [](OrderedSwTableSet const& set) { return set.swTables().size(); },
                      .forEach =
                          [](OrderedSwTableSet const& set, auto const& visit) {
                            for (auto const& [unitId, table] : set.swTables()) {
                              if (!visit(unitId, table)) {
                                return;
                              }
                            }
                          },
                      .insert = &OrderedSwTableSet::swTableIs,
                      .del = &OrderedSwTableSet::swTableDel})
          .operation("maybeUpdatePendingHwWrites",
                     [](OrderedSwTableSet& set) { set.maybeUpdatePendingHwWrites(); })
          .done();
  return type;
}

namespace {
[[maybe_unused]] Vesk::TypeData const& statusRegistered = OrderedSwTableStatus::staticTypeData();
[[maybe_unused]] Vesk::TypeData const& setRegistered = OrderedSwTableSet::staticTypeData();
}  // namespace

}  // namespace Zido
