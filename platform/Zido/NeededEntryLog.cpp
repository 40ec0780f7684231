#include "Zido/NeededEntryLog.h"

#include <algorithm>

namespace Zido {

namespace {

[[maybe_unused]] bool const pantryTypeRegistered = [] {
  QuorPantry::registerCollectionEntity<NeededEntryRing>(NeededEntryLogFormat::typeName);
  return true;
}();

}  // namespace

void NeededEntryFollower::refresh() {
  final_ = ring_->scratchpad();  // acquire: the records it vouches for are stored
  if (ring_->count() != 0) {
    high_ = ring_->highKey();
    next_ = std::max(next_, ring_->lowKey());
  }
}

LogVersion NeededEntryFollower::neededOf(LogVersion version, SwTableId tableId) {
  // In steady state the newest record is adopted and nothing is read.
  for (; next_ != 0 && next_ <= high_; ++next_) {
    auto const found = ring_->lookup(next_);
    if (found.found && found.record.version > version) {
      break;
    }
    if (found.found) {
      current_ = found.record;
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
