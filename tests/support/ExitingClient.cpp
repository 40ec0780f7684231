// exiting_client: an agent that returns from main with its table interface
// still registered in the process, as a client that does no teardown does.
//
//   exiting_client locals   the event loop and the ordered-table interface
//                           are locals of main, released in reverse order
//                           (the loop goes before the registry's interface)
//   exiting_client agent    the same through Zido::Agent
//
// Each commits a write on the loop and prints "ok"; the test checks that the
// process then exits with status 0 (and, in the sanitizer build, without a
// report).
#include <chrono>
#include <cstdio>
#include <cstring>

#include "ZaduLpm/TcamInterface.h"
#include "Zido/Agent.h"

namespace {

bool writeAndCommit(ZaduLpm::TcamInterface& intf, Quor::EventLoop& loop) {
  auto const table = intf.makeSwTable(0, nullptr, false);
  ZaduLpmLib::TcamDataModelEntryKey const key(0x0A000000, 8);
  ZaduLpmLib::TcamDataModelEntry entry;
  entry.keyIs(key);
  auto const handle = table->entryWrite(key, entry, nullptr);
  loop.runFor(std::chrono::milliseconds(20));
  return handle->entryState() == Zido::EntryState::logged;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "locals") == 0) {
    Quor::EventLoop loop;
    Vesk::Ptr<Centrum::EntityManager> central(new Centrum::EntityManager("exiting", true));
    Vesk::Ptr<Zido::OrderedTableInterface> orderedTables(
        new Zido::OrderedTableInterface(central, &loop));
    auto const intf = ZaduLpm::TcamInterface::getIntf(orderedTables);
    std::puts(writeAndCommit(*intf, loop) ? "ok" : "not committed");
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "agent") == 0) {
    Zido::Agent agent("exiting");
    auto const intf = ZaduLpm::TcamInterface::getIntf(agent.orderedTableInterface());
    std::puts(writeAndCommit(*intf, agent.eventLoop()) ? "ok" : "not committed");
    return 0;
  }
  std::fprintf(stderr, "usage: exiting_client locals|agent\n");
  return 2;
}
