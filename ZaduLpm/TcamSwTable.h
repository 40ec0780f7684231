// ZaduLpm::TcamSwTable: the software table of one hardware unit of the LPM
// TCAM. A client gets it from TcamInterface::makeSwTable, and writes, removes
// and reads entries through it.
//
// Road of an operation. entryWrite, entryRemove and entryRemoveAll accept at
// once: the operation gets the key's next entry version and a handle (state
// 0), becomes the pending operation of its key, and is queued on the group
// resolver. When its dependency, if any, is no longer pending the resolver
// commits it (commitEntry): the entry log records it under a new log version
// in shared memory, the client's helper is told, and the handle waits in the
// in-log queue with state 1 until the hardware side's table status version
// covers it (tableStatusVersion), which completes it: state 4 and the
// response handler. A failed dependency fails the operation (state 5,
// handler called, nothing logged). A remove-all's handler runs exactly when
// its commit does not go through: its dependency failed (state 5,
// dependencyFailed) or its commit was refused (state 3, failed: below). A
// remove-all that commits logs one table delete (none when the unit's
// configuration table is missing or empty) and retires the pending
// remove-all; its handle is not queued and its handler is never called.
//
// A commit whose logging raises (a new key into a unit's configuration table
// that already holds 65,536 entries; for a remove-all, also an error of the
// configuration walk before its table delete) keeps the steps before it (the
// helper was told, the key's pending state or the remove-all count is
// retired), runs the closing steps, gives the handle state 3 (refused by its
// table) and calls its handler once; the error goes on to the group
// resolver, which reports it (RESOLVER_COMMIT_FAILED). The client hears of
// every operation exactly once, and reads show the entry as it is stored.
//
// A table that goes away withdraws its operations still queued on the group
// resolver (their resolver entries point to it without counting it): their
// handles stay in state 0 and their handlers are not called.
//
// Reads and iteration answer as the table will stand once everything pending
// has committed, and never fail: a unit whose configuration table is not
// mounted reads as holding nothing committed. Precedence: a pending write,
// then a pending remove, then (for entryHas and iteration) a pending
// remove-all, then the committed configuration of the unit.
//
// Every mutation of an attribute publishes a change notification; one that
// changes nothing publishes nothing.
//
// Costs: an accepted operation is a few hash lookups and three slab
// allocations (handle, wrapper, resolver entry). A commit adds the entry
// log's write. A read is at most two hash lookups and one shared-memory
// lookup.
//
// Thread safety: the agent's event-loop thread only; no locks.
//
// This header gives the client's API first. After it, each in a section of
// its own: what the group interface calls, the construction TcamInterface
// uses, and the state and steps that the generic algorithms
// (OrderedTable/OrderedSwTableAccessor.h) drive, with the state's
// invariants.
#pragma once

#include <cstdint>
#include <functional>
#include <iterator>
#include <string_view>

#include "Hunkpool/Pool.h"
#include "Quor/HashMap2018.h"
#include "Quor/PublishedMap.h"
#include "Vesk/RQueue.h"
#include "ZaduLpm/TcamEntryLog.h"
#include "ZaduLpm/TcamInfraTypes.h"
#include "ZaduLpm/TcamSwTableHelperBase.h"
#include "ZaduLpmLib/TcamDataModelCodecs.h"
#include "ZaduLpmLib/TcamDataModelSwTableBase.h"
#include "Zido/GroupResolver.h"
#include "Zido/NeededEntry.h"

namespace ZaduLpm {

class TcamSwTableIteratorState;

class TcamSwTable : public ZaduLpmLib::TcamDataModelSwTableBase {
  HUNKPOOL_CLASS_ALLOCATION(TcamSwTable)

 public:
  // ==== The client's API

  using Key = ZaduLpmLib::TcamDataModelEntryKey;
  using Entry = ZaduLpmLib::TcamDataModelEntry;
  using ResponseHandler = Zido::OrderedSwTable::ResponseHandler;
  using DependencyPtr = Vesk::Ptr<Zido::DependencyEntryHandle const>;

