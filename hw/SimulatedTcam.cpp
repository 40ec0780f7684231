#include "hw/SimulatedTcam.h"

#include "ZaduLpmLib/Ipv4Text.h"

#include <fmt/format.h>

namespace ZaduHw {

SimulatedTcam::SimulatedTcam(std::uint32_t slots) : lines_(slots) {
  clear();
  counters_ = {};
}

void SimulatedTcam::clear() {
  for (TcamLine& line : lines_) {
    if (line.valid) {
      line = TcamLine{};
      ++counters_.lineWrites;
    }
  }
  for (int region = 0; region < regions; ++region) {
    start_[region] = region <= lastUpperRegion ? 0 : slots();
    count_[region] = 0;
  }
  index_.clear();
}

void SimulatedTcam::place(std::uint32_t line, std::uint32_t prefix, std::uint8_t length,
                          std::uint32_t result) {
  lines_[line] = TcamLine{prefix, ZaduLpmLib::prefixMaskOf(length), result, length, true};
  index_[keyOf(prefix, length)] = line;
  ++counters_.lineWrites;
}

void SimulatedTcam::move(std::uint32_t from, std::uint32_t to) {
  lines_[to] = lines_[from];
  index_[keyOf(lines_[to].value, lines_[to].length)] = to;
  ++counters_.lineWrites;
  ++counters_.moves;
}

bool SimulatedTcam::write(std::uint32_t prefix, std::uint8_t length, std::uint32_t result) {
  if (auto const held = index_.find(keyOf(prefix, length)); held != index_.end()) {
    lines_[held->second].result = result;
    ++counters_.lineWrites;
    ++counters_.rewrites;
    return true;
  }
  if (end(lastUpperRegion) == start_[lastUpperRegion + 1]) {
    ++counters_.refused;
    return false;
  }
  int const region = regionOf(length);
  if (region <= lastUpperRegion) {
    // Each region between this one and the gap moves one line down: its
    // first line goes to the line after its end.
    for (int shifted = lastUpperRegion; shifted > region; --shifted) {
      if (count_[shifted] != 0) {
        move(start_[shifted], end(shifted));
      }
      ++start_[shifted];
    }
    place(end(region), prefix, length, result);
  } else {
    // Each region between the gap and this one moves one line up: its last
    // line goes to the line before its start.
    for (int shifted = lastUpperRegion + 1; shifted < region; ++shifted) {
      if (count_[shifted] != 0) {
        move(end(shifted) - 1, start_[shifted] - 1);
      }
      --start_[shifted];
    }
    --start_[region];
    place(start_[region], prefix, length, result);
  }
  ++count_[region];
  ++counters_.inserts;
  return true;
}

bool SimulatedTcam::remove(std::uint32_t prefix, std::uint8_t length) {
  auto const held = index_.find(keyOf(prefix, length));
  if (held == index_.end()) {
    return false;
  }
  std::uint32_t const line = held->second;
  index_.erase(held);
  int const region = regionOf(length);
  std::uint32_t hole = 0;
  if (region <= lastUpperRegion) {
    // Fill the hole from the region's last line, then pass the free line
    // down to the gap, one move per region in between.
    hole = end(region) - 1;
    if (line != hole) {
      move(hole, line);
    }
    --count_[region];
    for (int shifted = region + 1; shifted <= lastUpperRegion; ++shifted) {
      std::uint32_t const nextHole = end(shifted) - 1;
      if (count_[shifted] != 0) {
        move(nextHole, hole);
      }
      --start_[shifted];
      hole = nextHole;
    }
  } else {
    hole = start_[region];
    if (line != hole) {
      move(hole, line);
    }
    ++start_[region];
    --count_[region];
    for (int shifted = region - 1; shifted > lastUpperRegion; --shifted) {
      std::uint32_t const nextHole = start_[shifted];
      if (count_[shifted] != 0) {
        move(nextHole, hole);
      }
      ++start_[shifted];
      hole = nextHole;
    }
  }
  lines_[hole] = TcamLine{};
  ++counters_.lineWrites;
  ++counters_.deletes;
  return true;
}

std::optional<std::uint32_t> SimulatedTcam::lookup(std::uint32_t address) const {
  auto const scan = [&](std::uint32_t from, std::uint32_t to) -> std::optional<std::uint32_t> {
    for (std::uint32_t line = from; line < to; ++line) {
      TcamLine const& candidate = lines_[line];
      if (candidate.valid && (address & candidate.mask) == candidate.value) {
        return candidate.result;
      }
    }
    return std::nullopt;
  };
  if (auto const upper = scan(0, end(lastUpperRegion))) {
    return upper;
  }
  return scan(start_[lastUpperRegion + 1], slots());
}

std::optional<std::uint32_t> SimulatedTcam::find(std::uint32_t prefix, std::uint8_t length) const {
  auto const held = index_.find(keyOf(prefix, length));
  if (held == index_.end()) {
    return std::nullopt;
  }
  return lines_[held->second].result;
}

std::optional<std::string> SimulatedTcam::checkLayout() const {
  std::uint32_t expected = 0;
  for (int region = 0; region < regions; ++region) {
    if (region == lastUpperRegion + 1) {
      for (std::uint32_t line = expected; line < start_[region]; ++line) {
        if (lines_[line].valid) {
          return fmt::format("line {} in the gap is valid", line);
        }
      }
      expected = start_[region];
    }
    if (start_[region] != expected) {
      return fmt::format("region /{} starts at {}, not {}", 32 - region, start_[region], expected);
    }
    for (std::uint32_t line = start_[region]; line < end(region); ++line) {
      TcamLine const& held = lines_[line];
      if (!held.valid || held.length != 32 - region) {
        return fmt::format("line {} of region /{} holds {}", line, 32 - region,
                           held.valid ? fmt::format("a /{}", held.length) : "nothing");
      }
      auto const indexed = index_.find(keyOf(held.value, held.length));
      if (indexed == index_.end() || indexed->second != line) {
        return fmt::format("line {} is not indexed", line);
      }
    }
    expected = end(region);
  }
  if (expected != slots() ||
      index_.size() != static_cast<std::size_t>(slots()) -
                           (start_[lastUpperRegion + 1] - end(lastUpperRegion))) {
    return fmt::format("the regions end at {} with {} keys indexed", expected, index_.size());
  }
  return std::nullopt;
}

}  // namespace ZaduHw
