// Pantry::PantryMapBase: what every shared-memory collection offers whatever
// its record type: its segment, its control words (wiped mark, scratchpad),
// its record count, and the corruption handler.
//
// A collection is an entity: the pantry entity that holds it and its
// collection control keep counted references to it.
//
// doCorruptionDetected is where a guarded read hands the message of a
// Vesk::CorruptionDetectedException: it counts the detection and writes the
// log message PANTRY_CORRUPTION_DETECTED (rate limited to one a second).
//
// Thread safety: a collection belongs to one thread of its process.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "Hunkpool/Pool.h"
#include "Pantry/Segment.h"
#include "Vesk/Node.h"

namespace Pantry {

class PantryMapBase : public Vesk::Node {
 public:
  explicit PantryMapBase(std::unique_ptr<Segment> segment);
  ~PantryMapBase() override;

  std::string const& path() const noexcept { return segment_->path(); }
  std::string collectionName() const;
  bool writable() const noexcept { return segment_->writable(); }
  MountOutcome mountOutcome() const noexcept { return segment_->outcome(); }
  std::uint64_t count() const noexcept { return segment_->load(segment_->header().count); }
  std::uint64_t capacity() const noexcept { return segment_->header().fingerprint.capacity; }

  bool wiped() const noexcept { return segment_->load(segment_->header().wiped) != 0; }
  // REQUIRES: a writer mount (raises Vesk::Exception otherwise).
  void clearWiped();
  std::uint64_t scratchpad() const noexcept {
    return segment_->load(segment_->header().scratchpad, std::memory_order_acquire);
  }
  // REQUIRES: a writer mount (raises Vesk::Exception otherwise).
  void scratchpadIs(std::uint64_t value);

  void doCorruptionDetected(std::string const& message);
  std::uint64_t corruptionsDetected() const noexcept { return corruptionsDetected_; }

  Segment& segment() noexcept { return *segment_; }
  Segment const& segment() const noexcept { return *segment_; }

 protected:
  // Raises Vesk::Exception when the mount is read-only.
  void requireWriter(char const* operation) const;

 private:
  std::unique_ptr<Segment> segment_;
  std::uint64_t corruptionsDetected_ = 0;
};

// Slot geometry shared by the collection types.
std::uint64_t nextPowerOfTwo(std::uint64_t value) noexcept;

}  // namespace Pantry
