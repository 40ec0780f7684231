#include "hw/SimulatedAdjacencies.h"

namespace ZaduHw {

void SimulatedAdjacencies::write(std::uint32_t index, Key const& key) {
  table_[index] = key;
}

bool SimulatedAdjacencies::remove(std::uint32_t index) {
  return table_.erase(index) != 0;
}

SimulatedAdjacencies::Key const* SimulatedAdjacencies::find(std::uint32_t index) const {
  auto const found = table_.find(index);
  return found == table_.end() ? nullptr : &found->second;
}

void SimulatedAdjacencies::release(std::uint32_t index) {
  auto const found = users_.find(index);
  if (found != users_.end() && --found->second == 0) {
    users_.erase(found);
  }
}

std::uint32_t SimulatedAdjacencies::users(std::uint32_t index) const {
  auto const found = users_.find(index);
  return found == users_.end() ? 0 : found->second;
}

}  // namespace ZaduHw
