// OrderedTable::OrderedSwTableAccessor and OrderedTable::IterStateAccessor:
// the generic algorithms of an ordered software table, instantiated for a
// table type with its constants, resolver entry and wrapper types:
//
//   accepting    entryWriteGeneric, entryRemoveGeneric, entryRemoveAllGeneric
//   committing   isResolverEntryResolved, commitEntry, delAllEntries
//   hardware     tableStatusVersion, hasPendingHwWrites
//   reading      entryReadGeneric, entryFromConfig, entryWrapperFromConfig
//   refreshing   updateEntry, setRsrcPtrs, getNeededEntrySet
//   walking      IterStateAccessor::maybeUpdateCurrentEntry
//
// The table keeps the state (pending collections, in-log queue, entry log,
// resolver); the accessor holds none. Traces go to the accessor's own handle,
// named after the table (Table::traceHandleName), with an empty tag; the walk
// traces on "SwTableIter".
//
// What the types provide is stated by the concepts of TableConcepts.h: the
// accessor takes a SwTable with its OperationWrapper, OperationResolverEntry
// and TableConstants, the walk a ReadableSwTable. Every algorithm that
// writes a key checks it first (Table::requireValidKey), before anything
// changes: a refused key takes no version, leaves nothing pending and calls
// no handler. Reads take any key: one the table cannot hold is simply not
// found.
//
// Thread safety: the agent's thread.
#pragma once

#include <exception>
#include <utility>

#include "OrderedTable/TableConcepts.h"
#include "Pantry/GuardedRead.h"
#include "Quor/Assert.h"
#include "Quor/System.h"
#include "Quor/TraceHandle.h"
#include "Vesk/PtrFormat.h"
#include "Zido/GroupResolver.h"
#include "Zido/Identifiers.h"
#include "Zido/NeededEntry.h"
#include "Zido/OrderedSwTableSet.h"

// QUOR_TRACE on the accessor's handle, naming `function`: a step factored
// out of an algorithm traces under the algorithm's name.
#define ORDERED_TABLE_TRACE_IN(function, level, ...)                            \
  do {                                                                          \
    if (traceHandle().enabled(level)) [[unlikely]] {                            \
      traceHandle().emit(level, __FILE__, function, __LINE__, "", __VA_ARGS__); \
    }                                                                           \
  } while (false)

namespace OrderedTable {

template <class Table, class Constants, class ResolverEntry, class Wrapper>
requires SwTable<Table, Wrapper> && OperationWrapper<Wrapper, Table> &&
    OperationResolverEntry<ResolverEntry, Table, Wrapper> && TableConstants<Constants>
class OrderedSwTableAccessor {
 public:
  using Key = typename Table::Key;
  using Entry = typename Table::Entry;
  using EntryHandle = typename Table::EntryHandle;
  using ResponseHandler = typename Table::ResponseHandler;
  using DependencyPtr = Vesk::Ptr<Zido::DependencyEntryHandle const>;

  static Quor::TraceHandle& traceHandle() {
    static Quor::TraceHandle handle(Table::traceHandleName);
    return handle;
  }

  // How far ahead of the handle it completes tableStatusVersion hints the
  // next ones: far enough for a miss to main memory to land.
  static constexpr std::uint32_t completionLookahead = 4;

  // Accepts a write of `entry` under `key` (the key argument wins over the
  // key inside the entry).
  static typename EntryHandle::PtrConst entryWriteGeneric(Table& table, Key const& key,
                                                          Entry const& entry,
                                                          DependencyPtr const& dependency,
                                                          ResponseHandler const& handler) {
    QUOR_TRACE(traceHandle(), 8, "", "key: {}", key);
    Table::requireValidKey(key);
    typename EntryHandle::Ptr const handle = acceptedHandle(table, key, handler);
    Vesk::Ptr<Wrapper> const wrapper = makeWrapper(entry, handle);
    wrapper->entryKeyIs(key);
    table.transientRemoveEntryDel(key);
    table.transientAddEntryIs(wrapper);
    table.groupResolver()->resolverQueueEnq(
        makeResolverEntry(dependency, Zido::EntryFlags::write, table, wrapper));
    table.groupResolver()->updateGenId();
    QUOR_TRACE(traceHandle(), 2, "", "Done processing write for key: {} ", key);
    table.stats()->entryWriteCntInc(1);
    table.groupResolver()->maybeUpdateSuspend();
    table.swTableSet()->maybeUpdatePendingHwWrites(table);
    return handle;
  }

