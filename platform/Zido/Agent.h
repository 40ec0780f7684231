// Zido::Agent: the agent side of a process in one object, made with the
// defaults an agent wants and taken down in the right order:
//
//   the event loop           runs the resolver's passes, which commit
//                            accepted operations, and polls the version the
//                            hardware side publishes, which completes them;
//   the central store        Centrum::EntityManager named `storeName`, local:
//                            its shared-memory entities live under
//                            <root>/local/<storeName>/ (root: ZADU_SHM_ROOT,
//                            or /dev/shm/zadulpm);
//   the ordered-table        what a table library's getIntf takes.
//   interface
//
//   Zido::Agent agent;
//   auto intf = ZaduLpm::TcamInterface::getIntf(agent.orderedTableInterface());
//   ...
//   agent.runUntil([&] { return done; }, std::chrono::seconds(5));
//
// Teardown: the destructor withdraws from the process registry every table
// interface registered with its ordered-table interface, so that they go
// with the agent rather than at exit. Releasing nothing, or releasing in any
// order, is also safe (see Quor::EventLoop's lifetime note).
//
// Thread safety: the agent's thread.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "Centrum/EntityManager.h"
#include "Quor/EventLoop.h"
#include "Vesk/Ptr.h"
#include "Zido/OrderedTableInterface.h"

namespace Zido {

class Agent {
 public:
  static constexpr char const* defaultStoreName = "ZaduRoute";

  // Raises what the event loop raises when epoll cannot be made.
  explicit Agent(std::string const& storeName = defaultStoreName);
  ~Agent();
  Agent(Agent const&) = delete;
  Agent& operator=(Agent const&) = delete;

  Quor::EventLoop& eventLoop() noexcept { return loop_; }
  Vesk::Ptr<Centrum::EntityManager> const& entityManager() const noexcept { return central_; }
  Vesk::Ptr<OrderedTableInterface> const& orderedTableInterface() const noexcept {
    return orderedTableInterface_;
  }

  // Runs the event loop until `done` yields true (tested after every turn) or
  // `timeout` has passed; returns done().
  bool runUntil(std::function<bool()> const& done, Quor::EventLoop::Clock::duration timeout);
  // Runs the event loop for `duration`.
  void runFor(Quor::EventLoop::Clock::duration duration) { loop_.runFor(duration); }
  // Runs what is ready now; returns the number of handlers, timers and tasks.
  std::size_t runUntilIdle() { return loop_.runUntilIdle(); }

 private:
  Quor::EventLoop loop_;
  Vesk::Ptr<Centrum::EntityManager> central_;
  Vesk::Ptr<OrderedTableInterface> orderedTableInterface_;
};

}  // namespace Zido
