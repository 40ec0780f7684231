#include "Zido/EntryHandle.h"

#include "Vesk/TypeBuilder.h"
#include "Zido/SwTable.h"

namespace Zido {

Vesk::TypeData const& DependencyEntryHandle::staticTypeData() {
  static Vesk::TypeData const& type =
      Vesk::TypeBuilder<DependencyEntryHandle>("Zido::DependencyEntryHandle",
                                               &Quor::Entity::staticTypeData())
          .attribute("entryState",
                     [](DependencyEntryHandle const& handle) {
                       return static_cast<std::uint32_t>(handle.entryState());
                     })
          .attribute("entryTableVersion",
                     [](DependencyEntryHandle const& handle) {
                       return handle.entryTableVersion().version;
                     })
          .done();
  return type;
}

SwTableEntryHandle::SwTableEntryHandle(EntryVersion version, SwTableBase* table) noexcept
    : version_(version),
      table_(table),
      tableId_(table != nullptr ? table->tableId() : SwTableId()) {}

void SwTableEntryHandle::entryStateIs(EntryState state) {
  if (state == entryState_) {
    return;
  }
  entryState_ = state;
  publisher().publish(*this, "entryState");
  handleEntryState();
}

void SwTableEntryHandle::handleEntryState() {}

std::uint32_t SwTableEntryHandle::hwIndexForDependentField() const {
  return 0;
}

void SwTableEntryHandle::handleIndexSuggestions() {}

std::string SwTableEntryHandle::tableName() const {
  return table_ != nullptr && table_->name() ? table_->name()->text() : std::string();
}

SwTableId SwTableEntryHandle::tableId() const {
  return tableId_;
}

Vesk::TypeData const& SwTableEntryHandle::staticTypeData() {
  static Vesk::TypeData const& type =
      Vesk::TypeBuilder<SwTableEntryHandle>("Zido::SwTableBase::EntryHandle",
                                            &DependencyEntryHandle::staticTypeData())
          .attribute("entryVersion",
                     [](SwTableEntryHandle const& handle) { return handle.version().counter(); })
          .attribute("tableName", &SwTableEntryHandle::tableName)
          .attribute("tableId",
                     [](SwTableEntryHandle const& handle) { return handle.tableId().value(); })
          .operation("entryStateIs",
                     [](SwTableEntryHandle& handle, std::uint32_t state) {
                       handle.entryStateIs(static_cast<EntryState>(state));
                     })
          .operation("hwIndexForDependentField", &SwTableEntryHandle::hwIndexForDependentField)
          .done();
  return type;
}

void OrderedEntryHandle::logVersionIs(LogVersion version) {
  if (version != logVersion_) {
    logVersion_ = version;
    publisher().publish(*this, "logVersion");
  }
}

TableVersion OrderedEntryHandle::entryTableVersion() const {
  return TableVersion(tableId(), logVersion_);
}

Vesk::TypeData const& OrderedEntryHandle::staticTypeData() {
  static Vesk::TypeData const& type =
      Vesk::TypeBuilder<OrderedEntryHandle>("Zido::OrderedSwTable::EntryHandle",
                                            &SwTableEntryHandle::staticTypeData())
          .attribute("logVersion", &OrderedEntryHandle::logVersion,
                     &OrderedEntryHandle::logVersionIs)
          .done();
  return type;
}

namespace {
[[maybe_unused]] Vesk::TypeData const& dependencyRegistered =
    DependencyEntryHandle::staticTypeData();
[[maybe_unused]] Vesk::TypeData const& handleRegistered = SwTableEntryHandle::staticTypeData();
[[maybe_unused]] Vesk::TypeData const& orderedRegistered = OrderedEntryHandle::staticTypeData();
}  // namespace

}  // namespace Zido