  // Accepts a remove of `key`, whether or not the key exists.
  static typename EntryHandle::PtrConst entryRemoveGeneric(Table& table, Key const& key,
                                                           DependencyPtr const& dependency,
                                                           ResponseHandler const& handler) {
    QUOR_TRACE(traceHandle(), 8, "", " Key: {} ", key);
    Table::requireValidKey(key);
    typename EntryHandle::Ptr const handle = acceptedHandle(table, key, handler);
    Entry removed;
    removed.keyIs(key);
    Vesk::Ptr<Wrapper> const wrapper = makeWrapper(removed, handle);
    Vesk::Ptr<ResolverEntry> const resolverEntry =
        makeResolverEntry(dependency, Zido::EntryFlags::entryDelete, table, wrapper);
    table.transientAddEntryDel(key);
    table.transientRemoveEntryIs(wrapper);
    table.groupResolver()->resolverQueueEnq(resolverEntry);
    table.groupResolver()->updateGenId();
    QUOR_TRACE(traceHandle(), 2, "", " Done processing remove for key: {} ", key);
    table.stats()->entryRemoveCntInc(1);
    table.groupResolver()->maybeUpdateSuspend();
    table.swTableSet()->maybeUpdatePendingHwWrites(table);
    return handle;
  }

  // Accepts a remove of every entry of the table's unit.
  static void entryRemoveAllGeneric(Table& table, DependencyPtr const& dependency,
                                    ResponseHandler const& handler) {
    QUOR_TRACE(traceHandle(), 8, "", "");
    typename EntryHandle::Ptr const handle = makeHandle(table, Zido::EntryVersion(0, 0), Key{});
    handle->responseHandlerIs(handler);
    handle->entryStateIs(Zido::EntryState::pending);
    Vesk::Ptr<Wrapper> const wrapper = makeWrapper(Entry{}, handle);
    Vesk::Ptr<ResolverEntry> const resolverEntry =
        makeResolverEntry(dependency, Zido::EntryFlags::tableDelete, table, wrapper);
    table.transientAddEntryDelAll();
    table.transientRemoveEntryDelAll();
    Zido::MajorVersion const pending = table.transientRemoveAllVersion();
    if (!pending.valid()) {
      QUOR_TRACE(traceHandle(), 8, "", "No remove all operation currently enqueued");
      table.transientRemoveAllVersionIs(Zido::MajorVersion(0));
    } else {
      QUOR_TRACE(traceHandle(), 8, "", "Found valid table remove all version: {}", pending);
      table.transientRemoveAllVersionIs(Zido::MajorVersion(pending.value() + 1));
    }
    table.groupResolver()->resolverQueueEnq(resolverEntry);
    table.groupResolver()->updateGenId();
    QUOR_TRACE(traceHandle(), 2, "", "Done processing remove all ");
    table.groupResolver()->maybeUpdateSuspend();
    table.swTableSet()->maybeUpdatePendingHwWrites(table);
  }

  static void setRsrcPtrs(Vesk::Ptr<Wrapper> const& wrapper, bool refresh) {
    QUOR_TRACE(traceHandle(), 8, "", "key: {}, refresh: {}", wrapper->key(), refresh);
  }

