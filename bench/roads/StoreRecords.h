// The records the lmdb and redis roads store: a configuration record per key
// and unit, a change record per version. Both sides of each road read and
// write these bytes as they are.
#pragma once

#include <cstdint>
#include <map>

#include "bench/roads/Workload.h"
#include "hw/SimulatedTcam.h"

namespace ZaduBench {

struct ConfigRecord {
  std::uint64_t version = 0;
  std::uint32_t adjacency = 0;
};

struct ChangeRecord {
  std::uint64_t key = 0;  // Operation::keyNumber()
  std::uint32_t adjacency = 0;
  std::uint16_t unit = 0;
  std::uint8_t remove = 0;
};

inline ChangeRecord changeOf(Operation const& operation) {
  return {operation.keyNumber(), operation.adjacency, operation.unit,
          static_cast<std::uint8_t>(operation.remove ? 1 : 0)};
}

// The hardware side's TCAMs, one per unit, fed change records.
class SimulatedChip {
 public:
  explicit SimulatedChip(bool acknowledgeOnly) : acknowledgeOnly_(acknowledgeOnly) {}
  void apply(ChangeRecord const& change) {
    if (acknowledgeOnly_) {
      return;
    }
    auto const prefix = static_cast<std::uint32_t>(change.key >> 8);
    auto const length = static_cast<std::uint8_t>(change.key & 0xff);
    ZaduHw::SimulatedTcam& tcam = units_[change.unit];
    if (change.remove != 0) {
      tcam.remove(prefix, length);
    } else {
      tcam.write(prefix, length, change.adjacency);
    }
  }

 private:
  bool acknowledgeOnly_;
  std::map<std::uint16_t, ZaduHw::SimulatedTcam> units_;
};

}  // namespace ZaduBench
