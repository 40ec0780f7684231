// ZaduLpm::TcamInterface: the process's entry point to the TCAM table.
//
// getIntf gives the one interface of the process, made on the first call:
// it makes the group interface of agent and group "ZaduRoute", the entry log
// of table id 0x02010809 (mounting the change log), the table status and the
// table set; catches up with the table version the hardware side has
// published (cleaning the log to it, and switching pending hardware writes on
// when the log holds more); and registers under "ZaduLpm::TcamInterface" with
// the agent's ordered table interface and the process registry, which keeps
// it alive.
//
// makeSwTable gives the software table of a unit: the one the set holds, or
// a new one whose configuration table is mounted and which is then cleared
// (reset) or restored from that configuration, joins the set and is told the
// hardware's version. reconcile, called by the framework, makes a cleared
// table for every unit whose configuration table exists in shared memory but
// that no client asked for; a file there that is no configuration table of
// this table is reported (TCAM_CONFIG_ENTITY_SKIPPED) and left alone.
//
// Handlers complete when the group interface delivers the version the
// hardware side publishes, which it polls from the agent's event loop: an
// ordered table interface made without a loop (tests that run the resolver
// by hand) must call the group's pollTableVersions itself. Zido::Agent makes
// the loop, the central store and the ordered table interface in one step.
//
// Ownership: the registry holds the interface; the interface holds the entry
// log, the status and the set; the set holds the tables. The group interface
// holds the set while the interface lives: the interface withdraws it when it
// goes, since the entry log holds the group interface.
//
// Thread safety: the agent's thread.
#pragma once

#include <optional>
#include <string>

#include "Hunkpool/Pool.h"
#include "ZaduLpm/TcamEntryLog.h"
#include "ZaduLpm/TcamSwTable.h"
#include "ZaduLpm/TcamSwTableHelperBase.h"
#include "ZaduLpmLib/TcamConstants.h"
#include "Zido/OrderedSwTableSet.h"
#include "Zido/OrderedTableInterface.h"

namespace ZaduLpm {

class TcamInterface : public Zido::TableInterfaceBase {
  HUNKPOOL_CLASS_ALLOCATION(TcamInterface)

 public:
  static constexpr char const* registrationKey = "ZaduLpm::TcamInterface";

  // The process's interface, made (and registered) on the first call.
  static Vesk::Ptr<TcamInterface> getIntf(Vesk::Ptr<Zido::OrderedTableInterface> const& ordTblIntf);

  // Sets the names and runs handleInitialized. A second interface in a
  // process is a fatal assertion ("Interface already created").
  explicit TcamInterface(Vesk::Ptr<Zido::OrderedTableInterface> const& orderedTableIntf);
  ~TcamInterface() override;

  Vesk::TypeData const& typeData() const override { return staticTypeData(); }
  static Vesk::TypeData const& staticTypeData();
  // Makes a cleared table for each unit with a configuration table but no
  // software table.
  void reconcile() override;

  Vesk::String const& tableName() const noexcept { return tableName_; }
  void tableNameIs(Vesk::String const& name) { stringIs(tableName_, name, "tableName"); }
  static Zido::SwTableId tableId() noexcept {
    return Zido::SwTableId(ZaduLpmLib::TcamConstants::tableIdValue);
  }
  Vesk::String const& groupName() const noexcept { return groupName_; }
  void groupNameIs(Vesk::String const& name) { stringIs(groupName_, name, "groupName"); }
  Vesk::String const& agentName() const noexcept { return agentName_; }
  void agentNameIs(Vesk::String const& name) { stringIs(agentName_, name, "agentName"); }
  Vesk::String const& tableNamespace() const noexcept { return tableNamespace_; }
  void tableNamespaceIs(Vesk::String const& name) {
    stringIs(tableNamespace_, name, "tableNamespace");
  }

  Vesk::Ptr<TcamEntryLog> const& entryLog() const noexcept { return entryLog_; }
  // Keeps the held entry log when it was made from the same table id, entity
  // manager, group interface and agent name; otherwise makes a new one.
  Vesk::Ptr<TcamEntryLog> entryLogIs(Zido::SwTableId tableId,
                                     Vesk::Ptr<Centrum::EntityManager> const& entityManager,
                                     Vesk::Ptr<Zido::GroupInterface> const& groupInterface,
                                     Vesk::String const& agentName);
  Vesk::Ptr<TcamEntryLog> entryLogDel();
  Vesk::Ptr<Zido::OrderedSwTableStatus> const& swTableStatus() const noexcept {
    return swTableStatus_;
  }
  Vesk::Ptr<Zido::OrderedSwTableStatus> swTableStatusIs(Zido::SwTableId tableId);
  Vesk::Ptr<Zido::OrderedSwTableStatus> swTableStatusDel();
  Vesk::Ptr<Zido::OrderedSwTableSet> const& swTableSet() const noexcept { return swTableSet_; }
  Vesk::Ptr<Zido::OrderedSwTableSet> swTableSetIs(
      Zido::SwTableId tableId, Vesk::Ptr<Zido::OrderedSwTableStatus> const& swTableStatus);
  Vesk::Ptr<Zido::OrderedSwTableSet> swTableSetDel();

  // The software table of `unitId` (never null). `swTableHelper` (may be
  // null) replaces the table's helper; `reset` clears the unit's entries,
  // otherwise a new table keeps what the unit's configuration holds.
  Vesk::Ptr<TcamSwTable> makeSwTable(Zido::UnitId unitId,
                                     Vesk::Ptr<TcamSwTableHelperBase> const& swTableHelper,
                                     bool reset);
  // The software table of `unitId` that the set holds, or null.
  Vesk::Ptr<TcamSwTable> swTable(Zido::UnitId unitId) const;
  void handleInitialized();
  // Withdraws the registration with the ordered table interface (the process
  // registry keeps its entry).
  void onDelete();

 private:
  void stringIs(Vesk::String& field, Vesk::String const& value, char const* attribute);
  Vesk::Ptr<Zido::GroupInterface> groupInterface() const;
  // The version the hardware side has published for the table id; nothing
  // when it has published none. A record that cannot be read (reported to
  // its collection) counts as version 0; an unreadable presence test as none.
  std::optional<Zido::LogVersion> hardwareTableVersion(Zido::GroupInterface& group) const;

  Vesk::String tableName_;
  Vesk::String groupName_;
  Vesk::String agentName_;
  Vesk::String tableNamespace_;
  Vesk::Ptr<TcamEntryLog> entryLog_;
  Vesk::Ptr<Zido::OrderedSwTableStatus> swTableStatus_;
  Vesk::Ptr<Zido::OrderedSwTableSet> swTableSet_;
};

}  // namespace ZaduLpm
