// The two objects that carry one pending operation of a TCAM software table
// from its acceptance to its commit:
//
//   TcamEntryWrapper   the entry an operation writes or removes and the
//                      table's handle of the operation. Pending collections
//                      hold wrappers; the commit hands their log form to the
//                      entry log and tells the client's helper through them.
//   TcamResolverEntry  what the table queues on the group resolver for one
//                      write (flags 0), remove (1) or remove-all (2); it
//                      forwards the resolver's two questions, isResolved and
//                      commitEntry, to its table.
//
// Ownership: a wrapper holds its handle; a resolver entry holds its wrapper
// and points to its table without counting it (the table withdraws its
// queued entries from the resolver when it goes).
//
// Thread safety: the agent's thread.
#pragma once

#include "Hunkpool/Pool.h"
#include "Vesk/Node.h"
#include "ZaduLpmLib/TcamDataModelTypes.h"
#include "Zido/EntryHandle.h"
#include "Zido/ResolverEntry.h"

namespace ZaduLpm {

class TcamSwTable;

class TcamEntryWrapper : public Vesk::Node {
  HUNKPOOL_CLASS_ALLOCATION(TcamEntryWrapper)

 public:
  TcamEntryWrapper(ZaduLpmLib::TcamDataModelEntry const& entry,
                   Vesk::Ptr<Zido::OrderedEntryHandle> entryHandle) noexcept
      : entry_(entry), entryHandle_(std::move(entryHandle)) {}

  ZaduLpmLib::TcamDataModelEntry const& entry() const noexcept { return entry_; }
  // Sets the key inside the entry: the accepting paths and the refresh from
  // configuration give the wrapper the operation's key.
  void entryKeyIs(ZaduLpmLib::TcamDataModelEntryKey const& key) noexcept { entry_.keyIs(key); }
  // The helper of an update may change the entry it is given.
  void entryIs(ZaduLpmLib::TcamDataModelEntry const& entry) noexcept { entry_ = entry; }
  Vesk::Ptr<Zido::OrderedEntryHandle> const& entryHandle() const noexcept { return entryHandle_; }
  ZaduLpmLib::TcamDataModelEntryKey const& key() const noexcept { return entry_.key(); }
  // The entry as the log keeps it: the logged part, with no resource keys.
  ZaduLpmLib::TcamDataModelLogEntry logEntry() const noexcept {
    return ZaduLpmLib::TcamDataModelLogEntry{entry_.data, {}};
  }
  ZaduLpmLib::TcamDataModelResourceKeys rsrcKeys() const noexcept { return {}; }

  // Hooks of the refresh from configuration; nothing to do for this table.
  void setResolvedFields() {}
  void retrieveClientData() {}
  // Tells the table's helper that the operation committed.
  void finalizeOnSuccess(Vesk::Ptr<TcamSwTable> const& swTable, bool isDeleted);
  // Tells the table's helper that the operation failed; returns its answer.
  bool finalizeOnFailure(Vesk::Ptr<TcamSwTable> const& swTable, bool isDeleted);

  static Vesk::Ptr<TcamEntryWrapper> TcamEntryWrapperIs(
      ZaduLpmLib::TcamDataModelEntry const& entry,
      Vesk::Ptr<Zido::OrderedEntryHandle> const& entryHandle);

  Vesk::TypeData const& typeData() const override { return staticTypeData(); }
  static Vesk::TypeData const& staticTypeData();

 private:
  ZaduLpmLib::TcamDataModelEntry entry_;
  Vesk::Ptr<Zido::OrderedEntryHandle> entryHandle_;
};

Vesk::Ptr<TcamEntryWrapper> tcamEntryWrapperFactory(
    ZaduLpmLib::TcamDataModelEntry const& entry,
    Vesk::Ptr<Zido::OrderedEntryHandle> const& entryHandle);

class TcamResolverEntry : public Zido::ResolverEntry {
  HUNKPOOL_CLASS_ALLOCATION(TcamResolverEntry)

 public:
  TcamResolverEntry(Vesk::Ptr<Zido::DependencyEntryHandle const> dependantEntryHandle,
                    Zido::EntryFlags flags, TcamSwTable* swTable,
                    Vesk::Ptr<TcamEntryWrapper> swTableEntry) noexcept
      : ResolverEntry(std::move(dependantEntryHandle), flags),
        swTable_(swTable),
        swTableEntry_(std::move(swTableEntry)) {}

  TcamSwTable* swTable() const noexcept { return swTable_; }
  Vesk::Ptr<TcamEntryWrapper> const& swTableEntry() const noexcept { return swTableEntry_; }

  // The table's isResolverEntryResolved for this entry.
  bool isResolved() override;
  // The table's commitEntry with `resolverEntry` (this entry).
  void commitEntry(Vesk::Ptr<Zido::ResolverEntry> const& resolverEntry) override;
  Zido::SwTableBase const* orderedTable() const override;
  // Prefetches the configuration slot of the entry's key.
  void prefetchCommit() const noexcept override;

  static Vesk::Ptr<TcamResolverEntry> TcamResolverEntryIs(
      Vesk::Ptr<Zido::DependencyEntryHandle const> const& dependantEntryHandle,
      Zido::EntryFlags flags, TcamSwTable* swTable,
      Vesk::Ptr<TcamEntryWrapper> const& swTableEntry);

  Vesk::TypeData const& typeData() const override { return staticTypeData(); }
  static Vesk::TypeData const& staticTypeData();

 private:
  TcamSwTable* swTable_;  // not counted
  Vesk::Ptr<TcamEntryWrapper> swTableEntry_;
};

Vesk::Ptr<TcamResolverEntry> tcamResolverEntryFactory(
    Vesk::Ptr<Zido::DependencyEntryHandle const> const& dependantEntryHandle,
    Zido::EntryFlags flags, TcamSwTable* swTable, Vesk::Ptr<TcamEntryWrapper> const& swTableEntry);

}  // namespace ZaduLpm
