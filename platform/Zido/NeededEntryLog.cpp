#include "Zido/NeededEntryLog.h"

#include <algorithm>

namespace Zido {

namespace {

[[maybe_unused]] bool const pantryTypeRegistered = [] {
  QuorPantry::registerCollectionEntity<NeededEntryRing>(NeededEntryLogFormat::typeName);
  return true;
}();

}  // namespace

LogVersion NeededEntryFollower::neededOf(LogVersion version, SwTableId tableId) {
  // In steady state the newest record is adopted and no lookup is made.
  if (ring_->count() != 0) {
    next_ = std::max(next_, ring_->lowKey());
    for (std::uint64_t const high = ring_->highKey(); next_ <= high; ++next_) {
      auto const found = ring_->lookup(next_);
      if (found.found && found.record.version > version) {
        break;
      }
      if (found.found) {
        current_ = found.record;
      }
    }
  }
  for (std::uint32_t n = 0; n < std::min(current_.count, NeededEntryRecord::maxTables); ++n) {
    if (current_.needed[n].tableId() == tableId) {
      return current_.needed[n].version;
    }
  }
  return 0;
}

}  // namespace Zido
