#include "ZaduLpmLib/TcamDataModelPantry.h"

#include "Vesk/TypeBuilder.h"
#include "ZaduLpmLib/TcamDataModelCodecs.h"

namespace ZaduLpmLib {

Vesk::Ptr<QuorPantry::PantryEntity> TcamDataModelConfigPantry::mount(
    QuorPantry::MountRequest const& request) {
  return Vesk::Ptr<QuorPantry::PantryEntity>(
      new TcamDataModelConfigPantry(request.entityPath, request.typeName,
                                    QuorPantry::mountCollection<TcamDataModelConfigMap>(request)));
}

Vesk::Ptr<QuorPantry::PantryEntity> TcamDataModelEntryLogPantry::mount(
    QuorPantry::MountRequest const& request) {
  return Vesk::Ptr<QuorPantry::PantryEntity>(
      new TcamDataModelEntryLogPantry(request.entityPath, request.typeName,
                                      QuorPantry::mountCollection<TcamDataModelLogRing>(request)));
}

namespace {

// A configuration record as reflection shows it.
Vesk::Value configRecord(TcamDataModelConfigPantryEntry const& record) {
  return Vesk::Value::Record{
      {"logVersion", Vesk::Value(record.logVersion)},
      {"logEntry", Vesk::Codec<TcamDataModelLogEntry>::encode(record.logEntry)},
      {"inDeletion", Vesk::Value(record.inDeletion)}};
}

Vesk::Value logRecord(TcamDataModelLogPantryEntry const& record) {
  return Vesk::Value::Record{{"version", Vesk::Value(record.version)},
                             {"entry", Vesk::Codec<TcamDataModelLogEntry>::encode(
                                           TcamDataModelLogEntry{record.entry, {}})},
                             {"unitId", Vesk::Value(record.unitId)},
                             {"entryDeleted", Vesk::Value(record.entryDeleted())},
                             {"tableDeleted", Vesk::Value(record.tableDeleted())}};
}

}  // namespace

Vesk::TypeData const& TcamDataModelConfigPantry::staticTypeData() {
  using Binding =
      Vesk::CollectionBinding<TcamDataModelConfigPantry, TcamDataModelEntryKey, Vesk::Value>;
  static Vesk::TypeData const& type =
      Vesk::TypeBuilder<TcamDataModelConfigPantry>(typeName,
                                                   &QuorPantry::PantryEntity::staticTypeData())
          .collection<TcamDataModelEntryKey, Vesk::Value>(
              TcamDataModelConfigPantry::collectionName,
              Binding{.lookup =
                          [](TcamDataModelConfigPantry const& pantry,
                             TcamDataModelEntryKey const& key) {
                            return configRecord(pantry.swTableEntries().lookup(key).record);
                          },
                      .has =
                          [](TcamDataModelConfigPantry const& pantry,
                             TcamDataModelEntryKey const& key) {
                            return pantry.swTableEntries().has(key);
                          },
                      .count =
                          [](TcamDataModelConfigPantry const& pantry) {
                            return static_cast<std::size_t>(pantry.swTableEntries().count());
                          },
                      .forEach =
                          [](TcamDataModelConfigPantry const& pantry, auto const& visit) {
                            auto& entries = pantry.swTableEntries();
                            for (auto record = entries.first(); record;
                                 record = entries.nextAfter(record->key())) {
                              if (!visit(record->key(), configRecord(*record))) {
                                return;
                              }
                            }
                          }})
          .done();
  return type;
}

Vesk::TypeData const& TcamDataModelEntryLogPantry::staticTypeData() {
  using Binding = Vesk::CollectionBinding<TcamDataModelEntryLogPantry, std::uint64_t, Vesk::Value>;
  static Vesk::TypeData const& type =
      Vesk::TypeBuilder<TcamDataModelEntryLogPantry>(typeName,
                                                     &QuorPantry::PantryEntity::staticTypeData())
          .collection<std::uint64_t, Vesk::Value>(
              TcamDataModelEntryLogPantry::collectionName,
              Binding{
                  .lookup =
                      [](TcamDataModelEntryLogPantry const& pantry, std::uint64_t const& version) {
                        return logRecord(pantry.entryLogConfig().lookup(version).record);
                      },
                  .has =
                      [](TcamDataModelEntryLogPantry const& pantry, std::uint64_t const& version) {
                        return pantry.entryLogConfig().has(version);
                      },
                  .count =
                      [](TcamDataModelEntryLogPantry const& pantry) {
                        return static_cast<std::size_t>(pantry.entryLogConfig().count());
                      },
                  .forEach =
                      [](TcamDataModelEntryLogPantry const& pantry, auto const& visit) {
                        auto& log = pantry.entryLogConfig();
                        for (auto record = log.first(); record;
                             record = log.nextAfter(record->version)) {
                          if (!visit(record->version, logRecord(*record))) {
                            return;
                          }
                        }
                      }})
          .done();
  return type;
}

namespace {
[[maybe_unused]] bool const pantryTypesRegistered = [] {
  QuorPantry::PantryTypes::registerType(TcamDataModelConfigPantry::typeName,
                                        &TcamDataModelConfigPantry::mount);
  QuorPantry::PantryTypes::registerType(TcamDataModelEntryLogPantry::typeName,
                                        &TcamDataModelEntryLogPantry::mount);
  return true;
}();
[[maybe_unused]] Vesk::TypeData const& configRegistered =
    TcamDataModelConfigPantry::staticTypeData();
[[maybe_unused]] Vesk::TypeData const& logRegistered =
    TcamDataModelEntryLogPantry::staticTypeData();
}  // namespace

}  // namespace ZaduLpmLib
