// An ordered table that only names a resolver queue: for tests and
// benchmarks of the group resolver. Given a resolver, it drops its queue
// there when it goes away, as real tables do.
#pragma once

#include "Hunkpool/Pool.h"
#include "Zido/GroupResolver.h"
#include "Zido/SwTable.h"

namespace ZaduTest {

class QueueTable : public Zido::OrderedSwTable {
  HUNKPOOL_CLASS_ALLOCATION(QueueTable)

 public:
  explicit QueueTable(Zido::UnitId unit, Zido::GroupResolver* resolver = nullptr)
      : OrderedSwTable(new Zido::CanonicalTableName(0, "g", "ns", "t"), Zido::SwTableId(1, 2, 3),
                       unit, nullptr),
        resolver_(resolver) {}
  ~QueueTable() override {
    if (resolver_ != nullptr) {
      resolver_->resolverQueueDel(this);
    }
  }
  void tableStatusVersion(Zido::LogVersion) override {}
  bool hasPendingHwWrites() const override { return false; }

 private:
  Zido::GroupResolver* resolver_;
};

}  // namespace ZaduTest
