// ZaduLpm::AdjacencyInterface: the per-process owner of the adjacency table
// (AdjacencyTable.h). The first getIntf makes the agent's group (as the TCAM
// interface does), mounts the table, brings it to the version the hardware
// side has published for it, and registers the table's set with the group,
// so that the group's poll delivers the hardware's progress; the interface
// is registered under "ZaduLpm::AdjacencyInterface" and goes with the
// agent (Zido::Agent withdraws registered interfaces).
//
//   auto adjacencies = ZaduLpm::AdjacencyInterface::getIntf(agent.orderedTableInterface());
//   auto nextHop = adjacencies->table()->adjacencyWrite(
//       ZaduLpmLib::AdjacencyKey::of({0x0A000001, 3}));
//   entry.data.adjacencyIndex = nextHop->hwIndexForDependentField();
//   tcamTable->entryWrite(key, entry, nextHop);
//
// Thread safety: the agent's thread.
#pragma once

#include "Hunkpool/Pool.h"
#include "ZaduLpm/AdjacencyTable.h"
#include "Zido/OrderedSwTableSet.h"
#include "Zido/OrderedTableInterface.h"

namespace ZaduLpm {

class AdjacencyInterface : public Zido::TableInterfaceBase {
  HUNKPOOL_CLASS_ALLOCATION(AdjacencyInterface)

 public:
  static constexpr char const* registrationKey = "ZaduLpm::AdjacencyInterface";

  // The process's interface, made (and registered) on the first call; mount
  // errors propagate.
  static Vesk::Ptr<AdjacencyInterface> getIntf(
      Vesk::Ptr<Zido::OrderedTableInterface> const& ordTblIntf);
  ~AdjacencyInterface() override;

  Vesk::Ptr<AdjacencyTable> const& table() const noexcept { return table_; }

  Vesk::TypeData const& typeData() const override { return staticTypeData(); }
  static Vesk::TypeData const& staticTypeData();

 private:
  explicit AdjacencyInterface(Vesk::Ptr<Zido::OrderedTableInterface> const& ordTblIntf);

  Vesk::Ptr<Zido::GroupInterface> group_;
  Vesk::Ptr<AdjacencyTable> table_;
  Vesk::Ptr<Zido::OrderedSwTableSet> set_;
};

}  // namespace ZaduLpm
