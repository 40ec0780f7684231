// The generated bases of the TCAM software table:
//
//   TcamDataModelSwTableBase               an ordered software table of TCAM
//                                          entries (name, table id, unit id,
//                                          table set).
//   TcamDataModelSwTableBase::EntryHandle  an operation's handle: its entry
//                                          version, key and owning table.
//   TcamDataModelSwTableIteratorState      the state of a resumable walk: its
//                                          phase flags and the walked table.
#pragma once

#include <cstdint>

#include "Hunkpool/Pool.h"
#include "ZaduLpmLib/TcamDataModelTypes.h"
#include "Zido/SwTable.h"

namespace ZaduLpmLib {

class TcamDataModelSwTableBase : public Zido::OrderedSwTable {
 public:
  class EntryHandle : public Zido::OrderedEntryHandle {
    HUNKPOOL_CLASS_ALLOCATION(EntryHandle)

   public:
    EntryHandle(Zido::EntryVersion version, TcamDataModelEntryKey const& key,
                TcamDataModelSwTableBase* table) noexcept
        : OrderedEntryHandle(version, table), key_(key) {}

    TcamDataModelEntryKey const& key() const noexcept { return key_; }

    Vesk::TypeData const& typeData() const override { return staticTypeData(); }
    static Vesk::TypeData const& staticTypeData();

   private:
    TcamDataModelEntryKey key_;
  };

  TcamDataModelSwTableBase(Vesk::Ptr<Zido::CanonicalTableName const> name, Zido::SwTableId tableId,
                           Zido::UnitId unitId, Zido::OrderedSwTableSet* swTableSet)
      : OrderedSwTable(std::move(name), tableId, unitId, swTableSet) {}

  Vesk::TypeData const& typeData() const override { return staticTypeData(); }
  static Vesk::TypeData const& staticTypeData();
};

// The phase flags of a walk, read as state().inTblCfg() and so on.
class TcamDataModelSwTableIteratorStateFlags {
 public:
  enum class Flag : std::uint32_t {
    entryValid = 1u << 0,        // the last step produced an entry
    inAddColl = 1u << 1,         // walking the pending writes
    inTblCfg = 1u << 2,          // walking the committed configuration
    removeAllPending = 1u << 3,  // a remove-all was pending when the walk began
    bookmarkValid = 1u << 4,     // the bookmark holds the resume key
  };

  constexpr TcamDataModelSwTableIteratorStateFlags() noexcept = default;
  constexpr explicit TcamDataModelSwTableIteratorStateFlags(std::uint32_t bits) noexcept
      : bits_(bits) {}

  constexpr std::uint32_t value() const noexcept { return bits_; }
  constexpr bool has(Flag flag) const noexcept {
    return (bits_ & static_cast<std::uint32_t>(flag)) != 0;
  }
  constexpr bool entryValid() const noexcept { return has(Flag::entryValid); }
  constexpr bool inAddColl() const noexcept { return has(Flag::inAddColl); }
  constexpr bool inTblCfg() const noexcept { return has(Flag::inTblCfg); }
  constexpr bool removeAllPending() const noexcept { return has(Flag::removeAllPending); }
  constexpr bool bookmarkValid() const noexcept { return has(Flag::bookmarkValid); }
  constexpr TcamDataModelSwTableIteratorStateFlags with(Flag flag, bool on) const noexcept {
    auto const bit = static_cast<std::uint32_t>(flag);
    return TcamDataModelSwTableIteratorStateFlags(on ? (bits_ | bit) : (bits_ & ~bit));
  }
  constexpr bool operator==(TcamDataModelSwTableIteratorStateFlags const&) const = default;

 private:
  std::uint32_t bits_ = 0;
};

class TcamDataModelSwTableIteratorState : public Vesk::Node {
 public:
  using Flags = TcamDataModelSwTableIteratorStateFlags;
  using Flag = Flags::Flag;

  Flags state() const noexcept { return state_; }
  void stateIs(Flags state);
  void flagIs(Flag flag, bool on) { stateIs(state_.with(flag, on)); }
  TcamDataModelSwTableBase const* table() const noexcept { return table_; }
  void tableIs(TcamDataModelSwTableBase const* table) noexcept { table_ = table; }

  Vesk::TypeData const& typeData() const override { return staticTypeData(); }
  static Vesk::TypeData const& staticTypeData();

 private:
  Flags state_;
  TcamDataModelSwTableBase const* table_ = nullptr;
};

}  // namespace ZaduLpmLib