  // Raises ZaduLpmLib::InvalidKeyError, naming the key and what is wrong
  // with it, for a key the TCAM cannot hold (a length above 32, host bits
  // set): every operation that writes a key refuses one before anything
  // changes. Reads take any key and find nothing under such a one.
  static void requireValidKey(Key const& key) { ZaduLpmLib::requireValidKey(key); }

  // The handle of one accepted operation.
  class EntryHandle : public TcamDataModelSwTableBase::EntryHandle {
    HUNKPOOL_CLASS_ALLOCATION(EntryHandle)

   public:
    using Ptr = Vesk::Ptr<EntryHandle>;
    using PtrConst = Vesk::Ptr<EntryHandle const>;

    // The handle a response handler is given, as this table's handle (its
    // key(), entryState(), logVersion()). REQUIRES: a handle of a
    // TcamSwTable, which every handle passed to its handlers is.
    static EntryHandle const& of(Vesk::Ptr<Zido::OrderedEntryHandle const> const& handle) noexcept {
      return static_cast<EntryHandle const&>(*handle);
    }

    Vesk::TypeData const& typeData() const override { return staticTypeData(); }
    static Vesk::TypeData const& staticTypeData();

    // Not for clients, whose handles come from the operations: the
    // algorithms make handles with the constructor, tests and the reflection
    // record's creator with entryHandleFactory, which EntryHandleIs forwards
    // to.
    using TcamDataModelSwTableBase::EntryHandle::EntryHandle;
    static Ptr EntryHandleIs(Zido::EntryVersion version, Key const& key,
                             TcamDataModelSwTableBase* table);
  };

  // The keys' own hash (the same in every process): of the snapshot's map
  // below, and of the pending collections of the algorithms' section.
  struct KeyHash {
    std::size_t operator()(Key const& key) const noexcept { return key.hash(); }
  };

  // A snapshot of the table's entries for scripts (getTableEntries_py);
  // later changes of the table do not reach it.
  class SwTableEntries_py : public Vesk::Node {
    HUNKPOOL_CLASS_ALLOCATION(SwTableEntries_py)

   public:
    struct TableEntriesKeyFunktor {
      Key const& operator()(Entry const& entry) const noexcept { return entry.key(); }
    };
    using TableEntries = Quor::HashMap2018<Key, Entry, KeyHash>;

    // The entry of `key`, or the empty entry.
    Entry tableEntries(Key const& key) const;
    bool tableEntriesHas(Key const& key) const { return tableEntries_.has(key); }
    std::size_t tableEntriesCount() const noexcept { return tableEntries_.count(); }
    // Inserts `entry` under its own key, replacing the entry held there.
    void tableEntriesIs(Entry const& entry);
    // Removes the entry of `key` and returns it; the empty entry when absent.
    Entry tableEntriesDel(Key const& key);
    void tableEntriesDelAll();
    TableEntries const& tableEntriesMap() const noexcept { return tableEntries_; }

    Vesk::TypeData const& typeData() const override { return staticTypeData(); }
    static Vesk::TypeData const& staticTypeData();

   private:
    TableEntries tableEntries_;
  };

  // A single-pass walk over the table's entries (entryIteratorConst starts
  // one): the pending writes in the order they were accepted, then the
  // committed records. Copies share one walk. Between steps the client may
  // change the table; the walk resumes by key and never uses a stale
  // position. Writes accepted between steps come after the bookmark and are
  // yielded. When the bookmark's own pending write commits (or is removed)
  // between steps, the walk leaves the pending writes and resumes in the
  // committed records at that key: pending writes after it that are still
  // pending are not yielded by this walk (they are yielded by the next one).
  //
  //   for (auto it = table->entryIteratorConst(); !it.isEnd(); ++it) use(*it);
  //   for (Entry const& entry : table->entryIteratorConst()) use(entry);
  class EntryIteratorConst {
   public:
    using iterator_category = std::input_iterator_tag;
    using value_type = Entry;
    using difference_type = std::ptrdiff_t;
    using pointer = Entry const*;
    using reference = Entry const&;

