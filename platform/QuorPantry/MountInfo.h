// QuorPantry::CollectionInfo and QuorPantry::MountInfo: what a mount asks of
// the segment it mounts.
//
// A mount info has a pantry type, which says how this process uses the
// segment, and one collection info, which names the entity's collection and
// its capacity. The flag of a collection info is reserved and must be 0.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace QuorPantry {

struct CollectionInfo {
  std::string name;
  std::uint64_t size = 0;  // capacity in records
  std::uint32_t flag = 0;
};

class MountInfo {
 public:
  // 0: mount as the writer (the default); 1: mount read-only.
  enum PantryType : std::uint32_t { writer = 0, reader = 1 };

  explicit MountInfo(std::uint32_t pantryType = writer) : pantryType_(pantryType) {}

  std::uint32_t pantryType() const noexcept { return pantryType_; }
  bool writes() const noexcept { return pantryType_ == writer; }

  void collectionInfoIs(CollectionInfo info) { collectionInfo_ = std::move(info); }
  std::optional<CollectionInfo> const& collectionInfo() const noexcept { return collectionInfo_; }

 private:
  std::uint32_t pantryType_;
  std::optional<CollectionInfo> collectionInfo_;
};

}  // namespace QuorPantry