  // Whether the operation may commit now: the change log has room and the
  // dependency, if any, is no longer pending (a failed one counts as
  // resolved; the commit fails the operation).
  static bool isResolverEntryResolved(Table& table, Vesk::Ptr<ResolverEntry> const& resolverEntry) {
    Vesk::Ptr<Wrapper> const& wrapper = resolverEntry->swTableEntry();
    bool const isEntryDeleted = resolverEntry->isEntryDeleted();
    if (table.entryLog()->entryLogRecords() > Constants::entryLogCapacity - 1) {
      QUOR_TRACE(traceHandle(), 1, "", "key: {}, isEntryDeleted: {} : no space in entryLog!",
                 wrapper->key(), isEntryDeleted);
      return false;
    }
    if (DependencyPtr const& dependency = resolverEntry->dependantEntryHandle()) {
      if (dependency->entryState() == Zido::EntryState::pending) {
        QUOR_TRACE(traceHandle(), 3, "", "key: {} dependant entry not yet resolved",
                   wrapper->key());
        return false;
      }
      QUOR_TRACE(traceHandle(), 3, "", "key: {} dependant entry is resolved", wrapper->key());
    }
    if (!isEntryDeleted) {
      table.setRsrcPtrs(wrapper, true);
    }
    QUOR_TRACE(traceHandle(), 3, "",
               "key: {}, isEntryDeleted: {}, isTableDeleted: {}, resolved: true", wrapper->key(),
               isEntryDeleted, resolverEntry->isTableDeleted());
    return true;
  }

  // Commits one resolved operation (see the table's header for what a
  // refused log write does).
  static void commitEntry(Table& table, Vesk::Ptr<Zido::ResolverEntry> const& baseEntry) {
    auto const* resolverEntry = static_cast<ResolverEntry const*>(baseEntry.get());
    Vesk::Ptr<Wrapper> const wrapper = resolverEntry->swTableEntry();
    bool const isEntryDelete = resolverEntry->isEntryDeleted();
    bool const isTableDelete = resolverEntry->isTableDeleted();
    QUOR_TRACE(traceHandle(), 8, "", "Entry: {}, isEntryDeleted: {}, isTableDeleted: {}",
               wrapper->key(), isEntryDelete, isTableDelete);
    QUOR_ASSERT_TEXT(!(isEntryDelete && isTableDelete), "!( isEntryDelete && isTableDelete )");
    typename EntryHandle::Ptr const entryHandle = ownHandle(wrapper);
    QUOR_ASSERT_TEXT(entryHandle != nullptr, "entryHandle != NULL");
    Zido::EntryVersion const entryConfVersion = entryHandle->version();
    if (!isTableDelete) {
      QUOR_ASSERT(entryConfVersion.valid());
    }
    DependencyPtr const& dependency = resolverEntry->dependantEntryHandle();
    if (dependency && Zido::isFailure(dependency->entryState())) {
      if (isTableDelete) {
        QUOR_TRACE(traceHandle(), 1, "", "Failed dependent entry for remove all");
        QUOR_TRACE(traceHandle(), 1, "", "Failed to commit entry remove all operation");
      } else {
        QUOR_TRACE(traceHandle(), 1, "", "Failed dependent entry for key: {}", wrapper->key());
        QUOR_TRACE(traceHandle(), 1, "", "Failed to commit entry key: {}", wrapper->key());
      }
      complete(entryHandle, Zido::EntryState::dependencyFailed);
    } else {
      try {
        if (isTableDelete) {
          commitRemoveAll(table, *resolverEntry, entryHandle);
        } else if (isEntryDelete) {
          commitRemove(table, *resolverEntry, wrapper, entryHandle, entryConfVersion);
        } else {
          commitWrite(table, *resolverEntry, wrapper, entryHandle, entryConfVersion);
        }
      } catch (RefusedLogWrite const& refused) {
        closeCommit(table);
        complete(entryHandle, Zido::EntryState::failed);
        std::rethrow_exception(refused.error);
      }
    }
    closeCommit(table);
  }