    // Makes the first step of `state`.
    EntryIteratorConst(TcamSwTable const* table, Vesk::Ptr<TcamSwTableIteratorState> state);

    TcamSwTable const* table() const noexcept { return table_; }
    Vesk::Ptr<TcamSwTableIteratorState> const& iterState() const noexcept { return state_; }
    // True when the last step produced no entry.
    bool isEnd() const noexcept;
    // REQUIRES: !isEnd().
    Entry const& operator*() const noexcept { return entry_; }
    Entry const* operator->() const noexcept { return &entry_; }
    // Makes the next step.
    EntryIteratorConst& operator++();
    void operator++(int) { ++*this; }
    bool operator==(std::default_sentinel_t) const noexcept { return isEnd(); }

    EntryIteratorConst begin() const { return *this; }
    std::default_sentinel_t end() const noexcept { return {}; }

   private:
    TcamSwTable const* table_;
    Vesk::Ptr<TcamSwTableIteratorState> state_;
    Entry entry_;
  };

  // Virtual slots: the virtual operations this class adds take new slots in
  // declaration order: these, from entryWrite to entryIteratorConst(), then
  // initIterState and initIterStateFromKey in the algorithms' section. The
  // overrides (the destructor, typeData and the group interface's
  // operations) keep their bases' slots wherever they are declared.
  //
  // Each accepts an operation (the road of an operation, above).
  virtual EntryHandle::PtrConst entryWrite(Key const& key, Entry const& entry,
                                           DependencyPtr const& dependency);
  virtual EntryHandle::PtrConst entryWriteWithResponseHandler(Key const& key, Entry const& entry,
                                                              DependencyPtr const& dependency,
                                                              ResponseHandler const& handler);
  virtual EntryHandle::PtrConst entryRemove(Key const& key, DependencyPtr const& dependency);
  virtual EntryHandle::PtrConst entryRemoveWithResponseHandler(Key const& key,
                                                               DependencyPtr const& dependency,
                                                               ResponseHandler const& handler);
  virtual void entryRemoveAll(DependencyPtr const& dependency);
  virtual void entryRemoveAllWithResponseHandler(DependencyPtr const& dependency,
                                                 ResponseHandler const& handler);
  // The entry as it will stand; the empty entry when there is none.
  virtual Entry entryRead(Key const& key) const;
  virtual Entry entry(Key const& key) const;
  virtual bool entryHas(Key const& key) const;
  // The number of entries a full walk yields.
  virtual std::uint32_t entrys() const;
  // A walk from `key` (initIterStateFromKey), and one of the whole table
  // (initIterState).
  virtual EntryIteratorConst entryIteratorConst(Key const& key) const;
  virtual EntryIteratorConst entryIteratorConst() const;

  // The client's callbacks (a default helper until the client sets one).
  Vesk::Ptr<TcamSwTableHelperBase> const& swTableHelper() const noexcept { return swTableHelper_; }
  void swTableHelperIs(Vesk::Ptr<TcamSwTableHelperBase> const& helper);

  // Re-derives the committed entry of `key` through the helper and logs it
  // again when it changed; null when the key has no committed entry.
  Vesk::Ptr<Zido::OrderedEntryHandle const> updateEntry(Key const& key);

  // A snapshot of the entries a full walk yields.
  Vesk::Ptr<SwTableEntries_py> getTableEntries_py() const;

  Vesk::TypeData const& typeData() const override { return staticTypeData(); }
  static Vesk::TypeData const& staticTypeData();

  // ==== Called by the group interface

