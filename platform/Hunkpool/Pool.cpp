#include "Hunkpool/Pool.h"

namespace Hunkpool {

void* Pool::allocateSlowly(std::size_t size) {
  tracker_->allocatedInc();
  if (!servesFromSlabs(size)) {
    return ::operator new (size, std::align_val_t{alignment_});
  }
  LockGuard guard(*this);
  if (FreeSlot* slot = freeList_) {
    freeList_ = slot->next;
    return slot;
  }
  if (bumpNext_ != bumpEnd_) {
    void* slot = bumpNext_;
    bumpNext_ += slotSize_;
    return slot;
  }
  return allocateFromNewSlab();
}

void Pool::deallocateSlowly(void* slot, std::size_t size) noexcept {
  tracker_->freedInc();
  if (!servesFromSlabs(size)) {
    ::operator delete (slot, std::align_val_t{alignment_});
    return;
  }
  LockGuard guard(*this);
  pushFree(slot);
}

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