  // Logs a table delete of the unit's committed entries; with
  // `releaseResources`, first rebuilds a wrapper of each live entry (all
  // sharing `handle`, made by the first one when null).
  static void delAllEntries(Table& table, bool releaseResources,
                            Vesk::Ptr<Zido::NeededEntry const> const& neededEntry,
                            typename EntryHandle::Ptr& handle) {
    QUOR_TRACE(traceHandle(), 8, "", " releaseResources: {}, neededEntry:{} ", releaseResources,
               neededEntry);
    auto const entryLog = table.entryLog();
    auto const config = entryLog->tableConfigPantry(table.unitId());
    if (!config) {
      return;
    }
    auto& entries = config->swTableEntries();
    if (entries.count() == 0) {
      return;
    }
    if (releaseResources) {
      Pantry::guardedWalk(
          entries, [](auto const& record) { return record.key(); },
          [&](auto const& record) {
            if (!record.inDeletion) {
              entryWrapperFromConfig(table, record.key(), false, handle);
            }
          });
    }
    Zido::LogVersion const version = entryLog->tableDel(neededEntry, table.unitId());
    if (handle) {
      handle->logVersionIs(version);
      handle->entryStateIs(Zido::EntryState::logged);
    }
    table.stats()->tableClearCntInc(1);
  }

  // The hardware has taken the table's changes up to `version`.
  static void tableStatusVersion(Table& table, Zido::LogVersion version) {
    QUOR_TRACE(traceHandle(), 8, "", "tableVersion: {}", version);
    {
      auto const entryLog = table.entryLog();
      entryLog->cleanupEntryLog(version);
    }
    {
      auto const resolver = table.groupResolver();
      resolver->updateGenId();
    }
    for (std::uint32_t ahead = 1; ahead < completionLookahead; ++ahead) {
      table.entryHandleInLogPrefetch(ahead);
    }
    while (typename EntryHandle::Ptr const front = table.entryHandleInLogFront()) {
      if (front->logVersion() > version) {
        break;
      }
      table.entryHandleInLogPrefetch(completionLookahead);
      table.entryHandleInLogDeq();
      QUOR_TRACE(traceHandle(), 3, "", "Processing version: {}, key: {}", front->logVersion(),
                 front->key());
      front->entryStateIs(Zido::EntryState::completed);
      if (front->responseHandler()) {
        front->responseHandler()(front);
      }
    }
    table.swTableSet()->maybeUpdatePendingHwWrites();
  }

  static bool hasPendingHwWrites(Table const& table) {
    bool pending = !table.transientAddEntries().empty() ||
                   !table.transientRemoveEntries().empty() ||
                   table.transientRemoveAllVersion().valid();
    if (!pending) {
      auto const entryLog = table.entryLog();
      pending = entryLog->tableVersion() != entryLog->cleanupVersion();
    }
    QUOR_TRACE(traceHandle(), 3, "", " pendingHwWrites for swTable: tableId: {}, unitId{} is {}",
               table.tableId(), table.unitId(), pending);
    return pending;
  }

  static Entry entryReadGeneric(Table const& table, Key const& key) {
    QUOR_TRACE(traceHandle(), 8, "", "key: {}", key);
    if (auto const* pendingWrite = table.transientAddEntries().find(key)) {
      return (*pendingWrite)->entry();
    }
    if (table.transientRemoveEntries().has(key)) {
      return Entry{};
    }
    if (table.committedHas(key)) {
      return entryFromConfig(table, key);
    }
    QUOR_TRACE(traceHandle(), 1, "", "Failed to find entry for key: {}", key);
    return Entry{};
  }

  // The committed entry of `key`; the empty entry when it has no live record.
  static Entry entryFromConfig(Table const& table, Key const& key) {
    QUOR_TRACE(traceHandle(), 8, "", "key: {}", key);
    auto const entryLog = table.entryLog();
    auto const config = entryLog->tableConfigPantry(table.unitId());
    Entry result;
    if (!config) {
      return result;  // reads never fail: no configuration, nothing committed
    }
    auto const found = Pantry::guardedLookup(config->swTableEntries(), key);
    if (!(found.record == decltype(found.record){}) && !found.record.inDeletion) {
      result.data = found.record.logEntry.entry;
    }
    return result;
  }

