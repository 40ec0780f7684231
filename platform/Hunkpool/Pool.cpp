#include "Hunkpool/Pool.h"

namespace Hunkpool {

void* Pool::allocateFromNewSlab() {
  // The slab header sits at the start of the slab; slots begin at the first
  // multiple of the alignment after it. A slab holds at least 16 slots, so
  // large classes still amortise the global allocation.
  std::size_t const firstSlotOffset = roundUp(sizeof(SlabHeader), alignment_);
  std::size_t bytes = slabBytes;
  if (bytes < firstSlotOffset + 16 * slotSize_) {
    bytes = firstSlotOffset + 16 * slotSize_;
  }
  char* slab = static_cast<char*>(::operator new (bytes, std::align_val_t{alignment_}));
  auto* header = new (slab) SlabHeader{slabs_};
  slabs_ = header;
  ++slabCount_;

  char* firstSlot = slab + firstSlotOffset;
  std::size_t const slots = (bytes - firstSlotOffset) / slotSize_;
  bumpNext_ = firstSlot + slotSize_;
  bumpEnd_ = firstSlot + slots * slotSize_;
  return firstSlot;
}

}  // namespace Hunkpool
