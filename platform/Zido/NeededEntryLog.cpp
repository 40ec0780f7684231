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
  if (version > scanned_) {
    // Records are sparse: a lookup per version only between the last one
    // adopted and the newest, so at most one per version over a run.
    if (ring_->count() != 0 && ring_->highKey() > scanned_) {
      LogVersion const to = std::min(version, ring_->highKey());
      for (LogVersion key = std::max(scanned_ + 1, ring_->lowKey()); key <= to; ++key) {
        if (auto const found = ring_->lookup(key); found.found) {
          current_ = found.record;
        }
      }
    }
    scanned_ = version;
  }
  for (std::uint32_t n = 0; n < std::min(current_.count, NeededEntryRecord::maxTables); ++n) {
    if (current_.needed[n].tableId() == tableId) {
      return current_.needed[n].version;
    }
  }
  return 0;
}

}  // namespace Zido
