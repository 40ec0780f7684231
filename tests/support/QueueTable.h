// An ordered table that only names a resolver queue: for tests and
// benchmarks of the group resolver.
#pragma once

#include "Hunkpool/Pool.h"
#include "Zido/SwTable.h"

namespace ZaduTest {

class QueueTable : public Zido::OrderedSwTable {
  HUNKPOOL_CLASS_ALLOCATION(QueueTable)

 public:
  explicit QueueTable(Zido::UnitId unit)
      : OrderedSwTable(new Zido::CanonicalTableName(0, "g", "ns", "t"), Zido::SwTableId(1, 2, 3),
                       unit, nullptr) {}
  void tableStatusVersion(Zido::LogVersion) override {}
  bool hasPendingHwWrites() const override { return false; }
};

}  // namespace ZaduTest
