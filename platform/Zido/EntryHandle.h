// The handles of operations on ordered software tables.
//
//   DependencyEntryHandle        what another operation may depend on: an
//                                entry state and the table version at which
//                                the operation is in effect.
//   SwTableEntryHandle           (SwTableBase::EntryHandle) the handle of one
//                                operation of a table: its entry version, its
//                                owning table, its state and the client's
//                                response handler.
//   OrderedEntryHandle           (OrderedSwTable::EntryHandle) adds the log
//                                version that the commit assigned.
//
// A handle names its owning table by a plain pointer: the table outlives the
// operations it has queued, and a client that keeps a handle after destroying
// its table must not ask the handle for its table. The table id is kept by
// value, so entryTableVersion and tableId stay valid.
#pragma once

#include <functional>
#include <string>

#include "Hunkpool/Pool.h"
#include "Quor/Entity.h"
#include "Zido/Identifiers.h"
#include "Zido/TableVersion.h"

namespace Zido {

class SwTableBase;
class OrderedEntryHandle;

class DependencyEntryHandle : public Quor::Entity {
 public:
  EntryState entryState() const noexcept { return entryState_; }
  // The table version at which this operation is in effect.
  virtual TableVersion entryTableVersion() const = 0;

  Vesk::TypeData const& typeData() const override { return staticTypeData(); }
  static Vesk::TypeData const& staticTypeData();

 protected:
  EntryState entryState_ = EntryState::pending;
};

class SwTableEntryHandle : public DependencyEntryHandle {
 public:
  using ResponseHandler = std::function<void(Vesk::Ptr<OrderedEntryHandle const> const&)>;

  SwTableEntryHandle(EntryVersion version, SwTableBase* table) noexcept;

  EntryVersion const& version() const noexcept { return version_; }
  SwTableBase* table() const noexcept { return table_; }
  // Records the state; publishes and calls handleEntryState when it changed.
  void entryStateIs(EntryState state);
  ResponseHandler const& responseHandler() const noexcept { return responseHandler_; }
  void responseHandlerIs(ResponseHandler handler) { responseHandler_ = std::move(handler); }

  // Told of every change of the entry state; does nothing here.
  virtual void handleEntryState();
  // The hardware index a dependent field should use; 0 when the table has
  // none.
  virtual std::uint32_t hwIndexForDependentField() const;
  // Told of index suggestions for the entry; ignored here.
  virtual void handleIndexSuggestions();
  virtual std::string tableName() const;
  virtual SwTableId tableId() const;

  Vesk::TypeData const& typeData() const override { return staticTypeData(); }
  static Vesk::TypeData const& staticTypeData();

 private:
  EntryVersion version_;
  SwTableBase* table_;
  SwTableId tableId_;  // kept by value: dependants ask it after the table may be gone
  ResponseHandler responseHandler_;
};

class OrderedEntryHandle : public SwTableEntryHandle {
  HUNKPOOL_CLASS_ALLOCATION(OrderedEntryHandle)

 public:
  using SwTableEntryHandle::SwTableEntryHandle;

  LogVersion logVersion() const noexcept { return logVersion_; }
  void logVersionIs(LogVersion version);
  // The owning table's id at this handle's log version.
  TableVersion entryTableVersion() const override;

  Vesk::TypeData const& typeData() const override { return staticTypeData(); }
  static Vesk::TypeData const& staticTypeData();

 private:
  LogVersion logVersion_ = 0;
};

}  // namespace Zido
