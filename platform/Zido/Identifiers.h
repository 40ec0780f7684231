// The framework's identifiers and versions.
//
//   UnitId        a hardware unit (16 bits).
//   LogVersion    a position in a table's change log; 0 means none.
//   SwTableId     a table id: agent id (8 bits), group id (8 bits) and table
//                 number (16 bits), from the most significant bits down;
//                 text form "{:02x}:{:02x}:{:04x}" (0x02010809 is 02:01:0809).
//   EntryVersion  the version of a pending operation on one key: a 64-bit
//                 counter and a 16-bit second field; all bits of both set is
//                 the invalid version.
//   MajorVersion  an unsigned 64-bit version; all bits set is invalid.
//   EntryFlags    what a resolver entry does: write, entry delete, table
//                 delete.
//   EntryState    the life of an operation's handle.
#pragma once

#include <fmt/format.h>

#include <cstdint>
#include <limits>
#include <string_view>

namespace Zido {

using UnitId = std::uint16_t;
using LogVersion = std::uint64_t;

class SwTableId {
 public:
  constexpr SwTableId() noexcept = default;
  constexpr explicit SwTableId(std::uint32_t value) noexcept : value_(value) {}
  constexpr SwTableId(std::uint8_t agentId, std::uint8_t groupId, std::uint16_t tblId) noexcept
      : value_(static_cast<std::uint32_t>(agentId) << 24 |
               static_cast<std::uint32_t>(groupId) << 16 | tblId) {}

  constexpr std::uint32_t value() const noexcept { return value_; }
  constexpr std::uint8_t agentId() const noexcept {
    return static_cast<std::uint8_t>(value_ >> 24);
  }
  constexpr std::uint8_t groupId() const noexcept {
    return static_cast<std::uint8_t>(value_ >> 16);
  }
  constexpr std::uint16_t tblId() const noexcept { return static_cast<std::uint16_t>(value_); }
  // The agent id and group id together, as the group interface's id.
  constexpr std::uint16_t agentAndGroupId() const noexcept {
    return static_cast<std::uint16_t>(value_ >> 16);
  }
  constexpr auto operator<=>(SwTableId const&) const = default;

 private:
  std::uint32_t value_ = 0;
};

class EntryVersion {
 public:
  static constexpr std::uint64_t invalidCounter = std::numeric_limits<std::uint64_t>::max();
  static constexpr std::uint16_t invalidSecond = std::numeric_limits<std::uint16_t>::max();

  // The invalid version.
  constexpr EntryVersion() noexcept = default;
  constexpr EntryVersion(std::uint64_t counter, std::uint16_t second) noexcept
      : counter_(counter), second_(second) {}

  constexpr std::uint64_t counter() const noexcept { return counter_; }
  constexpr std::uint16_t second() const noexcept { return second_; }
  constexpr bool valid() const noexcept {
    return !(counter_ == invalidCounter && second_ == invalidSecond);
  }
  // Equality of both fields.
  constexpr bool isEq(EntryVersion const& other) const noexcept { return *this == other; }
  // The same version with the counter advanced by one.
  constexpr EntryVersion next() const noexcept { return EntryVersion(counter_ + 1, second_); }
  constexpr bool operator==(EntryVersion const&) const = default;

 private:
  std::uint64_t counter_ = invalidCounter;
  std::uint16_t second_ = invalidSecond;
};

class MajorVersion {
 public:
  static constexpr std::uint64_t invalidValue = std::numeric_limits<std::uint64_t>::max();

  constexpr MajorVersion() noexcept = default;
  constexpr explicit MajorVersion(std::uint64_t value) noexcept : value_(value) {}

  constexpr std::uint64_t value() const noexcept { return value_; }
  constexpr bool valid() const noexcept { return value_ != invalidValue; }
  constexpr bool operator==(MajorVersion const&) const = default;

 private:
  std::uint64_t value_ = invalidValue;
};

// Bits: 0 is a write, bit 0 an entry delete, bit 1 a table delete.
enum class EntryFlags : std::uint32_t { write = 0, entryDelete = 1, tableDelete = 2 };

// States of an operation's handle. A dependency in state pending holds its
// dependants back; failed, dependencyFailed and hardwareFailed make them fail.
enum class EntryState : std::uint32_t {
  pending = 0,           // accepted, not yet committed
  logged = 1,            // committed to the log, waiting for the hardware
  resolved = 2,          // committed, nothing for the hardware to do
  failed = 3,            // refused by its table
  completed = 4,         // taken by the hardware
  dependencyFailed = 5,  // its dependency failed
  hardwareFailed = 6,    // the hardware refused it
};

// The state's name: "pending", "logged", "resolved", "failed", "completed",
// "dependencyFailed", "hardwareFailed", or "unknown".
constexpr std::string_view entryStateName(EntryState state) noexcept {
  switch (state) {
    case EntryState::pending:
      return "pending";
    case EntryState::logged:
      return "logged";
    case EntryState::resolved:
      return "resolved";
    case EntryState::failed:
      return "failed";
    case EntryState::completed:
      return "completed";
    case EntryState::dependencyFailed:
      return "dependencyFailed";
    case EntryState::hardwareFailed:
      return "hardwareFailed";
  }
  return "unknown";
}

constexpr bool isFailure(EntryState state) noexcept {
  return state == EntryState::failed || state == EntryState::dependencyFailed ||
         state == EntryState::hardwareFailed;
}

}  // namespace Zido

template <>
struct fmt::formatter<Zido::SwTableId> : fmt::formatter<std::string_view> {
  auto format(Zido::SwTableId const& id, format_context& context) const {
    return fmt::format_to(context.out(), "{:02x}:{:02x}:{:04x}", id.agentId(), id.groupId(),
                          id.tblId());
  }
};

template <>
struct fmt::formatter<Zido::EntryVersion> : fmt::formatter<std::string_view> {
  auto format(Zido::EntryVersion const& version, format_context& context) const {
    if (!version.valid()) {
      return fmt::format_to(context.out(), "invalid");
    }
    return fmt::format_to(context.out(), "{{{}, {}}}", version.counter(), version.second());
  }
};

template <>
struct fmt::formatter<Zido::MajorVersion> : fmt::formatter<std::string_view> {
  auto format(Zido::MajorVersion const& version, format_context& context) const {
    if (!version.valid()) {
      return fmt::format_to(context.out(), "invalid");
    }
    return fmt::format_to(context.out(), "{}", version.value());
  }
};

template <>
struct fmt::formatter<Zido::EntryState> : fmt::formatter<std::string_view> {
  auto format(Zido::EntryState const& state, format_context& context) const {
    return fmt::format_to(context.out(), "{}", static_cast<std::uint32_t>(state));
  }
};
