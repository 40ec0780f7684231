// The shared-memory records and collections of the TCAM data model.
//
//   TcamDataModelConfigPantryEntry  one committed entry of a unit's
//                                   configuration table, keyed by the key
//                                   inside its log entry.
//   TcamDataModelLogPantryEntry     one change of the change log, keyed by
//                                   its log version.
//   TcamDataModelConfigPantry       a unit's configuration table: the pantry
//                                   entity of collection swTableEntries
//                                   (Pantry::PantryMap).
//   TcamDataModelEntryLogPantry     a table id's change log: the pantry entity
//                                   of collection entryLogConfig
//                                   (Pantry::PantryRing); its scratchpad holds
//                                   the table version.
//
// Records are read by other processes (the hardware side, the tools): their
// layouts are fixed by the static_asserts below, padding is explicit and zero,
// and the default record is all zero but for the log record's unitId, 0xFFFF.
#pragma once

#include <cstddef>
#include <cstdint>

#include "Hunkpool/Pool.h"
#include "Pantry/PantryMap.h"
#include "Pantry/PantryRing.h"
#include "QuorPantry/PantryEntity.h"
#include "ZaduLpmLib/TcamDataModelTypes.h"
#include "Zido/Identifiers.h"

namespace ZaduLpmLib {

struct TcamDataModelConfigPantryEntry {
  Zido::LogVersion logVersion = 0;  // the last write or delete of the key
  TcamDataModelLogEntry logEntry;
  bool inDeletion = false;  // deleted, kept until the cleanup of logVersion
  std::uint8_t reserved[7] = {};

  TcamDataModelEntryKey const& key() const noexcept { return logEntry.entry.key; }
  bool isEq(TcamDataModelConfigPantryEntry const& other) const noexcept { return *this == other; }
  bool operator==(TcamDataModelConfigPantryEntry const& other) const noexcept {
    return logVersion == other.logVersion && logEntry == other.logEntry &&
           inDeletion == other.inDeletion;
  }
};

struct TcamDataModelLogPantryEntry {
  static constexpr std::uint8_t entryDeletedBit = 1 << 0;
  static constexpr std::uint8_t tableDeletedBit = 1 << 1;

  Zido::LogVersion version = 0;
  TcamDataModelEntryData entry;  // all zero for a table delete
  Zido::UnitId unitId = 0xFFFF;
  std::uint8_t flags = 0;
  std::uint8_t reserved[5] = {};

  bool entryDeleted() const noexcept { return (flags & entryDeletedBit) != 0; }
  bool tableDeleted() const noexcept { return (flags & tableDeletedBit) != 0; }
  bool operator==(TcamDataModelLogPantryEntry const& other) const noexcept {
    return version == other.version && entry == other.entry && unitId == other.unitId &&
           flags == other.flags;
  }
};

static_assert(std::is_trivially_copyable_v<TcamDataModelConfigPantryEntry>);
static_assert(sizeof(TcamDataModelConfigPantryEntry) == 32);
static_assert(offsetof(TcamDataModelConfigPantryEntry, logEntry) == 8);
static_assert(offsetof(TcamDataModelConfigPantryEntry, inDeletion) == 24);
static_assert(std::is_trivially_copyable_v<TcamDataModelLogPantryEntry>);
static_assert(sizeof(TcamDataModelLogPantryEntry) == 32);
static_assert(offsetof(TcamDataModelLogPantryEntry, entry) == 8);
static_assert(offsetof(TcamDataModelLogPantryEntry, unitId) == 24);
static_assert(offsetof(TcamDataModelLogPantryEntry, flags) == 26);

struct TcamDataModelConfigKeyOf {
  using Key = TcamDataModelEntryKey;
  static Key key(TcamDataModelConfigPantryEntry const& record) { return record.key(); }
  static std::uint64_t hash(Key const& key) { return key.hash(); }
};

struct TcamDataModelLogKeyOf {
  using Key = std::uint64_t;
  static Key key(TcamDataModelLogPantryEntry const& record) { return record.version; }
};

using TcamDataModelConfigMap =
    Pantry::PantryMap<TcamDataModelConfigPantryEntry, TcamDataModelConfigKeyOf>;
using TcamDataModelLogRing = Pantry::PantryRing<TcamDataModelLogPantryEntry, TcamDataModelLogKeyOf>;

class TcamDataModelConfigPantry : public QuorPantry::CollectionEntity<TcamDataModelConfigMap> {
  HUNKPOOL_CLASS_ALLOCATION(TcamDataModelConfigPantry)

 public:
  static constexpr char const* typeName = "ZaduLpmLib::TcamDataModelConfigPantry";
  static constexpr char const* collectionName = "swTableEntries";
  using CollectionEntity::CollectionEntity;

  TcamDataModelConfigMap& swTableEntries() const noexcept { return collection(); }
  void swTableEntriesIs(TcamDataModelConfigPantryEntry const& record) {
    collection().insert(record);
  }
  bool swTableEntriesDel(TcamDataModelEntryKey const& key) { return collection().del(key); }

  static Vesk::Ptr<QuorPantry::PantryEntity> mount(QuorPantry::MountRequest const& request);
  Vesk::TypeData const& typeData() const override { return staticTypeData(); }
  static Vesk::TypeData const& staticTypeData();
};

class TcamDataModelEntryLogPantry : public QuorPantry::CollectionEntity<TcamDataModelLogRing> {
  HUNKPOOL_CLASS_ALLOCATION(TcamDataModelEntryLogPantry)

 public:
  static constexpr char const* typeName = "ZaduLpmLib::TcamDataModelEntryLogPantry";
  static constexpr char const* collectionName = "entryLogConfig";
  using CollectionEntity::CollectionEntity;

  TcamDataModelLogRing& entryLogConfig() const noexcept { return collection(); }
  void entryLogConfigIs(TcamDataModelLogPantryEntry const& record) { collection().insert(record); }
  bool entryLogConfigDel(Zido::LogVersion version) { return collection().del(version); }

  static Vesk::Ptr<QuorPantry::PantryEntity> mount(QuorPantry::MountRequest const& request);
  Vesk::TypeData const& typeData() const override { return staticTypeData(); }
  static Vesk::TypeData const& staticTypeData();
};

}  // namespace ZaduLpmLib
