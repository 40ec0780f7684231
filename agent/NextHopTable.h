// ZaduAgent::NextHopTable: a small ordered table of next hops, the kind of table
// that routes depend on. A client writes a next hop and gets a handle; routes
// written with that handle as their dependency wait until the next hop is no
// longer pending. The table logs nothing to shared memory: it numbers its
// commits itself (log versions 1, 2, ...) and completes them when told the
// hardware's table status version.
//
// A handle moves through
//   0 pending    accepted, queued on the group resolver;
//   1 logged     committed, waiting for the hardware;
//   4 completed  taken by the hardware (tableStatusVersion at or above its
//                log version);
// or fails: 3 when the table refuses it (refuse), 6 when the hardware does
// (hardwareFailed). A failure is final; routes that depend on it fail.
//
// Thread safety: the agent's thread.
#pragma once

#include <cstdint>
#include <deque>

#include "Hunkpool/Pool.h"
#include "Zido/GroupResolver.h"
#include "Zido/SwTable.h"

namespace ZaduAgent {

class NextHopTable : public Zido::OrderedSwTable {
  HUNKPOOL_CLASS_ALLOCATION(NextHopTable)

 public:
  NextHopTable(Zido::SwTableId tableId, Zido::UnitId unitId,
               Vesk::Ptr<Zido::GroupResolver> resolver);
  ~NextHopTable() override;

  // Accepts a write of next hop `nextHopId`; the handle is pending until the
  // resolver commits it.
  Vesk::Ptr<Zido::OrderedEntryHandle> nextHopWrite(std::uint32_t nextHopId);
  // The table refuses an operation, pending or logged: state 3.
  void refuse(Vesk::Ptr<Zido::OrderedEntryHandle> const& handle);
  // The hardware refuses a logged operation: state 6.
  void hardwareFailed(Vesk::Ptr<Zido::OrderedEntryHandle> const& handle);

  void tableStatusVersion(Zido::LogVersion version) override;
  bool hasPendingHwWrites() const override;
  Zido::LogVersion lastLogVersion() const noexcept { return lastLogVersion_; }

  Vesk::TypeData const& typeData() const override { return staticTypeData(); }
  static Vesk::TypeData const& staticTypeData();

 private:
  friend class NextHopCommit;
  void commit(Vesk::Ptr<Zido::OrderedEntryHandle> const& handle);
  // Something a resolver's answer may depend on changed.
  void nudgeResolver();

  Vesk::Ptr<Zido::GroupResolver> resolver_;
  Zido::LogVersion lastLogVersion_ = 0;
  std::uint64_t pending_ = 0;
  std::deque<Vesk::Ptr<Zido::OrderedEntryHandle>> waiting_;  // logged, in log order
};

}  // namespace ZaduAgent