  // Through the table set: the hardware has taken the changes up to
  // `version`; cleans the log and completes the queued handles it covers.
  void tableStatusVersion(Zido::LogVersion version) override;
  // Through the table set: whether anything pending or logged is not yet
  // taken by the hardware.
  bool hasPendingHwWrites() const override;
  // The framework's hook for making a unit's hardware table; this table has
  // no hardware table object of its own: it does nothing.
  void doCreateHwTable() override;

  // ==== Construction: TcamInterface makes a unit's table (makeUnitSwTable)

  // Builds the table and runs handleInitialized (a default helper and the
  // statistics record). `swTableSet` is not owned.
  TcamSwTable(Vesk::Ptr<Zido::CanonicalTableName const> const& tableName, Zido::SwTableId tableId,
              Zido::UnitId unitId, Zido::OrderedSwTableSet* swTableSet,
              Vesk::Ptr<TcamEntryLog> const& entryLog,
              Vesk::Ptr<Zido::GroupResolver> const& groupResolver);
  ~TcamSwTable() override;

  static Vesk::Ptr<TcamSwTable> TcamSwTableIs(
      Vesk::Ptr<Zido::CanonicalTableName const> const& tableName, Zido::SwTableId tableId,
      Zido::UnitId unitId, Zido::OrderedSwTableSet* swTableSet,
      Vesk::Ptr<TcamEntryLog> const& entryLog, Vesk::Ptr<Zido::GroupResolver> const& groupResolver);

  // ==== State and steps the generic algorithms drive; clients do not call these
  //
  // The algorithms of OrderedTable/OrderedSwTableAccessor.h keep their state
  // here (what they need of it is the SwTable concept of
  // OrderedTable/TableConcepts.h); the group resolver's entries commit
  // through isResolverEntryResolved and commitEntry, TcamInterface clears or
  // restores a new table, and entryIteratorConst and getTableEntries_py
  // start their walks with initIterState and initIterStateFromKey. Tests and
  // benchmarks read this state to check the invariants below.
  //
  // State of its own:
  //   transientAddEntry         key -> wrapper of the latest pending write
  //   transientRemoveEntry      key -> wrapper of the latest pending remove
  //   transientVersionForKey    key -> version of its latest pending operation
  //   transientRemoveAllVersion pending remove-alls, as count - 1 (invalid: 0)
  //   entryHandleInLog          handles logged but not yet taken by the
  //                             hardware, in commit (and log version) order
  //
  // Invariants:
  //  1. A key is never in both transientAddEntry and transientRemoveEntry.
  //  2. A key is in transientVersionForKey while any operation on it is
  //     pending; the commit of that very version removes it. An operation whose
  //     dependency failed is not retired: it stays the key's pending operation
  //     (a failed write is what reads show) until the key's next operation
  //     supersedes it.
  //  3. Log versions in entryHandleInLog rise from front to back.

  // The name of the table's trace handles (its own and the algorithms').
  static constexpr char const* traceHandleName = "TcamSwTable";

  // A walk of the whole table: pending writes, then the committed entries no
  // pending operation overrides (none while a remove-all is pending).
  virtual Vesk::Ptr<TcamSwTableIteratorState> initIterState() const;
  // A walk from `key`: at its pending write, at its committed entry, or ended.
  virtual Vesk::Ptr<TcamSwTableIteratorState> initIterStateFromKey(Key const& key) const;

  // Members of the pending collections are keyed by their own entry's key
  // (TransientAddEntryKeyFunktor, TransientRemoveEntryKeyFunktor).
  struct TransientAddEntryKeyFunktor {
    Key const& operator()(TcamEntryWrapper const& wrapper) const noexcept { return wrapper.key(); }
  };
  using TransientRemoveEntryKeyFunktor = TransientAddEntryKeyFunktor;
  using WrapperMap = Quor::HashMap2018<Key, Vesk::Ptr<TcamEntryWrapper>, KeyHash>;
  using VersionMap = Quor::HashMap2018<Key, Zido::EntryVersion, KeyHash>;
  using InLogQueue = Vesk::RQueue<Vesk::Ptr<EntryHandle>>;