  // A wrapper of the committed entry of `key` (the empty entry carrying the
  // key when there is none), with `handle`, made when null.
  static Vesk::Ptr<Wrapper> entryWrapperFromConfig(Table& table, Key const& key,
                                                   bool refreshRsrcPtrs,
                                                   typename EntryHandle::Ptr& handle) {
    QUOR_TRACE(traceHandle(), 8, "", "key: {}, refreshRsrcPtrs: {}", key, refreshRsrcPtrs);
    Entry const entry = entryFromConfig(table, key);
    if (!handle) {
      handle = makeHandle(table, Zido::EntryVersion(0, 0), key);
    }
    Vesk::Ptr<Wrapper> const wrapper = makeWrapper(entry, handle);
    wrapper->entryKeyIs(key);
    table.setRsrcPtrs(wrapper, refreshRsrcPtrs);
    wrapper->retrieveClientData();
    return wrapper;
  }

  static Vesk::Ptr<Zido::OrderedEntryHandle const> updateEntry(Table& table, Key const& key) {
    Table::requireValidKey(key);
    bool committed;
    {
      auto const entryLog = table.entryLog();
      committed = entryLog->entryHas(key, table.unitId());
    }
    if (!committed) {
      QUOR_TRACE(traceHandle(), 3, "", " key: {} entry does not exist ", key);
      return nullptr;
    }
    typename EntryHandle::Ptr localHandle;
    Vesk::Ptr<Wrapper> const wrapper = entryWrapperFromConfig(table, key, false, localHandle);
    auto const before = wrapper->logEntry();
    wrapper->setResolvedFields();
    bool const commitToLog =
        table.swTableHelper()->finalizeOnResourceUpdate(wrapper, Vesk::Ptr<Table>(&table), false);
    typename EntryHandle::Ptr const handle = ownHandle(wrapper);
    auto const entryLog = table.entryLog();
    if (!(wrapper->logEntry() == before) && commitToLog) {
      Vesk::Ptr<Zido::NeededEntry const> const neededEntry = table.getNeededEntrySet(wrapper);
      Zido::LogVersion const version =
          entryLog->entryIs(wrapper->logEntry(), wrapper->rsrcKeys(), neededEntry, table.unitId(),
                            table.stats(), false);
      handle->logVersionIs(version);
      handle->entryStateIs(Zido::EntryState::logged);
      table.stats()->updateCntInc(1);
      QUOR_TRACE(traceHandle(), 3, "", " key: {}, neededEntry: {}, entryLogVersion: {} ", key,
                 neededEntry, version);
    } else {
      QUOR_TRACE(traceHandle(), 3, "",
                 " key: {}, commitToLog: {}, no change in logEntry or don't commit to log", key,
                 commitToLog);
      handle->logVersionIs(entryLog->entryLogVersion(key, table.unitId()));
      handle->entryStateIs(Zido::EntryState::logged);
    }
    return handle;
  }

  static Vesk::Ptr<Zido::NeededEntry const> getNeededEntrySet(
      Vesk::Ptr<Wrapper const> const& wrapper) {
    QUOR_TRACE(traceHandle(), 8, "", "key: {}", wrapper->key());
    return Vesk::Ptr<Zido::NeededEntry const>(new Zido::NeededEntry());
  }

 private:
  // An entry log write that raised: the commit fails the handle, closes and
  // then lets the error go on to the resolver.
  struct RefusedLogWrite {
    std::exception_ptr error;
  };

  template <class Log>
  static auto logged(Log&& log) {
    try {
      return log();
    } catch (...) {
      throw RefusedLogWrite{std::current_exception()};
    }
  }

  // The wrapper's handle as the table's own handle type, or null. The
  // accepting paths make every handle of that exact type: its type record
  // decides without a dynamic_cast.
  static typename EntryHandle::Ptr ownHandle(Vesk::Ptr<Wrapper> const& wrapper) {
    auto const& handle = wrapper->entryHandle();
    if (handle && &handle->typeData() == &EntryHandle::staticTypeData()) {
      return typename EntryHandle::Ptr(static_cast<EntryHandle*>(handle.get()));
    }
    return Vesk::dynamicPtrCast<EntryHandle>(handle);
  }

