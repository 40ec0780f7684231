#include "Zido/NeededEntry.h"

#include "Vesk/TypeBuilder.h"

namespace Zido {

void NeededEntry::add(TableVersion const& tableVersion) {
  for (TableVersion& held : tableVersions_) {
    if (held.tableIdValue == tableVersion.tableIdValue) {
      if (tableVersion.version > held.version) {
        held.version = tableVersion.version;
        publisher().publishKey(*this, "tableVersion", held.tableIdValue);
      }
      return;
    }
  }
  tableVersions_.push_back(tableVersion);
  publisher().publishKey(*this, "tableVersion", tableVersion.tableIdValue);
}

Vesk::TypeData const& NeededEntry::staticTypeData() {
  using Binding = Vesk::CollectionBinding<NeededEntry, std::uint32_t, std::uint64_t>;
  static Vesk::TypeData const& type =
      Vesk::TypeBuilder<NeededEntry>("Zido::NeededEntry", &Quor::Entity::staticTypeData())
          .collection<std::uint32_t, std::uint64_t>(
              "tableVersion",
              Binding{
                  .lookup =
                      [](NeededEntry const& needed, std::uint32_t const& tableId) {
                        for (TableVersion const& held : needed.tableVersions()) {
                          if (held.tableIdValue == tableId) {
                            return held.version;
                          }
                        }
                        return LogVersion{0};
                      },
                  .count = [](NeededEntry const& needed) { return needed.tableVersions().size(); },
                  .insertAt =
                      [](NeededEntry& needed, std::uint32_t const& tableId,
                         std::uint64_t const& version) {
                        needed.add(TableVersion(SwTableId(tableId), version));
                      }})
          .creator("NeededEntryIs", [] { return Vesk::Ptr<NeededEntry>(new NeededEntry()); })
          .done();
  return type;
}

namespace {
[[maybe_unused]] Vesk::TypeData const& registered = NeededEntry::staticTypeData();
}  // namespace

}  // namespace Zido
