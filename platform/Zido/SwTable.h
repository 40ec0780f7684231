// The bases of every software table of the framework:
//
//   SwTableBase     a named table with a table id; creates its hardware table
//                   (doCreateHwTable, doCreateHwTableResponse: no-ops here).
//   NamedSwTable    adds reconcile, called when the framework reconciles the
//                   table with persisted state (a no-op here).
//   OrderedSwTable  a table whose operations the group resolver orders: it
//                   serves one hardware unit, belongs to a table set, has a
//                   statistics record and a status, and is told the table
//                   status version (the log version the hardware has taken).
//
// Thread safety: the agent's thread.
#pragma once

#include "Hunkpool/Pool.h"
#include "Quor/Entity.h"
#include "Zido/CanonicalTableName.h"
#include "Zido/EntryHandle.h"
#include "Zido/Identifiers.h"
#include "Zido/OrderedSwTableSet.h"
#include "Zido/SwTableStats.h"

namespace Zido {

class SwTableBase : public Quor::Entity {
 public:
  using EntryHandle = SwTableEntryHandle;
  using EntryState = Zido::EntryState;

  SwTableBase(Vesk::Ptr<CanonicalTableName const> name, SwTableId tableId);

  Vesk::Ptr<CanonicalTableName const> const& name() const noexcept { return name_; }
  SwTableId tableId() const noexcept { return tableId_; }

  virtual void doCreateHwTable();
  virtual void doCreateHwTableResponse();

  Vesk::TypeData const& typeData() const override { return staticTypeData(); }
  static Vesk::TypeData const& staticTypeData();

 private:
  Vesk::Ptr<CanonicalTableName const> name_;
  SwTableId tableId_;
};

class NamedSwTable : public SwTableBase {
 public:
  using SwTableBase::SwTableBase;
  virtual void reconcile();

  Vesk::TypeData const& typeData() const override { return staticTypeData(); }
  static Vesk::TypeData const& staticTypeData();
};

class OrderedSwTable : public NamedSwTable {
 public:
  using EntryHandle = OrderedEntryHandle;
  using ResponseHandler = SwTableEntryHandle::ResponseHandler;

  // `swTableSet` is not owned; the set holds the table.
  OrderedSwTable(Vesk::Ptr<CanonicalTableName const> name, SwTableId tableId, UnitId unitId,
                 OrderedSwTableSet* swTableSet);
  // Defined in SwTable.cpp, which makes it the one home of the class's
  // virtual table.
  ~OrderedSwTable() override;

  UnitId unitId() const noexcept { return unitId_; }
  OrderedSwTableSet* swTableSet() const noexcept { return swTableSet_; }
  Vesk::Ptr<SwTableStats> const& stats() const noexcept { return stats_; }
  // Creates the table's statistics record.
  void statsIs();
  Vesk::Ptr<OrderedSwTableStatus> const& status() const noexcept { return status_; }
  void statusIs(Vesk::Ptr<OrderedSwTableStatus> const& status);

  // Told the log version up to which the hardware has taken the table's
  // changes.
  virtual void tableStatusVersion(LogVersion version) = 0;
  // Whether anything of the table is not yet taken by the hardware.
  virtual bool hasPendingHwWrites() const = 0;

  Vesk::TypeData const& typeData() const override { return staticTypeData(); }
  static Vesk::TypeData const& staticTypeData();

 private:
  UnitId unitId_;
  OrderedSwTableSet* swTableSet_;
  Vesk::Ptr<SwTableStats> stats_;
  Vesk::Ptr<OrderedSwTableStatus> status_;
};

}  // namespace Zido
