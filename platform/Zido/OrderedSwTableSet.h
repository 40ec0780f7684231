// Zido::OrderedSwTableStatus and Zido::OrderedSwTableSet.
//
// The status of a table id says whether any of its tables has changes the
// hardware has not taken (pendingHwWrites). The set holds the software table
// of each unit of a table id, and recomputes the status from its tables'
// hasPendingHwWrites when asked (maybeUpdatePendingHwWrites).
//
// Ownership: the set holds its tables and its status by counted reference.
#pragma once

#include <map>

#include "Hunkpool/Pool.h"
#include "Quor/Entity.h"
#include "Zido/Identifiers.h"

namespace Zido {

class OrderedSwTable;

class OrderedSwTableStatus : public Quor::Entity {
  HUNKPOOL_CLASS_ALLOCATION(OrderedSwTableStatus)

 public:
  explicit OrderedSwTableStatus(SwTableId tableId) : tableId_(tableId) {}

  SwTableId tableId() const noexcept { return tableId_; }
  bool pendingHwWrites() const noexcept { return pendingHwWrites_; }
  void pendingHwWritesIs(bool pending);

  Vesk::TypeData const& typeData() const override { return staticTypeData(); }
  static Vesk::TypeData const& staticTypeData();

 private:
  SwTableId tableId_;
  bool pendingHwWrites_ = false;
};

class OrderedSwTableSet : public Quor::Entity {
  HUNKPOOL_CLASS_ALLOCATION(OrderedSwTableSet)

 public:
  OrderedSwTableSet(SwTableId tableId, Vesk::Ptr<OrderedSwTableStatus> status);
  ~OrderedSwTableSet() override;

  SwTableId tableId() const noexcept { return tableId_; }
  Vesk::Ptr<OrderedSwTableStatus> const& status() const noexcept { return status_; }

  // The table of `unitId`, or null.
  Vesk::Ptr<OrderedSwTable> swTable(UnitId unitId) const;
  bool swTableHas(UnitId unitId) const { return tables_.contains(unitId); }
  // Holds `table` under its unit id, replacing a table held there.
  void swTableIs(Vesk::Ptr<OrderedSwTable> const& table);
  Vesk::Ptr<OrderedSwTable> swTableDel(UnitId unitId);
  std::map<UnitId, Vesk::Ptr<OrderedSwTable>> const& swTables() const noexcept { return tables_; }

  // Sets the status's pendingHwWrites from the tables' hasPendingHwWrites.
  void maybeUpdatePendingHwWrites();
  // The same after a change to `changed` alone: when it has writes pending,
  // so has the set, and the other tables are not asked (an accept or a
  // commit thus costs one question, not one per unit).
  void maybeUpdatePendingHwWrites(OrderedSwTable const& changed);
  // Tells every table the hardware's table status version, then updates the
  // pending state. A table that raises is logged (TABLE_STATUS_VERSION_FAILED)
  // and the others still get the version.
  void tableStatusVersion(LogVersion version);

  Vesk::TypeData const& typeData() const override { return staticTypeData(); }
  static Vesk::TypeData const& staticTypeData();

 private:
  SwTableId tableId_;
  Vesk::Ptr<OrderedSwTableStatus> status_;
  std::map<UnitId, Vesk::Ptr<OrderedSwTable>> tables_;
};

}  // namespace Zido
