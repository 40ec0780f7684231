// The reflection records of the table, its handles, its script view and its
// iterator state: what scripts and tools see of them by name.
#include "ZaduLpm/TcamSwTable.h"

#include "Vesk/TypeBuilder.h"
#include "ZaduLpmLib/TcamDataModelCodecs.h"

namespace ZaduLpm {

Vesk::TypeData const& TcamSwTable::EntryHandle::staticTypeData() {
  static Vesk::TypeData const& type =
      Vesk::TypeBuilder<EntryHandle>("ZaduLpm::TcamSwTable::EntryHandle",
                                     &TcamDataModelSwTableBase::EntryHandle::staticTypeData())
          .creator("EntryHandleIs",
                   [](Zido::EntryVersion version, Key const& key, TcamSwTable* table) {
                     return entryHandleFactory(version, key, table);
                   })
          .done();
  return type;
}

Vesk::TypeData const& TcamSwTable::SwTableEntries_py::staticTypeData() {
  using Self = SwTableEntries_py;
  static Vesk::TypeData const& type =
      Vesk::TypeBuilder<Self>("ZaduLpm::TcamSwTable::SwTableEntries_py",
                              &Vesk::Node::staticTypeData())
          .collection<Key, Entry>(
              "tableEntries", &Self::tableEntries_,
              {.lookup = [](Self const& view, Key const& key) { return view.tableEntries(key); },
               .insert = [](Self& view, Entry const& entry) { view.tableEntriesIs(entry); },
               .del = [](Self& view, Key const& key) { return view.tableEntriesDel(key); },
               .delAll = [](Self& view) { view.tableEntriesDelAll(); }})
          .done();
  return type;
}

Vesk::TypeData const& TcamSwTable::staticTypeData() {
  using Handle = Vesk::Ptr<EntryHandle>;
  using Wrapper = Vesk::Ptr<TcamEntryWrapper>;
  static Vesk::TypeData const& type =
      Vesk::TypeBuilder<TcamSwTable>("ZaduLpm::TcamSwTable",
                                     &TcamDataModelSwTableBase::staticTypeData())
          .attribute("swTableHelper", &TcamSwTable::swTableHelper, &TcamSwTable::swTableHelperIs)
          .collection<Key, Wrapper>("transientAddEntry", &TcamSwTable::transientAddEntry_,
                                    {.lookup = &TcamSwTable::transientAddEntry,
                                     .insert = &TcamSwTable::transientAddEntryIs,
                                     .del = &TcamSwTable::transientAddEntryDel,
                                     .delAll = &TcamSwTable::transientAddEntryDelAll})
          .collection<Key, Wrapper>("transientRemoveEntry", &TcamSwTable::transientRemoveEntry_,
                                    {.lookup = &TcamSwTable::transientRemoveEntry,
                                     .insert = &TcamSwTable::transientRemoveEntryIs,
                                     .del = &TcamSwTable::transientRemoveEntryDel,
                                     .delAll = &TcamSwTable::transientRemoveEntryDelAll})
          .collection<Key, Zido::EntryVersion>(
              "transientVersionForKey", &TcamSwTable::transientVersionForKey_,
              {.lookup = &TcamSwTable::transientVersionForKey,
               .insertAt = &TcamSwTable::transientVersionForKeyIs,
               .del = &TcamSwTable::transientVersionForKeyDel,
               .delAll = &TcamSwTable::transientVersionForKeyDelAll})
          .attribute(
              "transientRemoveAllVersion",
              [](TcamSwTable const& table) { return table.transientRemoveAllVersion().value(); },
              [](TcamSwTable& table, std::uint64_t value) {
                table.transientRemoveAllVersionIs(Zido::MajorVersion(value));
              })
          .operation("getTableEntries_py", &TcamSwTable::getTableEntries_py)
          .attribute("entryLog", &TcamSwTable::entryLog)
          .attribute("groupResolver", &TcamSwTable::groupResolver)
          .collection<std::uint32_t, Handle>("entryHandleInLog", &TcamSwTable::entryHandleInLog_,
                                             {.lookup = &TcamSwTable::entryHandleInLog,
                                              .has = &TcamSwTable::entryHandleInLogHas,
                                              .insert = &TcamSwTable::entryHandleInLogEnq,
                                              .delAll = &TcamSwTable::entryHandleInLogDelAll})
          .operation("entryHandleInLogDeq", &TcamSwTable::entryHandleInLogDeq)
          .operation("entryHandleInLogFront", &TcamSwTable::entryHandleInLogFront)
          .operation("entryHandleInLogBack", &TcamSwTable::entryHandleInLogBack)
          .operation("commitEntry", &TcamSwTable::commitEntry)
          .operation("updateEntry", &TcamSwTable::updateEntry)
          .operation("getNeededEntrySet", &TcamSwTable::getNeededEntrySet)
          .operation("isResolverEntryResolved", &TcamSwTable::isResolverEntryResolved)
          .operation("setRsrcPtrs", &TcamSwTable::setRsrcPtrs)
          .operation("entryFromConfig", &TcamSwTable::entryFromConfig)
          .operation("restoreEntries", &TcamSwTable::restoreEntries)
          .operation("clearTable", &TcamSwTable::clearTable)
          .operation("handleInitialized", &TcamSwTable::handleInitialized)
          .creator("TcamSwTableIs",
                   [](Vesk::Ptr<Zido::CanonicalTableName const> const& tableName,
                      std::uint32_t tableId, Zido::UnitId unitId,
                      Zido::OrderedSwTableSet* swTableSet, Vesk::Ptr<TcamEntryLog> const& entryLog,
                      Vesk::Ptr<Zido::GroupResolver> const& groupResolver) {
                     return tcamSwTableFactory(tableName, Zido::SwTableId(tableId), unitId,
                                               swTableSet, entryLog, groupResolver);
                   })
          .done();
  return type;
}

Vesk::TypeData const& TcamSwTableIteratorState::staticTypeData() {
  static Vesk::TypeData const& type =
      Vesk::TypeBuilder<TcamSwTableIteratorState>(
          "ZaduLpm::TcamSwTableIteratorState",
          &ZaduLpmLib::TcamDataModelSwTableIteratorState::staticTypeData())
          .attribute("bookmarkKey", &TcamSwTableIteratorState::bookmarkKey,
                     &TcamSwTableIteratorState::bookmarkKeyIs)
          .operation("maybeUpdateCurrentEntry", &TcamSwTableIteratorState::maybeUpdateCurrentEntry)
          .creator("TcamSwTableIteratorStateIs", &tcamSwTableIteratorStateFactory)
          .done();
  return type;
}

namespace {
[[maybe_unused]] Vesk::TypeData const& handleRegistered =
    TcamSwTable::EntryHandle::staticTypeData();
[[maybe_unused]] Vesk::TypeData const& entriesRegistered =
    TcamSwTable::SwTableEntries_py::staticTypeData();
[[maybe_unused]] Vesk::TypeData const& tableRegistered = TcamSwTable::staticTypeData();
[[maybe_unused]] Vesk::TypeData const& stateRegistered = TcamSwTableIteratorState::staticTypeData();
}  // namespace

}  // namespace ZaduLpm