  // The pending collections.
  Vesk::Ptr<TcamEntryWrapper> transientAddEntry(Key const& key) const;
  // Inserts under the wrapper's own key. Raises Vesk::NullArgumentException
  // for a null wrapper and ZaduLpmLib::InvalidKeyError for a key the TCAM
  // cannot hold (as transientRemoveEntryIs and transientVersionForKeyIs do).
  void transientAddEntryIs(Vesk::Ptr<TcamEntryWrapper> const& wrapper);
  Vesk::Ptr<TcamEntryWrapper> transientAddEntryDel(Key const& key);
  void transientAddEntryDelAll();
  WrapperMap const& transientAddEntries() const noexcept { return transientAddEntry_; }

  Vesk::Ptr<TcamEntryWrapper> transientRemoveEntry(Key const& key) const;
  void transientRemoveEntryIs(Vesk::Ptr<TcamEntryWrapper> const& wrapper);
  Vesk::Ptr<TcamEntryWrapper> transientRemoveEntryDel(Key const& key);
  void transientRemoveEntryDelAll();
  WrapperMap const& transientRemoveEntries() const noexcept { return transientRemoveEntry_; }

  // The invalid version when the key has none.
  Zido::EntryVersion transientVersionForKey(Key const& key) const;
  void transientVersionForKeyIs(Key const& key, Zido::EntryVersion const& version);
  Zido::EntryVersion transientVersionForKeyDel(Key const& key);
  // Gives `key` the version next(held) returns, where held points to its
  // version or is null when it has none, with one lookup; returns it.
  // REQUIRES: next returns a version other than *held.
  template <class Next>
  Zido::EntryVersion transientVersionForKeyUpdate(Key const& key, Next&& next) {
    return Quor::publishedUpdate(*this, transientVersionForKey_, "transientVersionForKey", key,
                                 std::forward<Next>(next));
  }
  void transientVersionForKeyDelAll();
  VersionMap const& transientVersionsForKey() const noexcept { return transientVersionForKey_; }

  Zido::MajorVersion transientRemoveAllVersion() const noexcept {
    return transientRemoveAllVersion_;
  }
  void transientRemoveAllVersionIs(Zido::MajorVersion version);

  Vesk::Ptr<TcamEntryLog> const& entryLog() const noexcept { return entryLog_; }
  Vesk::Ptr<Zido::GroupResolver> const& groupResolver() const noexcept { return groupResolver_; }

  // The in-log queue. Indexes start at 1 and are never reused.
  void entryHandleInLogEnq(Vesk::Ptr<EntryHandle> const& handle);
  Vesk::Ptr<EntryHandle> entryHandleInLogDeq();
  Vesk::Ptr<EntryHandle> entryHandleInLogFront() const;
  Vesk::Ptr<EntryHandle> entryHandleInLogBack() const;
  Vesk::Ptr<EntryHandle> entryHandleInLog(std::uint32_t index) const;
  // Starts bringing the handle `ahead` places behind the front into the
  // cache: completion reaches handles logged thousands of operations before,
  // long gone from the cache. A hint that changes nothing; no handle there,
  // no hint.
  void entryHandleInLogPrefetch(std::uint32_t ahead) const noexcept;
  bool entryHandleInLogHas(std::uint32_t index) const {
    return entryHandleInLog_.at(index) != nullptr;
  }
  void entryHandleInLogDelAll();
  InLogQueue const& entryHandleInLogQueue() const noexcept { return entryHandleInLog_; }