  static typename EntryHandle::Ptr makeHandle(Table& table, Zido::EntryVersion version,
                                              Key const& key) {
    return typename EntryHandle::Ptr(new EntryHandle(version, key, &table));
  }

  static Vesk::Ptr<Wrapper> makeWrapper(Entry const& entry,
                                        typename EntryHandle::Ptr const& handle) {
    return Vesk::Ptr<Wrapper>(new Wrapper(entry, handle));
  }

  static Vesk::Ptr<ResolverEntry> makeResolverEntry(DependencyPtr const& dependency,
                                                    Zido::EntryFlags flags, Table& table,
                                                    Vesk::Ptr<Wrapper> const& wrapper) {
    return Vesk::Ptr<ResolverEntry>(new ResolverEntry(dependency, flags, &table, wrapper));
  }

  // The key's next version (stored), and its new handle in state 0.
  static typename EntryHandle::Ptr acceptedHandle(Table& table, Key const& key,
                                                  ResponseHandler const& handler,
                                                  char const* algorithm = __builtin_FUNCTION()) {
    Zido::EntryVersion const version =
        table.transientVersionForKeyUpdate(key, [&](Zido::EntryVersion const* held) {
          if (held == nullptr) {
            ORDERED_TABLE_TRACE_IN(algorithm, 8, " Key: {} not found in entry version collection",
                                   key);
            return Zido::EntryVersion(0, 0);
          }
          Zido::EntryVersion const currEntryVersion = *held;
          QUOR_ASSERT(currEntryVersion.valid());
          return currEntryVersion.next();
        });
    typename EntryHandle::Ptr handle = makeHandle(table, version, key);
    handle->responseHandlerIs(handler);
    handle->entryStateIs(Zido::EntryState::pending);
    return handle;
  }

  // Sets the handle's final state and calls its handler once.
  static void complete(typename EntryHandle::Ptr const& handle, Zido::EntryState state) {
    handle->entryStateIs(state);
    if (handle->responseHandler()) {
      handle->responseHandler()(handle);
    }
  }

  // Queues the logged handle for the hardware, or completes it when the
  // hardware has nothing left to take.
  static void queueOrComplete(Table& table, typename EntryHandle::Ptr const& handle,
                              bool waitsForHardware) {
    if (waitsForHardware) {
      handle->entryStateIs(Zido::EntryState::logged);
      table.entryHandleInLogEnq(handle);
    } else {
      complete(handle, Zido::EntryState::completed);
    }
  }

  static Vesk::Ptr<Zido::NeededEntry> neededEntrySet(Vesk::Ptr<Zido::NeededEntry const> set,
                                                     DependencyPtr const& dependency) {
    // The set was just made for this commit: nothing else holds it.
    Vesk::Ptr<Zido::NeededEntry> const own = Vesk::constPtrCast<Zido::NeededEntry>(set);
    if (dependency) {
      own->add(dependency->entryTableVersion());
    }
    return own;
  }

  static void commitRemoveAll(Table& table, ResolverEntry const& resolverEntry,
                              typename EntryHandle::Ptr const& entryHandle) {
    Zido::MajorVersion const currRemoveAllVersion = table.transientRemoveAllVersion();
    QUOR_ASSERT(currRemoveAllVersion.valid());
    ORDERED_TABLE_TRACE_IN("commitEntry", 8, "Committing table delete for version: {}",
                           currRemoveAllVersion);
    Vesk::Ptr<Zido::NeededEntry> const neededEntry =
        neededEntrySet(table.getNeededEntrySet(resolverEntry.swTableEntry()),
                       resolverEntry.dependantEntryHandle());
    // One pending remove-all fewer, whether or not its log write went
    // through: a refused one is over too.
    Zido::MajorVersion const lowered = currRemoveAllVersion.value() == 0
                                           ? Zido::MajorVersion()
                                           : Zido::MajorVersion(currRemoveAllVersion.value() - 1);
    typename EntryHandle::Ptr handle = entryHandle;
    try {
      logged([&] {
        delAllEntries(table, true, neededEntry, handle);
        return 0;
      });
    } catch (RefusedLogWrite const&) {
      table.transientRemoveAllVersionIs(lowered);
      throw;
    }
    table.transientRemoveAllVersionIs(lowered);
  }

