// OrderedTable concepts: what the generic algorithms (OrderedSwTableAccessor.h)
// need of the types they are instantiated for, checked by the compiler.
//
//   EntryLog<Log, Key, Wrapper>     the crash-safe record of committed
//                                   changes: the change log and the
//                                   configuration table of each unit.
//   ReadableSwTable<Table>          what reads and walks use: the pending
//                                   collections and the unit's committed
//                                   entries.
//   WritableSwTable<Table, Wrapper> what accepting, committing, hardware
//                                   progress, clearing and updating use
//                                   besides.
//   SwTable<Table, Wrapper>         all three, the entry log being the one
//                                   the table's entryLog() points to.
//   OperationWrapper<Wrapper, Table>
//                                   the type that carries one pending
//                                   operation: its entry and its handle.
//   OperationResolverEntry<ResolverEntry, Table, Wrapper>
//                                   what the table queues on the group
//                                   resolver for one operation.
//   TableConstants<Constants>       the table's fixed figures.
//
// OrderedSwTableAccessor is constrained with SwTable, OperationWrapper,
// OperationResolverEntry and TableConstants, IterStateAccessor with
// ReadableSwTable; a table's own source file asserts them for its types (the
// TCAM table's in ZaduLpm/TcamSwTable.cpp). A member of the table, its entry
// log, wrapper, resolver entry or constants that is missing or changed is
// then reported as the requirement it breaks, not inside an algorithm. Not
// checked: the types these members hand back (the pending collections and
// their cursors, the configuration table and its records, the entry's data)
// are used as they are, and so is the walk's state type (IterStateAccessor's
// State).
#pragma once

#include <concepts>
#include <cstdint>
#include <type_traits>
#include <utility>

#include "Pantry/GuardedRead.h"
#include "Vesk/Node.h"
#include "Vesk/Ptr.h"
#include "Zido/EntryHandle.h"
#include "Zido/GroupResolver.h"
#include "Zido/Identifiers.h"
#include "Zido/NeededEntry.h"
#include "Zido/OrderedSwTableSet.h"
#include "Zido/ResolverEntry.h"
#include "Zido/SwTable.h"
#include "Zido/SwTableStats.h"