  // Steps.
  void commitEntry(Vesk::Ptr<Zido::ResolverEntry> const& resolverEntry);
  // The entries a logged change needs: none for this table.
  Vesk::Ptr<Zido::NeededEntry const> getNeededEntrySet(
      Vesk::Ptr<TcamEntryWrapper const> const& wrapper) const;
  bool isResolverEntryResolved(Vesk::Ptr<TcamResolverEntry> const& resolverEntry);
  // The table has no resource pointers to refresh.
  void setRsrcPtrs(Vesk::Ptr<TcamEntryWrapper> const& wrapper, bool refresh);
  // Whether the unit's configuration holds a live record of `key`; false when
  // the unit has no configuration table.
  bool committedHas(Key const& key) const;
  // The committed entry of `key`, ignoring everything pending.
  Entry entryFromConfig(Key const& key) const;
  // Nothing to restore beyond the configuration table itself.
  void restoreEntries() {}
  // Logs one table delete of every committed entry of the unit.
  void clearTable(bool releaseResources);
  void handleInitialized();

 private:
  void wrapperIs(WrapperMap& map, std::string_view attribute,
                 Vesk::Ptr<TcamEntryWrapper> const& wrapper);
  Vesk::Ptr<TcamEntryWrapper> wrapperDel(WrapperMap& map, std::string_view attribute,
                                         Key const& key);
  void wrappersDelAll(WrapperMap& map, std::string_view attribute);

  Vesk::Ptr<TcamSwTableHelperBase> swTableHelper_;
  WrapperMap transientAddEntry_;
  WrapperMap transientRemoveEntry_;
  VersionMap transientVersionForKey_;
  Zido::MajorVersion transientRemoveAllVersion_;
  Vesk::Ptr<TcamEntryLog> entryLog_;
  Vesk::Ptr<Zido::GroupResolver> groupResolver_;
  InLogQueue entryHandleInLog_;
};

Vesk::Ptr<TcamSwTable> tcamSwTableFactory(
    Vesk::Ptr<Zido::CanonicalTableName const> const& tableName, Zido::SwTableId tableId,
    Zido::UnitId unitId, Zido::OrderedSwTableSet* swTableSet,
    Vesk::Ptr<TcamEntryLog> const& entryLog, Vesk::Ptr<Zido::GroupResolver> const& groupResolver);

// The table of a unit wired as the interface makes it: the unit's
// configuration table mounted (records deleted at or before
// `hardwareVersion` purged; none when it is 0), then the table of the entry
// log's table id under `tableName`, in `swTableSet`, with `groupResolver`.
// The caller clears or restores it and adds it to the set.
Vesk::Ptr<TcamSwTable> makeUnitSwTable(Vesk::Ptr<Zido::CanonicalTableName const> const& tableName,
                                       Zido::UnitId unitId, Zido::OrderedSwTableSet& swTableSet,
                                       Vesk::Ptr<TcamEntryLog> const& entryLog,
                                       Vesk::Ptr<Zido::GroupResolver> const& groupResolver,
                                       Zido::LogVersion hardwareVersion);

TcamSwTable::EntryHandle::Ptr entryHandleFactory(Zido::EntryVersion version,
                                                 TcamSwTable::Key const& key,
                                                 ZaduLpmLib::TcamDataModelSwTableBase* table);

// The state of a resumable walk over a table: its phase flags, the walked
// table and the key at which the next step resumes (bookmarkKey: the next
// entry to yield, not the last one yielded).
class TcamSwTableIteratorState : public ZaduLpmLib::TcamDataModelSwTableIteratorState {
  HUNKPOOL_CLASS_ALLOCATION(TcamSwTableIteratorState)

 public:
  TcamSwTable::Key const& bookmarkKey() const noexcept { return bookmarkKey_; }
  void bookmarkKeyIs(TcamSwTable::Key const& key);
  TcamSwTable const* swTable() const noexcept { return static_cast<TcamSwTable const*>(table()); }

  Vesk::TypeData const& typeData() const override { return staticTypeData(); }
  static Vesk::TypeData const& staticTypeData();
  // One step of the walk; the empty entry, with entryValid clear, at the end.
  virtual TcamSwTable::Entry maybeUpdateCurrentEntry();

 private:
  TcamSwTable::Key bookmarkKey_;
};

Vesk::Ptr<TcamSwTableIteratorState> tcamSwTableIteratorStateFactory();

}  // namespace ZaduLpm
