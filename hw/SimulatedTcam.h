// ZaduHw::SimulatedTcam: a model of one unit's longest-prefix-match TCAM.
//
// A TCAM of `slots` lines, each a value, a mask and a result. A lookup
// compares an address with every valid line and returns the result of the
// first line that matches, as the chip's priority encoder does; so the lines
// are kept in prefix-length order, longest first, and the first match is the
// longest prefix.
//
// Layout: 33 regions, one per prefix length. Regions of lengths 32 to 24
// are packed from line 0 down the table; regions of lengths 23 to 0 are
// packed against the last line; the free lines form one gap between the /24
// and the /23 regions. Most updates of a routing table are /24 (then /22 and
// /23), which therefore land next to the gap and cost no moves or one.
//
// Costs, counted as a real TCAM's programming cost:
//   insert of length L   one line write, plus one move (a line write) per
//                        non-empty region between L's region and the gap;
//   delete               one move to fill the hole from the region's edge,
//                        plus one per non-empty region between it and the
//                        gap, and one line invalidated;
//   rewrite of a key     one line write, no move.
//
// Invariants:
//  1. Regions are contiguous, in length order, and hold only their length.
//  2. Lines in the gap are invalid; every other line is valid.
//  3. The index maps each key held to its line.
//
// Thread safety: none; one thread.
#pragma once

#include <absl/container/flat_hash_map.h>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace ZaduHw {

struct TcamLine {
  std::uint32_t value = 0;
  std::uint32_t mask = 0;
  std::uint32_t result = 0;
  std::uint8_t length = 0;
  bool valid = false;
};

// The programming cost of the updates so far.
struct TcamCounters {
  std::uint64_t inserts = 0;
  std::uint64_t rewrites = 0;
  std::uint64_t deletes = 0;
  std::uint64_t lineWrites = 0;  // every line written, moves included
  std::uint64_t moves = 0;       // lines moved to make or close room
  std::uint64_t refused = 0;     // inserts into a full TCAM
};

class SimulatedTcam {
 public:
  static constexpr std::uint32_t defaultSlots = 65536;

  explicit SimulatedTcam(std::uint32_t slots = defaultSlots);

  // Writes `prefix`/`length` with `result`: rewrites its line when held,
  // else inserts it. Returns false (and counts a refusal) when the TCAM is
  // full. REQUIRES: length <= 32 and no host bits set in prefix.
  bool write(std::uint32_t prefix, std::uint8_t length, std::uint32_t result);
  // Removes the key; returns false when it is not held.
  bool remove(std::uint32_t prefix, std::uint8_t length);
  // Invalidates every line.
  void clear();

  // The result of the first valid line matching `address`.
  std::optional<std::uint32_t> lookup(std::uint32_t address) const;
  // The result held for the key.
  std::optional<std::uint32_t> find(std::uint32_t prefix, std::uint8_t length) const;
  template <class Visit>  // visit(prefix, length, result)
  void forEach(Visit const& visit) const {
    for (TcamLine const& line : lines_) {
      if (line.valid) {
        visit(line.value, line.length, line.result);
      }
    }
  }

  std::uint32_t size() const noexcept { return static_cast<std::uint32_t>(index_.size()); }
  std::uint32_t slots() const noexcept { return static_cast<std::uint32_t>(lines_.size()); }
  TcamCounters const& counters() const noexcept { return counters_; }
  // Checks invariants 1 to 3; returns a description of the first broken one.
  std::optional<std::string> checkLayout() const;

 private:
  static constexpr int regions = 33;
  static constexpr int lastUpperRegion = 32 - 24;  // the /24 region
  static int regionOf(std::uint8_t length) noexcept { return 32 - length; }
  static std::uint64_t keyOf(std::uint32_t prefix, std::uint8_t length) noexcept {
    return (std::uint64_t{prefix} << 8) | length;
  }

  std::uint32_t end(int region) const noexcept { return start_[region] + count_[region]; }
  // Copies line `from` to line `to` and re-points the index; counts a move.
  void move(std::uint32_t from, std::uint32_t to);
  void place(std::uint32_t line, std::uint32_t prefix, std::uint8_t length, std::uint32_t result);

  std::vector<TcamLine> lines_;
  std::array<std::uint32_t, regions> start_{};
  std::array<std::uint32_t, regions> count_{};
  absl::flat_hash_map<std::uint64_t, std::uint32_t> index_;
  TcamCounters counters_;
};

}  // namespace ZaduHw
