// ZaduHw::SimulatedAdjacencies: the chip's adjacency (egress) table and its
// ECMP groups, one for the switch, mirrored into every unit: an index names
// one path (a gateway on an interface) or a group of up to 64 paths, and a
// TCAM line's result is such an index.
//
// It also counts, per index, the TCAM lines of every unit that point at it,
// so that the driver can refuse to remove an adjacency still in use and to
// program a line whose adjacency is absent.
//
// Thread safety: one thread.
#pragma once

#include <absl/container/flat_hash_map.h>

#include <cstdint>

#include "ZaduLpmLib/AdjacencyDataModel.h"

namespace ZaduHw {

class SimulatedAdjacencies {
 public:
  using Key = ZaduLpmLib::AdjacencyKey;

  // Programs `index` with the paths of `key`, replacing what it held.
  void write(std::uint32_t index, Key const& key);
  // Removes `index`; false when it held nothing.
  bool remove(std::uint32_t index);
  // Empties the table (a reset chip); the line counts are the TCAMs' to clear.
  void clear() { table_.clear(); }
  // What `index` holds, or null.
  Key const* find(std::uint32_t index) const;
  std::uint32_t size() const noexcept { return static_cast<std::uint32_t>(table_.size()); }
  template <class Visit>  // visit(index, key)
  void forEach(Visit const& visit) const {
    for (auto const& [index, key] : table_) {
      visit(index, key);
    }
  }

  // TCAM lines pointing at `index`.
  void hold(std::uint32_t index) { ++users_[index]; }
  void release(std::uint32_t index);
  std::uint32_t users(std::uint32_t index) const;
  void clearUsers() { users_.clear(); }

 private:
  absl::flat_hash_map<std::uint32_t, Key> table_;
  absl::flat_hash_map<std::uint32_t, std::uint32_t> users_;
};

}  // namespace ZaduHw
