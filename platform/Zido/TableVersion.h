// Zido::TableVersion: the log version of one table id, as the hardware side
// publishes it (the version it has taken) and as needed-entry sets name it.
//
// It is also the record of the group's shared-memory collection of table
// versions, so its layout is fixed: another process writes it.
#pragma once

#include <fmt/format.h>

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "Pantry/SegmentFormat.h"
#include "Zido/Identifiers.h"

namespace Zido {

struct TableVersion {
  std::uint32_t tableIdValue = 0;
  std::uint32_t reserved = 0;  // zero
  LogVersion version = 0;

  constexpr TableVersion() noexcept = default;
  constexpr TableVersion(SwTableId id, LogVersion logVersion) noexcept
      : tableIdValue(id.value()), version(logVersion) {}

  constexpr SwTableId tableId() const noexcept { return SwTableId(tableIdValue); }
  constexpr bool operator==(TableVersion const&) const = default;
};

static_assert(std::is_trivially_copyable_v<TableVersion>);
static_assert(sizeof(TableVersion) == 16 && offsetof(TableVersion, version) == 8);

// The key of the shared-memory collection of table versions.
struct TableVersionKeyOf {
  using Key = std::uint32_t;
  static Key key(TableVersion const& record) { return record.tableIdValue; }
  static std::uint64_t hash(Key key) { return Pantry::Format::mix(0x5456, key); }
};

}  // namespace Zido

template <>
struct fmt::formatter<Zido::TableVersion> : fmt::formatter<std::string_view> {
  auto format(Zido::TableVersion const& tableVersion, format_context& context) const {
    return fmt::format_to(context.out(), "{}@{}", tableVersion.tableId(), tableVersion.version);
  }
};
