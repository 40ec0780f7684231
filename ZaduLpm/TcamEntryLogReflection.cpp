// The entry log's reflection record: what scripts and tools see of it by name.
#include "ZaduLpm/TcamEntryLog.h"

#include "Vesk/TypeBuilder.h"
#include "ZaduLpmLib/TcamDataModelCodecs.h"

namespace ZaduLpm {

Vesk::TypeData const& TcamEntryLog::staticTypeData() {
  static Vesk::TypeData const& type =
      Vesk::TypeBuilder<TcamEntryLog>("ZaduLpm::TcamEntryLog",
                                      &Zido::EntryLogBase::staticTypeData())
          .attribute("tableEntryLog", &TcamEntryLog::tableEntryLog)
          .collection<std::uint16_t, Vesk::Ptr<ConfigPantry>>(
              "tableConfigPantry", &TcamEntryLog::tableConfigPantry_,
              {.lookup = &TcamEntryLog::tableConfigPantry,
               .insertAt = &TcamEntryLog::tableConfigPantryIs,
               .del = &TcamEntryLog::tableConfigPantryDel,
               .delAll = &TcamEntryLog::tableConfigPantryDelAll})
          .operation("mountPantryConfig", &TcamEntryLog::mountPantryConfig)
          .operation("cleanupEntryLog", &TcamEntryLog::cleanupEntryLog)
          .operation("entry", &TcamEntryLog::entry)
          .operation("entryHas", &TcamEntryLog::entryHas)
          .operation("entryRsrcKeys", &TcamEntryLog::entryRsrcKeys)
          .operation("entryLogVersion", &TcamEntryLog::entryLogVersion)
          .operation("entrysInDeletion", &TcamEntryLog::entrysInDeletion)
          .operation("entrys", &TcamEntryLog::entrys)
          .creator("TcamEntryLogIs",
                   [](std::uint32_t tableId, Vesk::Ptr<Centrum::EntityManager> const& entityManager,
                      Vesk::Ptr<Zido::GroupInterface> const& groupInterface,
                      std::string const& agentName) {
                     return tcamEntryLogFactory(Zido::SwTableId(tableId), entityManager,
                                                groupInterface, agentName);
                   })
          .done();
  return type;
}

namespace {
[[maybe_unused]] Vesk::TypeData const& registered = TcamEntryLog::staticTypeData();
}  // namespace

}  // namespace ZaduLpm
