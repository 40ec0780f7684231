#include "ZaduLpm/TcamInfraTypes.h"

#include "Quor/TraceHandle.h"
#include "Vesk/TypeBuilder.h"
#include "ZaduLpm/TcamSwTable.h"
#include "ZaduLpm/TcamSwTableHelperBase.h"
#include "ZaduLpmLib/TcamDataModelCodecs.h"

namespace ZaduLpm {

namespace {
Quor::TraceHandle traceHandle("TcamSwTable");
constexpr char const* wrapperTag = "TcamEntryWrapper";
}  // namespace

void TcamEntryWrapper::finalizeOnSuccess(Vesk::Ptr<TcamSwTable> const& swTable, bool isDeleted) {
  QUOR_TRACE(traceHandle, 8, wrapperTag, " key: {} isDeleted: {}", key(), isDeleted);
  swTable->swTableHelper()->finalizeOnSuccess(Vesk::Ptr<TcamEntryWrapper>(this), isDeleted,
                                              swTable);
}

bool TcamEntryWrapper::finalizeOnFailure(Vesk::Ptr<TcamSwTable> const& swTable, bool isDeleted) {
  QUOR_TRACE(traceHandle, 8, wrapperTag, " key: {} isDeleted: {}", key(), isDeleted);
  bool const retVal = swTable->swTableHelper()->finalizeOnFailure(Vesk::Ptr<TcamEntryWrapper>(this),
                                                                  isDeleted, swTable);
  QUOR_TRACE(traceHandle, 3, wrapperTag, " retVal: {}", retVal);
  return retVal;
}

Vesk::Ptr<TcamEntryWrapper> TcamEntryWrapper::TcamEntryWrapperIs(
    ZaduLpmLib::TcamDataModelEntry const& entry,
    Vesk::Ptr<Zido::OrderedEntryHandle> const& entryHandle) {
  return tcamEntryWrapperFactory(entry, entryHandle);
}

Vesk::Ptr<TcamEntryWrapper> tcamEntryWrapperFactory(
    ZaduLpmLib::TcamDataModelEntry const& entry,
    Vesk::Ptr<Zido::OrderedEntryHandle> const& entryHandle) {
  return Vesk::Ptr<TcamEntryWrapper>(new TcamEntryWrapper(entry, entryHandle));
}

Vesk::TypeData const& TcamEntryWrapper::staticTypeData() {
  static Vesk::TypeData const& type =
      Vesk::TypeBuilder<TcamEntryWrapper>("ZaduLpm::TcamEntryWrapper",
                                          &Vesk::Node::staticTypeData())
          .attribute("entry", &TcamEntryWrapper::entry)
          .attribute("entryHandle", &TcamEntryWrapper::entryHandle)
          .attribute("key", &TcamEntryWrapper::key)
          .attribute("logEntry", &TcamEntryWrapper::logEntry)
          .attribute("rsrcKeys", &TcamEntryWrapper::rsrcKeys)
          .operation("setResolvedFields", &TcamEntryWrapper::setResolvedFields)
          .operation("retrieveClientData", &TcamEntryWrapper::retrieveClientData)
          .operation("finalizeOnSuccess", &TcamEntryWrapper::finalizeOnSuccess)
          .operation("finalizeOnFailure", &TcamEntryWrapper::finalizeOnFailure)
          .creator("TcamEntryWrapperIs", &TcamEntryWrapper::TcamEntryWrapperIs)
          .done();
  return type;
}

bool TcamResolverEntry::isResolved() {
  return swTable_->isResolverEntryResolved(Vesk::Ptr<TcamResolverEntry>(this));
}

void TcamResolverEntry::commitEntry(Vesk::Ptr<Zido::ResolverEntry> const& resolverEntry) {
  swTable_->commitEntry(resolverEntry);
}

Zido::SwTableBase const* TcamResolverEntry::orderedTable() const {
  return swTable_;
}

void TcamResolverEntry::prefetchCommit() const noexcept {
  if (!isTableDeleted()) {  // a table delete touches no one slot
    swTable_->entryLog()->prefetchConfig(swTable_->unitId(), swTableEntry_->key());
  }
}

Vesk::Ptr<TcamResolverEntry> TcamResolverEntry::TcamResolverEntryIs(
    Vesk::Ptr<Zido::DependencyEntryHandle const> const& dependantEntryHandle,
    Zido::EntryFlags flags, TcamSwTable* swTable, Vesk::Ptr<TcamEntryWrapper> const& swTableEntry) {
  return tcamResolverEntryFactory(dependantEntryHandle, flags, swTable, swTableEntry);
}

Vesk::Ptr<TcamResolverEntry> tcamResolverEntryFactory(
    Vesk::Ptr<Zido::DependencyEntryHandle const> const& dependantEntryHandle,
    Zido::EntryFlags flags, TcamSwTable* swTable, Vesk::Ptr<TcamEntryWrapper> const& swTableEntry) {
  return Vesk::Ptr<TcamResolverEntry>(
      new TcamResolverEntry(dependantEntryHandle, flags, swTable, swTableEntry));
}

Vesk::TypeData const& TcamResolverEntry::staticTypeData() {
  static Vesk::TypeData const& type =
      Vesk::TypeBuilder<TcamResolverEntry>("ZaduLpm::TcamResolverEntry",
                                           &Zido::ResolverEntry::staticTypeData())
          .attribute("swTable", &TcamResolverEntry::swTable)
          .attribute("swTableEntry", &TcamResolverEntry::swTableEntry)
          .operation("isResolved", &TcamResolverEntry::isResolved)
          .operation("commitEntry", &TcamResolverEntry::commitEntry)
          .creator("TcamResolverEntryIs",
                   [](Vesk::Ptr<Zido::DependencyEntryHandle const> const& dependency,
                      std::uint32_t flags, TcamSwTable* swTable,
                      Vesk::Ptr<TcamEntryWrapper> const& swTableEntry) {
                     if (flags > static_cast<std::uint32_t>(Zido::EntryFlags::tableDelete)) {
                       throw Vesk::ReflectionError(fmt::format(
                           "ZaduLpm::TcamResolverEntry::TcamResolverEntryIs: flags {} is none of "
                           "0 (write), 1 (entry delete), 2 (table delete)",
                           flags));
                     }
                     return tcamResolverEntryFactory(
                         dependency, static_cast<Zido::EntryFlags>(flags), swTable, swTableEntry);
                   })
          .done();
  return type;
}

namespace {
[[maybe_unused]] Vesk::TypeData const& wrapperRegistered = TcamEntryWrapper::staticTypeData();
[[maybe_unused]] Vesk::TypeData const& resolverEntryRegistered =
    TcamResolverEntry::staticTypeData();
}  // namespace

}  // namespace ZaduLpm
