#include <cstdio>

#include "Hunkpool/Pool.h"
#include "Quor/TraceHandle.h"
#include "Vesk/Node.h"
#include "Vesk/Ptr.h"

namespace {

class ClientEntity : public Vesk::Node {
  HUNKPOOL_CLASS_ALLOCATION(ClientEntity)
};

Quor::TraceHandle clientTrace("Client");

}  // namespace

int main() {
  { Vesk::Ptr<ClientEntity> entity(new ClientEntity()); }
  QUOR_TRACE(clientTrace, 1, "Client", "never formatted {}", 1);
  bool const clean = ClientEntity::memAllocationTracker_.live() == 0 &&
                     ClientEntity::memAllocationTracker_.allocated() == 1;
  std::puts(clean ? "client ok" : "client: allocation tracker disagrees");
  return clean ? 0 : 1;
}
