// A client of the installed package: its own entity type, and the table used
// as an agent uses it (interface, a unit's table with the client's helper, a
// committed write read back). Shared memory goes under ZADU_SHM_ROOT.
#include <cstdio>

#include "Hunkpool/Pool.h"
#include "Quor/TraceHandle.h"
#include "Vesk/Node.h"
#include "Vesk/Ptr.h"
#include "ZaduLpm/TcamInterface.h"

namespace {

class ClientEntity : public Vesk::Node {
  HUNKPOOL_CLASS_ALLOCATION(ClientEntity)
};

class ClientHelper : public ZaduLpm::TcamSwTableHelperBase {
 public:
  void finalizeOnSuccess(Vesk::Ptr<ZaduLpm::TcamEntryWrapper> const&, bool,
                         Vesk::Ptr<ZaduLpm::TcamSwTable> const&) override {
    ++committed;
  }
  int committed = 0;
};

Quor::TraceHandle clientTrace("Client");

bool tableWorks() {
  Vesk::Ptr<Centrum::EntityManager> central(new Centrum::EntityManager("client", true));
  Vesk::Ptr<Zido::OrderedTableInterface> agent(new Zido::OrderedTableInterface(central, nullptr));
  auto const intf = ZaduLpm::TcamInterface::getIntf(agent);
  Vesk::Ptr<ClientHelper> helper(new ClientHelper());
  auto const table = intf->makeSwTable(0, helper, false);
  ZaduLpmLib::TcamDataModelEntryKey const key((10u << 24), 8);
  ZaduLpmLib::TcamDataModelEntry entry;
  entry.keyIs(key);
  entry.data.adjacencyIndex = 7;
  table->entryWrite(key, entry, nullptr);
  agent->groupInterfaceColl()->groupIntf("ZaduRoute-ZaduRoute")->resolver()->runUntilIdle();
  return helper->committed == 1 && table->entryFromConfig(key).data.adjacencyIndex == 7;
}

}  // namespace

int main() {
  { Vesk::Ptr<ClientEntity> entity(new ClientEntity()); }
  QUOR_TRACE(clientTrace, 1, "Client", "never formatted {}", 1);
  bool const clean = ClientEntity::memAllocationTracker_.live() == 0 &&
                     ClientEntity::memAllocationTracker_.allocated() == 1;
  bool const table = tableWorks();
  std::puts(clean && table ? "client ok" : "client: the package does not work as installed");
  return clean && table ? 0 : 1;
}
