#include "ZaduLpm/TcamSwTable.h"

#include "OrderedTable/OrderedSwTableAccessor.h"
#include "OrderedTable/TableConcepts.h"
#include "Quor/PublishedMap.h"
#include "Quor/TraceHandle.h"
#include "Vesk/Exception.h"
#include "ZaduLpmLib/TcamConstants.h"
#include "ZaduLpmLib/TcamDataModelCodecs.h"

namespace ZaduLpm {

// The table, its entry log, wrapper, resolver entry and constants provide
// what the generic algorithms use.
static_assert(OrderedTable::EntryLog<TcamEntryLog, TcamSwTable::Key, TcamEntryWrapper>);
static_assert(OrderedTable::SwTable<TcamSwTable, TcamEntryWrapper>);
static_assert(OrderedTable::OperationWrapper<TcamEntryWrapper, TcamSwTable>);
static_assert(
    OrderedTable::OperationResolverEntry<TcamResolverEntry, TcamSwTable, TcamEntryWrapper>);
static_assert(OrderedTable::TableConstants<ZaduLpmLib::TcamConstants>);

namespace {

using Accessor = OrderedTable::OrderedSwTableAccessor<TcamSwTable, ZaduLpmLib::TcamConstants,
                                                      TcamResolverEntry, TcamEntryWrapper>;
using IterAccessor = OrderedTable::IterStateAccessor<TcamSwTableIteratorState, TcamSwTable>;

Quor::TraceHandle traceHandle(TcamSwTable::traceHandleName);
constexpr char const* tag = "TcamSwTable";

}  // namespace

// ---- Construction ----------------------------------------------------------

TcamSwTable::TcamSwTable(Vesk::Ptr<Zido::CanonicalTableName const> const& tableName,
                         Zido::SwTableId tableId, Zido::UnitId unitId,
                         Zido::OrderedSwTableSet* swTableSet,
                         Vesk::Ptr<TcamEntryLog> const& entryLog,
                         Vesk::Ptr<Zido::GroupResolver> const& groupResolver)
    : TcamDataModelSwTableBase(tableName, tableId, unitId, swTableSet),
      entryLog_(entryLog),
      groupResolver_(groupResolver) {
  handleInitialized();
}

TcamSwTable::~TcamSwTable() {
  beingDestroyedIs();
  // Queued resolver entries point to this table without counting it.
  if (groupResolver_) {
    groupResolver_->resolverQueueDel(this);
  }
  // Members go in reverse declaration order: the in-log queue, the resolver
  // and the entry log, the three pending collections, then the helper.
}

Vesk::Ptr<TcamSwTable> TcamSwTable::TcamSwTableIs(
    Vesk::Ptr<Zido::CanonicalTableName const> const& tableName, Zido::SwTableId tableId,
    Zido::UnitId unitId, Zido::OrderedSwTableSet* swTableSet,
    Vesk::Ptr<TcamEntryLog> const& entryLog, Vesk::Ptr<Zido::GroupResolver> const& groupResolver) {
  return tcamSwTableFactory(tableName, tableId, unitId, swTableSet, entryLog, groupResolver);
}

Vesk::Ptr<TcamSwTable> tcamSwTableFactory(
    Vesk::Ptr<Zido::CanonicalTableName const> const& tableName, Zido::SwTableId tableId,
    Zido::UnitId unitId, Zido::OrderedSwTableSet* swTableSet,
    Vesk::Ptr<TcamEntryLog> const& entryLog, Vesk::Ptr<Zido::GroupResolver> const& groupResolver) {
  return Vesk::Ptr<TcamSwTable>(
      new TcamSwTable(tableName, tableId, unitId, swTableSet, entryLog, groupResolver));
}

Vesk::Ptr<TcamSwTable> makeUnitSwTable(Vesk::Ptr<Zido::CanonicalTableName const> const& tableName,
                                       Zido::UnitId unitId, Zido::OrderedSwTableSet& swTableSet,
                                       Vesk::Ptr<TcamEntryLog> const& entryLog,
                                       Vesk::Ptr<Zido::GroupResolver> const& groupResolver,
                                       Zido::LogVersion hardwareVersion) {
  entryLog->mountPantryConfig(unitId, hardwareVersion);
  return tcamSwTableFactory(tableName, entryLog->tableId(), unitId, &swTableSet, entryLog,
                            groupResolver);
}

TcamSwTable::EntryHandle::Ptr TcamSwTable::EntryHandle::EntryHandleIs(
    Zido::EntryVersion version, Key const& key, TcamDataModelSwTableBase* table) {
  return entryHandleFactory(version, key, table);
}

TcamSwTable::EntryHandle::Ptr entryHandleFactory(Zido::EntryVersion version,
                                                 TcamSwTable::Key const& key,
                                                 ZaduLpmLib::TcamDataModelSwTableBase* table) {
  return TcamSwTable::EntryHandle::Ptr(new TcamSwTable::EntryHandle(version, key, table));
}

void TcamSwTable::handleInitialized() {
  QUOR_TRACE(traceHandle, 8, tag, "doesMarkSweep: False hwErrorHandling: False");
  swTableHelperIs(tcamSwTableHelperBaseFactory());
  statsIs();
}

void TcamSwTable::doCreateHwTable() {}

// ---- Accepting, committing, hardware progress -----------------------------

TcamSwTable::EntryHandle::PtrConst TcamSwTable::entryWrite(Key const& key, Entry const& entry,
                                                           DependencyPtr const& dependency) {
  QUOR_TRACE(traceHandle, 8, tag, " key: {}", key);
  return entryWriteWithResponseHandler(key, entry, dependency, ResponseHandler());
}

TcamSwTable::EntryHandle::PtrConst TcamSwTable::entryWriteWithResponseHandler(
    Key const& key, Entry const& entry, DependencyPtr const& dependency,
    ResponseHandler const& handler) {
  QUOR_TRACE(traceHandle, 8, tag, " key: {}", key);
  return Accessor::entryWriteGeneric(*this, key, entry, dependency, handler);
}

TcamSwTable::EntryHandle::PtrConst TcamSwTable::entryRemove(Key const& key,
                                                            DependencyPtr const& dependency) {
  QUOR_TRACE(traceHandle, 8, tag, " key: {}", key);
  return entryRemoveWithResponseHandler(key, dependency, ResponseHandler());
}

TcamSwTable::EntryHandle::PtrConst TcamSwTable::entryRemoveWithResponseHandler(
    Key const& key, DependencyPtr const& dependency, ResponseHandler const& handler) {
  QUOR_TRACE(traceHandle, 8, tag, " key: {}", key);
  return Accessor::entryRemoveGeneric(*this, key, dependency, handler);
}

void TcamSwTable::entryRemoveAll(DependencyPtr const& dependency) {
  QUOR_TRACE(traceHandle, 8, tag, "");
  entryRemoveAllWithResponseHandler(dependency, ResponseHandler());
}

void TcamSwTable::entryRemoveAllWithResponseHandler(DependencyPtr const& dependency,
                                                    ResponseHandler const& handler) {
  QUOR_TRACE(traceHandle, 8, tag, "");
  Accessor::entryRemoveAllGeneric(*this, dependency, handler);
}

void TcamSwTable::setRsrcPtrs(Vesk::Ptr<TcamEntryWrapper> const& wrapper, bool refresh) {
  Accessor::setRsrcPtrs(wrapper, refresh);
}

bool TcamSwTable::isResolverEntryResolved(Vesk::Ptr<TcamResolverEntry> const& resolverEntry) {
  return Accessor::isResolverEntryResolved(*this, resolverEntry);
}

void TcamSwTable::commitEntry(Vesk::Ptr<Zido::ResolverEntry> const& resolverEntry) {
  // The resolver passes this table's own entries; a caller through reflection
  // may pass anything.
  if (!resolverEntry ||
      (&resolverEntry->typeData() != &TcamResolverEntry::staticTypeData() &&
       !dynamic_cast<TcamResolverEntry const*>(resolverEntry.get())) ||
      static_cast<TcamResolverEntry const&>(*resolverEntry).swTable() != this) {
    throw Vesk::Exception(
        "ZaduLpm::TcamSwTable::commitEntry: the entry is not a resolver entry of this table");
  }
  Accessor::commitEntry(*this, resolverEntry);
}

void TcamSwTable::tableStatusVersion(Zido::LogVersion version) {
  Accessor::tableStatusVersion(*this, version);
}

bool TcamSwTable::hasPendingHwWrites() const {
  QUOR_TRACE(traceHandle, 8, tag, "");
  return Accessor::hasPendingHwWrites(*this);
}

// ---- Reads -----------------------------------------------------------------

TcamSwTable::Entry TcamSwTable::entryRead(Key const& key) const {
  QUOR_TRACE(traceHandle, 8, tag, " key: {}", key);
  return Accessor::entryReadGeneric(*this, key);
}

TcamSwTable::Entry TcamSwTable::entry(Key const& key) const {
  // The same read, traced under the name entryRead.
  return TcamSwTable::entryRead(key);
}

bool TcamSwTable::entryHas(Key const& key) const {
  QUOR_TRACE(traceHandle, 8, "", "key: {}", key);
  if (transientAddEntry_.has(key)) {
    return true;
  }
  if (transientRemoveEntry_.has(key) || transientRemoveAllVersion_.valid()) {
    return false;
  }
  return committedHas(key);
}

bool TcamSwTable::committedHas(Key const& key) const {
  Vesk::Ptr<TcamEntryLog> const log = entryLog_;
  return log->tableConfigPantryHas(unitId()) && log->entryHas(key, unitId());
}

TcamSwTable::Entry TcamSwTable::entryFromConfig(Key const& key) const {
  return Accessor::entryFromConfig(*this, key);
}

// ---- Iteration -------------------------------------------------------------

Vesk::Ptr<TcamSwTableIteratorState> TcamSwTable::initIterState() const {
  Vesk::Ptr<TcamSwTableIteratorState> state = tcamSwTableIteratorStateFactory();
  state->tableIs(this);
  state->stateIs(TcamSwTableIteratorState::Flags()
                     .with(TcamSwTableIteratorState::Flag::removeAllPending,
                           transientRemoveAllVersion_.valid())
                     .with(TcamSwTableIteratorState::Flag::inAddColl, true));
  return state;
}

Vesk::Ptr<TcamSwTableIteratorState> TcamSwTable::initIterStateFromKey(Key const& key) const {
  using Flag = TcamSwTableIteratorState::Flag;
  QUOR_TRACE(traceHandle, 8, tag, " key: {}", key);
  Vesk::Ptr<TcamSwTableIteratorState> state = tcamSwTableIteratorStateFactory();
  state->tableIs(this);
  bool const removeAllPending = transientRemoveAllVersion_.valid();
  state->bookmarkKeyIs(key);
  TcamSwTableIteratorState::Flags flags = TcamSwTableIteratorState::Flags()
                                              .with(Flag::removeAllPending, removeAllPending)
                                              .with(Flag::bookmarkValid, true);
  if (transientAddEntry_.has(key)) {
    flags = flags.with(Flag::inAddColl, true);
  } else if (!removeAllPending && committedHas(key)) {
    flags = flags.with(Flag::inTblCfg, true);
  }
  state->stateIs(flags);
  return state;
}

TcamSwTable::EntryIteratorConst TcamSwTable::entryIteratorConst() const {
  return EntryIteratorConst(this, initIterState());
}

TcamSwTable::EntryIteratorConst TcamSwTable::entryIteratorConst(Key const& key) const {
  return EntryIteratorConst(this, initIterStateFromKey(key));
}

std::uint32_t TcamSwTable::entrys() const {
  auto const added = static_cast<std::uint32_t>(transientAddEntry_.count());
  if (transientRemoveAllVersion_.valid()) {
    return added;
  }
  std::uint32_t adds = added;
  transientAddEntry_.forEach([&](Key const& key, Vesk::Ptr<TcamEntryWrapper> const&) {
    adds -= committedHas(key) ? 1 : 0;
  });
  auto removes = static_cast<std::uint32_t>(transientRemoveEntry_.count());
  transientRemoveEntry_.forEach([&](Key const& key, Vesk::Ptr<TcamEntryWrapper> const&) {
    removes -= committedHas(key) ? 0 : 1;
  });
  Vesk::Ptr<TcamEntryLog> const log = entryLog_;
  std::uint32_t const committed = log->tableConfigPantryHas(unitId()) ? log->entrys(unitId()) : 0;
  return adds + committed - removes;
}

TcamSwTable::EntryIteratorConst::EntryIteratorConst(TcamSwTable const* table,
                                                    Vesk::Ptr<TcamSwTableIteratorState> state)
    : table_(table), state_(std::move(state)), entry_(state_->maybeUpdateCurrentEntry()) {}

bool TcamSwTable::EntryIteratorConst::isEnd() const noexcept {
  return !state_->state().entryValid();
}

TcamSwTable::EntryIteratorConst& TcamSwTable::EntryIteratorConst::operator++() {
  entry_ = state_->maybeUpdateCurrentEntry();
  return *this;
}

void TcamSwTableIteratorState::bookmarkKeyIs(TcamSwTable::Key const& key) {
  if (!(key == bookmarkKey_)) {
    bookmarkKey_ = key;
    publisher().publish(*this, "bookmarkKey");
  }
}

TcamSwTable::Entry TcamSwTableIteratorState::maybeUpdateCurrentEntry() {
  return IterAccessor::maybeUpdateCurrentEntry(*this);
}

Vesk::Ptr<TcamSwTableIteratorState> tcamSwTableIteratorStateFactory() {
  return Vesk::Ptr<TcamSwTableIteratorState>(new TcamSwTableIteratorState());
}

// ---- Clear, update, script view --------------------------------------------

void TcamSwTable::clearTable(bool releaseResources) {
  QUOR_TRACE(traceHandle, 8, tag, "");
  EntryHandle::Ptr handle;
  Accessor::delAllEntries(*this, releaseResources, nullptr, handle);
}

Vesk::Ptr<Zido::OrderedEntryHandle const> TcamSwTable::updateEntry(Key const& key) {
  return Accessor::updateEntry(*this, key);
}

Vesk::Ptr<Zido::NeededEntry const> TcamSwTable::getNeededEntrySet(
    Vesk::Ptr<TcamEntryWrapper const> const& wrapper) const {
  return Accessor::getNeededEntrySet(wrapper);
}

Vesk::Ptr<TcamSwTable::SwTableEntries_py> TcamSwTable::getTableEntries_py() const {
  Vesk::Ptr<SwTableEntries_py> snapshot(new SwTableEntries_py());
  Vesk::Ptr<TcamSwTableIteratorState> state = initIterState();
  for (Entry entry = state->maybeUpdateCurrentEntry(); state->state().entryValid();
       entry = state->maybeUpdateCurrentEntry()) {
    snapshot->tableEntriesIs(entry);
  }
  return snapshot;
}

TcamSwTable::Entry TcamSwTable::SwTableEntries_py::tableEntries(Key const& key) const {
  Entry const* found = tableEntries_.find(key);
  return found == nullptr ? Entry{} : *found;
}

void TcamSwTable::SwTableEntries_py::tableEntriesIs(Entry const& entry) {
  Quor::publishedIs(*this, tableEntries_, "tableEntries", TableEntriesKeyFunktor()(entry), entry);
}

TcamSwTable::Entry TcamSwTable::SwTableEntries_py::tableEntriesDel(Key const& key) {
  return Quor::publishedDel(*this, tableEntries_, "tableEntries", key).value_or(Entry{});
}

void TcamSwTable::SwTableEntries_py::tableEntriesDelAll() {
  Quor::publishedDelAll(*this, tableEntries_, "tableEntries");
}

// ---- Attributes ------------------------------------------------------------

void TcamSwTable::swTableHelperIs(Vesk::Ptr<TcamSwTableHelperBase> const& helper) {
  if (helper == swTableHelper_) {
    return;
  }
  swTableHelper_ = helper;
  publisher().publish(*this, "swTableHelper");
}

Vesk::Ptr<TcamEntryWrapper> TcamSwTable::transientAddEntry(Key const& key) const {
  Vesk::Ptr<TcamEntryWrapper> const* found = transientAddEntry_.find(key);
  return found == nullptr ? nullptr : *found;
}

void TcamSwTable::transientAddEntryIs(Vesk::Ptr<TcamEntryWrapper> const& wrapper) {
  wrapperIs(transientAddEntry_, "transientAddEntry", wrapper);
}

Vesk::Ptr<TcamEntryWrapper> TcamSwTable::transientAddEntryDel(Key const& key) {
  return wrapperDel(transientAddEntry_, "transientAddEntry", key);
}

void TcamSwTable::transientAddEntryDelAll() {
  wrappersDelAll(transientAddEntry_, "transientAddEntry");
}

Vesk::Ptr<TcamEntryWrapper> TcamSwTable::transientRemoveEntry(Key const& key) const {
  Vesk::Ptr<TcamEntryWrapper> const* found = transientRemoveEntry_.find(key);
  return found == nullptr ? nullptr : *found;
}

void TcamSwTable::transientRemoveEntryIs(Vesk::Ptr<TcamEntryWrapper> const& wrapper) {
  wrapperIs(transientRemoveEntry_, "transientRemoveEntry", wrapper);
}

Vesk::Ptr<TcamEntryWrapper> TcamSwTable::transientRemoveEntryDel(Key const& key) {
  return wrapperDel(transientRemoveEntry_, "transientRemoveEntry", key);
}

void TcamSwTable::transientRemoveEntryDelAll() {
  wrappersDelAll(transientRemoveEntry_, "transientRemoveEntry");
}

void TcamSwTable::wrapperIs(WrapperMap& map, std::string_view attribute,
                            Vesk::Ptr<TcamEntryWrapper> const& wrapper) {
  if (!wrapper) {
    throw Vesk::NullArgumentException(
        fmt::format("ZaduLpm::TcamSwTable::{}: a null wrapper cannot be held", attribute));
  }
  requireValidKey(wrapper->key());
  Quor::publishedIs(*this, map, attribute, TransientAddEntryKeyFunktor()(*wrapper), wrapper);
}

Vesk::Ptr<TcamEntryWrapper> TcamSwTable::wrapperDel(WrapperMap& map, std::string_view attribute,
                                                    Key const& key) {
  return Quor::publishedDel(*this, map, attribute, key).value_or(nullptr);
}

void TcamSwTable::wrappersDelAll(WrapperMap& map, std::string_view attribute) {
  Quor::publishedDelAll(*this, map, attribute);
}

Zido::EntryVersion TcamSwTable::transientVersionForKey(Key const& key) const {
  Zido::EntryVersion const* found = transientVersionForKey_.find(key);
  return found == nullptr ? Zido::EntryVersion() : *found;
}

void TcamSwTable::transientVersionForKeyIs(Key const& key, Zido::EntryVersion const& version) {
  requireValidKey(key);
  Quor::publishedIs(*this, transientVersionForKey_, "transientVersionForKey", key, version);
}

Zido::EntryVersion TcamSwTable::transientVersionForKeyDel(Key const& key) {
  return Quor::publishedDel(*this, transientVersionForKey_, "transientVersionForKey", key)
      .value_or(Zido::EntryVersion());
}

void TcamSwTable::transientVersionForKeyDelAll() {
  Quor::publishedDelAll(*this, transientVersionForKey_, "transientVersionForKey");
}

void TcamSwTable::transientRemoveAllVersionIs(Zido::MajorVersion version) {
  if (version == transientRemoveAllVersion_) {
    return;
  }
  transientRemoveAllVersion_ = version;
  publisher().publish(*this, "transientRemoveAllVersion");
}

void TcamSwTable::entryHandleInLogEnq(Vesk::Ptr<EntryHandle> const& handle) {
  if (!handle) {
    throw Vesk::NullArgumentException(
        "ZaduLpm::TcamSwTable::entryHandleInLog: a null handle cannot be queued");
  }
  std::uint32_t const index = entryHandleInLog_.enq(handle);
  publisher().publishIndex(*this, "entryHandleInLog", index);
}

Vesk::Ptr<TcamSwTable::EntryHandle> TcamSwTable::entryHandleInLogDeq() {
  Vesk::Ptr<EntryHandle> front;
  std::uint32_t const index = entryHandleInLog_.deq(front);
  if (front) {
    publisher().publishIndex(*this, "entryHandleInLog", index);
  }
  return front;
}

Vesk::Ptr<TcamSwTable::EntryHandle> TcamSwTable::entryHandleInLogFront() const {
  Vesk::Ptr<EntryHandle> const* front = entryHandleInLog_.front();
  return front == nullptr ? nullptr : *front;
}

Vesk::Ptr<TcamSwTable::EntryHandle> TcamSwTable::entryHandleInLogBack() const {
  Vesk::Ptr<EntryHandle> const* back = entryHandleInLog_.back();
  return back == nullptr ? nullptr : *back;
}

Vesk::Ptr<TcamSwTable::EntryHandle> TcamSwTable::entryHandleInLog(std::uint32_t index) const {
  Vesk::Ptr<EntryHandle> const* held = entryHandleInLog_.at(index);
  return held == nullptr ? nullptr : *held;
}

void TcamSwTable::entryHandleInLogPrefetch(std::uint32_t ahead) const noexcept {
  if (entryHandleInLog_.count() <= ahead) {
    return;
  }
  Vesk::Ptr<EntryHandle> const* held = entryHandleInLog_.at(entryHandleInLog_.frontIndex() + ahead);
  if (held != nullptr && *held) {
    // The handle's count and its log version lie in its first two lines.
    char const* const handle = reinterpret_cast<char const*>(held->get());
    __builtin_prefetch(handle, 1, 3);
    __builtin_prefetch(handle + 64, 0, 3);
    asm volatile("" : : "r"(handle));  // keeps the prefetches (see Segment::prefetchSlot)
  }
}

void TcamSwTable::entryHandleInLogDelAll() {
  if (!publisher().hasObservers()) {
    entryHandleInLog_.clear();
    return;
  }
  while (entryHandleInLogDeq()) {
  }
}

}  // namespace ZaduLpm
