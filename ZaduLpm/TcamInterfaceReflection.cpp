// The interface's reflection record: what scripts and tools see of it by name.
#include "ZaduLpm/TcamInterface.h"

#include "Vesk/TypeBuilder.h"
#include "ZaduLpmLib/TcamDataModelCodecs.h"

namespace ZaduLpm {

Vesk::TypeData const& TcamInterface::staticTypeData() {
  static Vesk::TypeData const& type =
      Vesk::TypeBuilder<TcamInterface>("ZaduLpm::TcamInterface",
                                       &Zido::TableInterfaceBase::staticTypeData())
          .attribute("tableName", &TcamInterface::tableName, &TcamInterface::tableNameIs)
          .attribute("tableId", [](TcamInterface const&) { return tableId().value(); })
          .attribute("groupName", &TcamInterface::groupName, &TcamInterface::groupNameIs)
          .attribute("agentName", &TcamInterface::agentName, &TcamInterface::agentNameIs)
          .attribute("tableNamespace", &TcamInterface::tableNamespace,
                     &TcamInterface::tableNamespaceIs)
          .attribute("entryLog", &TcamInterface::entryLog)
          .attribute("swTableStatus", &TcamInterface::swTableStatus)
          .attribute("swTableSet", &TcamInterface::swTableSet)
          .operation("makeSwTable", &TcamInterface::makeSwTable)
          .classOperation("getIntf", &TcamInterface::getIntf)
          .operation("handleInitialized", &TcamInterface::handleInitialized)
          .operation("onDelete", &TcamInterface::onDelete)
          .operation("entryLogIs",
                     [](TcamInterface& intf, std::uint32_t tableId,
                        Vesk::Ptr<Centrum::EntityManager> const& entityManager,
                        Vesk::Ptr<Zido::GroupInterface> const& groupInterface,
                        std::string const& agentName) {
                       return intf.entryLogIs(Zido::SwTableId(tableId), entityManager,
                                              groupInterface, agentName);
                     })
          .operation("entryLogDel", &TcamInterface::entryLogDel)
          .operation("swTableStatusIs",
                     [](TcamInterface& intf, std::uint32_t tableId) {
                       return intf.swTableStatusIs(Zido::SwTableId(tableId));
                     })
          .operation("swTableStatusDel", &TcamInterface::swTableStatusDel)
          .operation("swTableSetIs",
                     [](TcamInterface& intf, std::uint32_t tableId,
                        Vesk::Ptr<Zido::OrderedSwTableStatus> const& status) {
                       return intf.swTableSetIs(Zido::SwTableId(tableId), status);
                     })
          .operation("swTableSetDel", &TcamInterface::swTableSetDel)
          .operation("reconcile", &TcamInterface::reconcile)
          .done();
  return type;
}

namespace {
[[maybe_unused]] Vesk::TypeData const& registered = TcamInterface::staticTypeData();
}  // namespace

}  // namespace ZaduLpm