  static void commitWrite(Table& table, ResolverEntry const& resolverEntry,
                          Vesk::Ptr<Wrapper> const& wrapper,
                          typename EntryHandle::Ptr const& entryHandle,
                          Zido::EntryVersion const& entryConfVersion) {
    Key const key = wrapper->key();
    wrapper->finalizeOnSuccess(Vesk::Ptr<Table>(&table), false);
    if (auto const* pending = table.transientAddEntries().find(key);
        pending != nullptr && (*pending)->entryHandle()->version().isEq(entryConfVersion)) {
      table.transientAddEntryDel(key);
      table.transientVersionForKeyDel(key);
    }
    Vesk::Ptr<Zido::NeededEntry> const neededEntry =
        neededEntrySet(table.getNeededEntrySet(wrapper), resolverEntry.dependantEntryHandle());
    auto const entryLog = table.entryLog();
    Zido::LogVersion const version = logged([&] {
      return entryLog->entryIs(wrapper->logEntry(), {}, neededEntry, table.unitId(), table.stats(),
                               false);
    });
    entryHandle->logVersionIs(version);
    queueOrComplete(table, entryHandle, version > entryLog->cleanupVersion());
  }

  static void commitRemove(Table& table, ResolverEntry const& resolverEntry,
                           Vesk::Ptr<Wrapper> const& wrapper,
                           typename EntryHandle::Ptr const& entryHandle,
                           Zido::EntryVersion const& entryConfVersion) {
    Key const key = wrapper->key();
    Vesk::Ptr<Zido::NeededEntry> const neededEntry =
        neededEntrySet(Vesk::Ptr<Zido::NeededEntry const>(new Zido::NeededEntry()),
                       resolverEntry.dependantEntryHandle());
    if (auto const* pending = table.transientRemoveEntries().find(key);
        pending != nullptr && (*pending)->entryHandle()->version().isEq(entryConfVersion)) {
      table.transientRemoveEntryDel(key);
      table.transientVersionForKeyDel(key);
    }
    wrapper->finalizeOnSuccess(Vesk::Ptr<Table>(&table), true);
    auto const entryLog = table.entryLog();
    Zido::LogVersion const version =
        logged([&] { return entryLog->entryDel(key, neededEntry, table.unitId()); });
    entryHandle->logVersionIs(version);
    queueOrComplete(table, entryHandle, version != 0);
  }

  // The closing steps of every commit.
  static void closeCommit(Table& table) {
    table.groupResolver()->maybeUpdateSuspend();
    table.swTableSet()->maybeUpdatePendingHwWrites(table);
    table.stats()->lastCommitTimeIs(Quor::System::coarseTimeUtc());
    table.stats()->commitCntInc(1);
  }
};

// One step of a resumable walk of a table: its pending writes, then the
// committed configuration records no pending operation overrides.
template <class State, class Table>
requires ReadableSwTable<Table>
class IterStateAccessor {
 public:
  using Key = typename Table::Key;
  using Entry = typename Table::Entry;
  using Flag = typename State::Flag;

  static Quor::TraceHandle& traceHandle() {
    static Quor::TraceHandle handle("SwTableIter");
    return handle;
  }

