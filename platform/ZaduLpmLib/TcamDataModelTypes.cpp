#include "ZaduLpmLib/TcamDataModelTypes.h"

#include "Pantry/SegmentFormat.h"

namespace ZaduLpmLib {

std::uint64_t TcamDataModelEntryKey::hash() const noexcept {
  return Pantry::Format::mix(0x4C504D, (std::uint64_t{prefix} << 8) | length);
}

}  // namespace ZaduLpmLib
