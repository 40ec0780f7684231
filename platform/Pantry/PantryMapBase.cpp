#include "Pantry/PantryMapBase.h"

#include <fmt/format.h>

#include "Quor/Log.h"

namespace Pantry {

namespace {

QUOR_LOG_DESCRIPTOR(corruptionDescriptor, "PANTRY_CORRUPTION_DETECTED",
                    "Shared-memory collection corruption detected: %s",
                    "A shared-memory record failed its integrity check or stayed inconsistent; "
                    "the read went on without it",
                    "Restart the agent that writes the collection if this repeats", 4);

Quor::LogHandle corruptionLog(corruptionDescriptor, Quor::LogHandle::Seconds(1), 1.0, 0, 0);

}  // namespace

PantryMapBase::PantryMapBase(std::unique_ptr<Segment> segment) : segment_(std::move(segment)) {}

PantryMapBase::~PantryMapBase() = default;

std::string PantryMapBase::collectionName() const {
  return segment_->header().fingerprint.collectionName;
}

void PantryMapBase::requireWriter(char const* operation) const {
  if (!segment_->writable()) {
    throw Vesk::Exception(
        fmt::format("{} on pantry segment {}: the mount is read-only", operation, path()));
  }
}

void PantryMapBase::clearWiped() {
  requireWriter("clearWiped");
  segment_->store(segment_->header().wiped, 0);
}

void PantryMapBase::scratchpadIs(std::uint64_t value) {
  requireWriter("scratchpadIs");
  segment_->store(segment_->header().scratchpad, value, std::memory_order_release);
}

void PantryMapBase::doCorruptionDetected(std::string const& message) {
  ++corruptionsDetected_;
  Quor::log(corruptionLog, message);
}

std::uint64_t nextPowerOfTwo(std::uint64_t value) noexcept {
  std::uint64_t power = 1;
  while (power < value) {
    power <<= 1;
  }
  return power;
}

}  // namespace Pantry