  static Entry maybeUpdateCurrentEntry(State& iterState) {
    State const* const iterState_ = &iterState;
    Entry result;
    QUOR_TRACE(traceHandle(), 8, "", "");
    Table const& table = *iterState.swTable();
    if (iterState.state().inAddColl()) {
      QUOR_ASSERT(!iterState_->state().inTblCfg());
      auto const& pendingWrites = table.transientAddEntries();
      auto cursor = iterState.state().bookmarkValid()
                        ? pendingWrites.cursorAt(iterState.bookmarkKey())
                        : pendingWrites.cursorFirst();
      QUOR_TRACE(traceHandle(), 9, "", "  in transientAdd collection");
      if (cursor.valid()) {
        iterState.flagIs(Flag::entryValid, true);
        QUOR_TRACE(traceHandle(), 9, "", "  found entry: {}", cursor.key());
        result = cursor.member()->entry();
        cursor.advance();
        if (!cursor.valid()) {
          iterState.flagIs(Flag::bookmarkValid, false);
          endPendingAddPhase(iterState);
        } else {
          iterState.bookmarkKeyIs(cursor.key());
          iterState.flagIs(Flag::bookmarkValid, true);
        }
        return result;
      }
      endPendingAddPhase(iterState);
    }
    if (iterState.state().inTblCfg()) {
      QUOR_ASSERT(!iterState_->state().inAddColl());
      QUOR_TRACE(traceHandle(), 9, "", "  in cfgPantry collection");
      auto const entryLog = table.entryLog();
      // No configuration table (the unit was never mounted): nothing committed.
      if (auto const config = entryLog->tableConfigPantry(table.unitId())) {
        auto& entries = config->swTableEntries();
        auto candidate = firstCandidate(iterState, entries);
        while (candidate && skipped(table, *candidate)) {
          candidate = Pantry::guardedNextAfter(entries, candidate->key());
        }
        if (candidate) {
          iterState.flagIs(Flag::entryValid, true);
          result.data = candidate->logEntry.entry;
          QUOR_TRACE(traceHandle(), 9, "", "  found entry: {}", candidate->key());
          if (auto const next = Pantry::guardedNextAfter(entries, candidate->key())) {
            iterState.bookmarkKeyIs(next->key());
            iterState.flagIs(Flag::bookmarkValid, true);
          } else {
            QUOR_TRACE(traceHandle(), 9, "", "  done with cfgPantry");
            iterState.stateIs(
                iterState.state().with(Flag::bookmarkValid, false).with(Flag::inTblCfg, false));
          }
          return result;
        }
      }
    }
    QUOR_TRACE(traceHandle(), 9, "", "  no more entries");
    iterState.stateIs(iterState.state()
                          .with(Flag::entryValid, false)
                          .with(Flag::inAddColl, false)
                          .with(Flag::inTblCfg, false));
    return Entry{};
  }

 private:
  static void endPendingAddPhase(State& iterState) {
    ORDERED_TABLE_TRACE_IN("maybeUpdateCurrentEntry", 9, "  done with transAdd");
    bool const removeAllPending = iterState.state().removeAllPending();
    iterState.stateIs(
        iterState.state().with(Flag::inAddColl, false).with(Flag::inTblCfg, !removeAllPending));
  }

  // The record at the resume point: the bookmark's own record, else the
  // first after it; the first record without a bookmark.
  template <class Collection>
  static auto firstCandidate(State const& iterState, Collection& entries)
      -> decltype(entries.first()) {
    if (!iterState.state().bookmarkValid()) {
      return Pantry::guardedFirst(entries);
    }
    auto const atBookmark = Pantry::guardedLookup(entries, iterState.bookmarkKey());
    if (atBookmark.found) {
      return atBookmark.record;
    }
    return Pantry::guardedNextAfter(entries, iterState.bookmarkKey());
  }

  // A record the configuration phase does not yield: removed or rewritten
  // by a pending operation, or in deletion.
  template <class Record>
  static bool skipped(Table const& table, Record const& record) {
    return table.transientRemoveEntries().has(record.key()) ||
           table.transientAddEntries().has(record.key()) || record.inDeletion;
  }
};

}  // namespace OrderedTable

#undef ORDERED_TABLE_TRACE_IN
