#include "ZaduLpm/AdjacencyInterface.h"

#include "Vesk/TypeBuilder.h"
#include "ZaduLpmLib/TcamConstants.h"
#include "Zido/Constants.h"

namespace ZaduLpm {

Vesk::Ptr<AdjacencyInterface> AdjacencyInterface::getIntf(
    Vesk::Ptr<Zido::OrderedTableInterface> const& ordTblIntf) {
  Vesk::Ptr<Zido::SwTableInterfacesSingleton> const singleton =
      Zido::SwTableInterfacesSingleton::instance();
  if (singleton->swTableIntfHas(registrationKey)) {
    return Vesk::staticPtrCast<AdjacencyInterface>(singleton->swTableIntf(registrationKey));
  }
  Vesk::Ptr<AdjacencyInterface> const intf(new AdjacencyInterface(ordTblIntf));
  ordTblIntf->swTableIntfIs(registrationKey, intf.get());
  singleton->swTableIntfIs(registrationKey, intf);
  return intf;
}

AdjacencyInterface::AdjacencyInterface(Vesk::Ptr<Zido::OrderedTableInterface> const& ordTblIntf)
    : TableInterfaceBase(ordTblIntf) {
  using ZaduLpmLib::TcamConstants;
  Zido::SwTableId const tcamTableId{TcamConstants::tableIdValue};
  ordTblIntf->makeGroupIntf(TcamConstants::agentName, TcamConstants::groupName,
                            tcamTableId.agentAndGroupId());
  group_ = ordTblIntf->groupInterfaceColl()->groupIntf(TcamConstants::canonicalGroupName());
  Zido::SwTableId const tableId{ZaduLpmLib::AdjacencyConstants::tableIdValue};
  set_ = new Zido::OrderedSwTableSet(tableId, new Zido::OrderedSwTableStatus(tableId));
  table_ = new AdjacencyTable(ordTblIntf->entityManager(), group_, set_.get());
  Zido::GroupInterface::Published const published = group_->publishedVersion(tableId);
  if (published.readable) {
    table_->tableStatusVersion(published.version);
  }
  set_->swTableIs(table_);
  set_->maybeUpdatePendingHwWrites();
  group_->swTableSetIs(set_);
}

AdjacencyInterface::~AdjacencyInterface() {
  orderedTableIntf()->swTableIntfDel(registrationKey);
  // The group holds the set, which holds the table, which holds the group:
  // withdrawing the set ends that cycle.
  if (group_->swTableSet(table_->tableId()) == set_) {
    group_->swTableSetDel(table_->tableId());
  }
  set_->swTableDel(table_->unitId());
}

Vesk::TypeData const& AdjacencyInterface::staticTypeData() {
  static Vesk::TypeData const& type =
      Vesk::TypeBuilder<AdjacencyInterface>("ZaduLpm::AdjacencyInterface",
                                            &Zido::TableInterfaceBase::staticTypeData())
          .attribute("table", &AdjacencyInterface::table)
          .done();
  return type;
}

namespace {
[[maybe_unused]] Vesk::TypeData const& registered = AdjacencyInterface::staticTypeData();
}  // namespace

}  // namespace ZaduLpm