namespace OrderedTable {

// The log form of an operation's entry, and its resource keys.
template <class Wrapper>
using LogEntryOf = decltype(std::declval<Wrapper const&>().logEntry());
template <class Wrapper>
using ResourceKeysOf = decltype(std::declval<Wrapper const&>().rsrcKeys());

// The dependency of an operation: the handle of the operation it waits for.
using DependencyPtr = Vesk::Ptr<Zido::DependencyEntryHandle const>;

// A table's key, and the entry log its entryLog() points to.
template <class Table>
using KeyOf = typename Table::Key;
template <class Table>
using EntryLogOf = std::remove_cvref_t<decltype(*std::declval<Table const&>().entryLog())>;

template <class Log, class Key, class Wrapper>
concept EntryLog = requires(Log& log, Log const& view, Key const& key,
                            LogEntryOf<Wrapper> const& logEntry,
                            ResourceKeysOf<Wrapper> const& rsrcKeys,
                            Vesk::Ptr<Zido::NeededEntry const> const& needed, Zido::UnitId unit,
                            Vesk::Ptr<Zido::SwTableStats> const& stats, Zido::LogVersion version) {
  // Records in the change log now; commits wait while it is at capacity.
  { view.entryLogRecords() } -> std::convertible_to<std::uint64_t>;
  // Logs a write of the entry on `unit` and returns its new log version. May
  // raise (a full configuration table); then nothing is stored and no
  // version is taken. The commit of a write passes no resource keys.
  { log.entryIs(logEntry, rsrcKeys, needed, unit, stats, false) } -> std::same_as<Zido::LogVersion>;
  { log.entryIs(logEntry, {}, needed, unit, stats, false) } -> std::same_as<Zido::LogVersion>;
  // Logs a delete of `key` on `unit`; 0 when the unit holds no record of it.
  { log.entryDel(key, needed, unit) } -> std::same_as<Zido::LogVersion>;
  // Logs one delete of every entry of `unit` and returns its version.
  { log.tableDel(needed, unit) } -> std::same_as<Zido::LogVersion>;
  // The hardware side has taken the changes up to `version`: their records go.
  log.cleanupEntryLog(version);
  // Whether `unit`'s configuration holds a live record of `key`.
  { view.entryHas(key, unit) } -> std::convertible_to<bool>;
  // The last version that wrote or deleted `key` on `unit`.
  { view.entryLogVersion(key, unit) } -> std::convertible_to<Zido::LogVersion>;
  // The newest version handed out, and the version up to which the log was
  // cleaned: equal when the hardware side has taken everything.
  { view.tableVersion() } -> std::convertible_to<Zido::LogVersion>;
  { view.cleanupVersion() } -> std::convertible_to<Zido::LogVersion>;
  // The configuration table of `unit`, null while the unit is not mounted;
  // its committed records are looked up and walked by key.
  static_cast<bool>(view.tableConfigPantry(unit));
  Pantry::guardedLookup(view.tableConfigPantry(unit)->swTableEntries(), key);
  Pantry::guardedFirst(view.tableConfigPantry(unit)->swTableEntries());
  Pantry::guardedNextAfter(view.tableConfigPantry(unit)->swTableEntries(), key);
};

template <class Table>
concept ReadableSwTable = requires(Table const& table, typename Table::Key const& key,
                                   typename Table::Entry& entry) {
  // The key of an entry, and the entry: an empty one reads as absent, and it
  // takes the key it is written or removed under.
  requires std::default_initializable<typename Table::Key>;
  requires std::default_initializable<typename Table::Entry>;
  entry.keyIs(key);
  // The pending writes and removes, by key. Writes are walked in the order
  // they were accepted, from the first or from a key.
  { table.transientAddEntries().has(key) } -> std::convertible_to<bool>;
  { table.transientAddEntries().empty() } -> std::convertible_to<bool>;
  table.transientAddEntries().find(key);
  table.transientAddEntries().cursorFirst();
  table.transientAddEntries().cursorAt(key);
  { table.transientRemoveEntries().has(key) } -> std::convertible_to<bool>;
  { table.transientRemoveEntries().empty() } -> std::convertible_to<bool>;
  table.transientRemoveEntries().find(key);
  // Whether the unit's configuration holds a live record of `key`; false
  // when the unit has no configuration table.
  { table.committedHas(key) } -> std::convertible_to<bool>;
  // The hardware unit the table serves.
  { table.unitId() } -> std::convertible_to<Zido::UnitId>;
  // The entry log holding the unit's committed entries.
  table.entryLog()->tableConfigPantry(table.unitId());
};

template <class Table, class Wrapper>
concept WritableSwTable = requires(Table& table, Table const& view, typename Table::Key const& key,
                                   Vesk::Ptr<Wrapper> const& wrapper, Vesk::Ptr<Table> const& self,
                                   typename Table::EntryHandle::Ptr const& handle,
                                   Zido::EntryVersion (*next)(Zido::EntryVersion const*),
                                   Zido::MajorVersion version, std::uint32_t ahead) {
  // The handle of one operation: the framework's ordered handle with the
  // key, made for a version, a key and its table; the algorithms tell their
  // own handles by its type record.
  requires std::derived_from<typename Table::EntryHandle, Zido::OrderedEntryHandle>;
  requires std::constructible_from<typename Table::EntryHandle, Zido::EntryVersion,
                                   typename Table::Key const&, Table*>;
  requires std::same_as<typename Table::EntryHandle::Ptr, Vesk::Ptr<typename Table::EntryHandle>>;
  requires std::same_as<typename Table::EntryHandle::PtrConst,
                        Vesk::Ptr<typename Table::EntryHandle const>>;
  handle->key();
  Table::EntryHandle::staticTypeData();
  // What a handle's response handler is.
  requires std::constructible_from<Zido::SwTableEntryHandle::ResponseHandler,
                                   typename Table::ResponseHandler const&>;
  // The name of the algorithms' trace handle.
  { Table::traceHandleName } -> std::convertible_to<char const*>;
  // Raises for a key the table cannot hold; every algorithm that writes a
  // key calls it before anything changes.
  Table::requireValidKey(key);
  // The pending collections. A write or remove is held under its wrapper's
  // own key, replacing the one there; deletes go by key or all at once.
  table.transientAddEntryIs(wrapper);
  table.transientAddEntryDel(key);
  table.transientAddEntryDelAll();
  table.transientRemoveEntryIs(wrapper);
  table.transientRemoveEntryDel(key);
  table.transientRemoveEntryDelAll();
  // Gives `key` the version next(held) returns (held: its version, or null)
  // and returns it; the commit of that version deletes it.
  { table.transientVersionForKeyUpdate(key, next) } -> std::same_as<Zido::EntryVersion>;
  table.transientVersionForKeyDel(key);
  // Pending remove-alls, as count - 1 (invalid: none).
  { view.transientRemoveAllVersion() } -> std::convertible_to<Zido::MajorVersion>;
  table.transientRemoveAllVersionIs(version);
  // The in-log queue: handles logged and not yet taken by the hardware, in
  // log version order; the front is null when it is empty. The prefetch
  // hints the handle `ahead` places behind the front.
  table.entryHandleInLogEnq(handle);
  table.entryHandleInLogDeq();
  { view.entryHandleInLogFront() } -> std::convertible_to<typename Table::EntryHandle::Ptr>;
  view.entryHandleInLogPrefetch(ahead);
  // The group resolver that orders the table's operations.
  { view.groupResolver() } -> std::convertible_to<Vesk::Ptr<Zido::GroupResolver>>;
  // The table's id, statistics and set; the set is told when the table's
  // pending state may have changed.
  { view.tableId() } -> std::convertible_to<Zido::SwTableId>;
  { view.stats() } -> std::convertible_to<Vesk::Ptr<Zido::SwTableStats>>;
  { view.swTableSet() } -> std::convertible_to<Zido::OrderedSwTableSet*>;
  view.swTableSet()->maybeUpdatePendingHwWrites(view);
  // The client's helper, asked whether a re-derived entry is logged again.
  { view.swTableHelper()->finalizeOnResourceUpdate(wrapper, self, false) } -> std::same_as<bool>;
  // Refreshes the wrapper's resource pointers before a commit.
  table.setRsrcPtrs(wrapper, true);
  // The entries a logged change needs first.
  { view.getNeededEntrySet(wrapper) } -> std::convertible_to<Vesk::Ptr<Zido::NeededEntry const>>;
};

template <class Table, class Wrapper>
concept SwTable = ReadableSwTable<Table> && WritableSwTable<Table, Wrapper> &&
    EntryLog<EntryLogOf<Table>, KeyOf<Table>, Wrapper>;

template <class Wrapper, class Table>
concept OperationWrapper = requires(Wrapper& wrapper, Wrapper const& view,
                                    typename Table::Key const& key, Vesk::Ptr<Table> const& table,
                                    bool isDeleted) {
  // A counted entity, made for the operation's entry and handle.
  requires std::derived_from<Wrapper, Vesk::Node>;
  requires std::constructible_from<Wrapper, typename Table::Entry const&,
                                   typename Table::EntryHandle::Ptr const&>;
  // The entry and its key; the accepting paths and the refresh from
  // configuration set the key.
  { view.entry() } -> std::convertible_to<typename Table::Entry>;
  { view.key() } -> std::convertible_to<typename Table::Key>;
  wrapper.entryKeyIs(key);
  // The operation's handle, as the framework's ordered handle: the
  // algorithms cast it down to the table's handle type.
  { view.entryHandle() } -> std::convertible_to<Vesk::Ptr<Zido::OrderedEntryHandle>>;
  // The entry's log form, compared to tell whether an update changed it, and
  // its resource keys.
  { view.logEntry() == view.logEntry() } -> std::convertible_to<bool>;
  view.rsrcKeys();
  // Hooks of the refresh from configuration.
  wrapper.setResolvedFields();
  wrapper.retrieveClientData();
  // Tells the table's helper that the operation committed.
  wrapper.finalizeOnSuccess(table, isDeleted);
};

template <class ResolverEntry, class Table, class Wrapper>
concept OperationResolverEntry = requires(ResolverEntry const& entry,
                                          DependencyPtr const& dependency, Zido::EntryFlags flags,
                                          Table* table, Vesk::Ptr<Wrapper> const& wrapper) {
  // Queued on the group resolver, which hands it back to the commit as the
  // framework's resolver entry: the commit casts it down.
  requires std::derived_from<ResolverEntry, Zido::ResolverEntry>;
  // Made for the operation's dependency, its kind, its table (not counted)
  // and its wrapper.
  new ResolverEntry(dependency, flags, table, wrapper);
  { entry.swTableEntry() } -> std::convertible_to<Vesk::Ptr<Wrapper>>;
  { entry.isEntryDeleted() } -> std::convertible_to<bool>;
  { entry.isTableDeleted() } -> std::convertible_to<bool>;
  { entry.dependantEntryHandle() } -> std::convertible_to<DependencyPtr>;
};

template <class Constants>
concept TableConstants = requires {
  // The change log's capacity in records: commits wait while it is full. An
  // unsigned constant above 0, compared with the log's record count.
  requires std::unsigned_integral<std::remove_cvref_t<decltype(Constants::entryLogCapacity)>>;
  requires(Constants::entryLogCapacity > 0);
};

}  // namespace OrderedTable
