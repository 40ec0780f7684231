// Zido::NeededEntry: the table versions that the hardware side must have
// reached before it may apply a logged change. A set: adding a table id
// again keeps the higher version.
//
// Costs: a commit makes one, and an operation with a dependency adds one
// table version; up to two are held inline, so a commit allocates nothing
// from the general heap (the set itself comes from a slab pool).
#pragma once

#include <absl/container/inlined_vector.h>

#include "Hunkpool/Pool.h"
#include "Quor/Entity.h"
#include "Vesk/PtrFormat.h"
#include "Zido/TableVersion.h"

namespace Zido {

class NeededEntry : public Quor::Entity {
  HUNKPOOL_CLASS_ALLOCATION(NeededEntry)

 public:
  void add(TableVersion const& tableVersion);
  using TableVersions = absl::InlinedVector<TableVersion, 2>;

  TableVersions const& tableVersions() const noexcept { return tableVersions_; }
  bool empty() const noexcept { return tableVersions_.empty(); }

  Vesk::TypeData const& typeData() const override { return staticTypeData(); }
  static Vesk::TypeData const& staticTypeData();

 private:
  TableVersions tableVersions_;
};

}  // namespace Zido

template <>
struct fmt::formatter<Zido::NeededEntry> : fmt::formatter<std::string_view> {
  auto format(Zido::NeededEntry const& needed, format_context& context) const {
    auto out = fmt::format_to(context.out(), "{{");
    char const* separator = "";
    for (Zido::TableVersion const& tableVersion : needed.tableVersions()) {
      out = fmt::format_to(out, "{}{}", separator, tableVersion);
      separator = ", ";
    }
    return fmt::format_to(out, "}}");
  }
};
