// The table object and its accepting paths: pending collections, versions
// per key, supersession between writes and removes, remove-all counting (a
// refused remove-all's included), the in-log queue, notifications,
// reflection and object lifetimes; and the completeness of the concepts the
// table is checked against.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "OrderedTable/OrderedSwTableAccessor.h"
#include "OrderedTable/TableConcepts.h"
#include "Pantry/Segment.h"
#include "Vesk/Publisher.h"
#include "Vesk/TypeData.h"
#include "support/TcamTableFixture.h"

namespace ZaduTest {
namespace {

using ZaduLpm::TcamEntryWrapper;
using ZaduLpm::TcamResolverEntry;

class Recorder : public Vesk::Observer {
 public:
  void onChange(Vesk::Notification const& notification) override { seen.push_back(notification); }
  std::vector<std::string> attributes() const {
    std::vector<std::string> names;
    for (auto const& notification : seen) {
      names.emplace_back(notification.attribute);
    }
    return names;
  }
  std::vector<Vesk::Notification> seen;
};

class TcamSwTableTest : public TcamTableFixture {
 protected:
  Vesk::Ptr<TcamEntryWrapper> wrapperOf(std::uint32_t n) {
    return ZaduLpm::tcamEntryWrapperFactory(
        entryOf(n), ZaduLpm::entryHandleFactory(Zido::EntryVersion(0, 0), keyOf(n), table.get()));
  }
  Vesk::Ptr<TcamSwTable::EntryHandle> handleOf(std::uint32_t n) {
    return ZaduLpm::entryHandleFactory(Zido::EntryVersion(n, 0), keyOf(n), table.get());
  }

  // Every attribute and collection of the table through reflection, as text.
  std::map<std::string, std::string> snapshot() const {
    std::map<std::string, std::string> values;
    for (auto const* member : table->typeData().allMembers()) {
      using Kind = Vesk::TypeData::Member::Kind;
      if (member->kind == Kind::Attribute) {
        values[member->name] = Vesk::attribute(*table, member->name).toString();
      } else if (member->kind == Kind::Collection && member->forEach) {
        std::string text;
        Vesk::collectionForEach(*table, member->name, [&](auto const& key, auto const& value) {
          text += key.toString() + "=" + value.toString() + ";";
          return true;
        });
        values[member->name] = text;
      }
    }
    return values;
  }

  // The attributes `step` changes, checked to be the ones it published.
  template <class Step>
  std::set<std::string> changedBy(Step const& step) {
    Recorder recorder;
    recorder.observe(table);
    auto const before = snapshot();
    step();
    auto const after = snapshot();
    std::set<std::string> changed;
    for (auto const& [name, value] : after) {
      if (before.at(name) != value) {
        changed.insert(name);
      }
    }
    std::vector<std::string> const names = recorder.attributes();
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()), changed);
    return changed;
  }
};

TEST_F(TcamSwTableTest, WritesOfAKeyShareOneVersionSequenceUntilTheLatestCommits) {
  bool called = false;
  auto const first = table->entryWriteWithResponseHandler(keyOf(1), entryOf(1, 1), nullptr,
                                                          [&](auto const&) { called = true; });
  EXPECT_TRUE(first->version().isEq(Zido::EntryVersion(0, 0)));
  EXPECT_EQ(first->entryState(), Zido::EntryState::pending);
  // The key argument wins over the key inside the entry.
  auto const second = table->entryWrite(keyOf(1), entryOf(4, 2), nullptr);
  EXPECT_TRUE(second->version().isEq(Zido::EntryVersion(1, 0)));
  EXPECT_EQ(table->transientAddEntries().count(), 1u);
  EXPECT_EQ(table->transientAddEntry(keyOf(1))->entryHandle(), second);
  EXPECT_EQ(table->transientAddEntry(keyOf(1))->entry().key(), keyOf(1));
  EXPECT_EQ(table->transientAddEntry(keyOf(1))->entry().data.adjacencyIndex, 2u);
  EXPECT_EQ(group->resolver()->queued(), 2u);
  EXPECT_EQ(table->stats()->entryWriteCnt(), 2u);
  EXPECT_FALSE(called);

  // The first commit leaves the second write pending; the second retires it.
  EXPECT_EQ(group->resolver()->runPass(1), 1u);
  EXPECT_EQ(table->transientAddEntry(keyOf(1))->entryHandle(), second);
  EXPECT_TRUE(table->transientVersionForKey(keyOf(1)).isEq(Zido::EntryVersion(1, 0)));
  EXPECT_EQ(group->resolver()->runPass(1), 1u);
  EXPECT_FALSE(table->transientAddEntry(keyOf(1)));
  EXPECT_FALSE(table->transientVersionForKey(keyOf(1)).valid());
  EXPECT_TRUE(table->entryWrite(keyOf(1), entryOf(1), nullptr)->version().isEq({0, 0}));
}

TEST_F(TcamSwTableTest, AWriteAndARemoveOfAKeySupersedeEachOther) {
  auto const removeFirst = table->entryRemove(keyOf(5), nullptr);
  EXPECT_TRUE(removeFirst->version().isEq({0, 0}));
  ASSERT_TRUE(table->transientRemoveEntry(keyOf(5)));
  EXPECT_EQ(table->transientRemoveEntry(keyOf(5))->entry(), TcamDataModelEntry{{keyOf(5)}});

  auto const write = table->entryWrite(keyOf(5), entryOf(5), nullptr);
  EXPECT_TRUE(write->version().isEq({1, 0}));
  EXPECT_FALSE(table->transientRemoveEntry(keyOf(5)));
  EXPECT_TRUE(table->transientAddEntry(keyOf(5)));

  auto const removeAgain = table->entryRemoveWithResponseHandler(keyOf(5), nullptr, {});
  EXPECT_TRUE(removeAgain->version().isEq({2, 0}));
  EXPECT_FALSE(table->transientAddEntry(keyOf(5)));
  EXPECT_EQ(table->transientRemoveEntry(keyOf(5))->entryHandle(), removeAgain);
  EXPECT_EQ(group->resolver()->queued(), 3u);
}

TEST_F(TcamSwTableTest, RemoveAllsAreCountedAndLeaveTheKeyVersionsAlone) {
  table->entryWrite(keyOf(1), entryOf(1), nullptr);
  table->entryRemove(keyOf(2), nullptr);
  table->entryRemoveAll(nullptr);
  EXPECT_EQ(table->transientRemoveAllVersion(), Zido::MajorVersion(0));
  EXPECT_TRUE(table->transientAddEntries().empty());
  EXPECT_TRUE(table->transientRemoveEntries().empty());
  EXPECT_EQ(table->transientVersionsForKey().count(), 2u);

  table->entryRemoveAllWithResponseHandler(nullptr, {});
  EXPECT_EQ(table->transientRemoveAllVersion(), Zido::MajorVersion(1));
  EXPECT_EQ(table->stats()->entryRemoveCnt(), 1u);
  EXPECT_EQ(table->stats()->entryWriteCnt(), 1u);
  EXPECT_EQ(group->resolver()->queued(), 4u);

  // The write accepted before the remove-alls still commits, and keeps its
  // key's version: the next write continues the sequence.
  commitAll();
  EXPECT_FALSE(table->transientRemoveAllVersion().valid());
  EXPECT_TRUE(table->transientVersionForKey(keyOf(1)).isEq({0, 0}));
  EXPECT_TRUE(table->entryWrite(keyOf(1), entryOf(1), nullptr)->version().isEq({1, 0}));
}

// A remove-all whose commit the entry log refuses (here a full change log,
// which the resolver's room check would have held it back for) is over all
// the same: counted down, failed, its handler called once, and the error
// goes on to the caller. Nothing is deleted.
TEST_F(TcamSwTableTest, ARemoveAllWhoseCommitIsRefusedIsCountedDownAndAnsweredOnceFailed) {
  writeKeys(1, 3);
  fillChangeLog(*entryLog, 3, ZaduLpmLib::TcamConstants::entryLogCapacity);
  table->transientRemoveAllVersionIs(Zido::MajorVersion(0));  // one pending remove-all
  auto const handle = ZaduLpm::entryHandleFactory({0, 0}, TcamDataModelEntryKey(), table.get());
  std::vector<Zido::EntryState> states;
  handle->responseHandlerIs([&](auto const& done) { states.push_back(done->entryState()); });
  auto const commits = table->stats()->commitCnt();
  EXPECT_THROW(table->commitEntry(ZaduLpm::tcamResolverEntryFactory(
                   nullptr, Zido::EntryFlags::tableDelete, table.get(),
                   ZaduLpm::tcamEntryWrapperFactory(TcamDataModelEntry{}, handle))),
               Pantry::CollectionFullError);
  EXPECT_EQ(states, std::vector<Zido::EntryState>{Zido::EntryState::failed});
  EXPECT_FALSE(table->transientRemoveAllVersion().valid());
  EXPECT_EQ(table->stats()->commitCnt(), commits + 1);
  EXPECT_EQ(table->stats()->tableClearCnt(), 0u);
  EXPECT_EQ(entryLog->tableVersion(), ZaduLpmLib::TcamConstants::entryLogCapacity);
  EXPECT_EQ(table->entrys(), 2u);
}

TEST_F(TcamSwTableTest, PendingCollectionsAndTheInLogQueuePublishRealChangesOnlyAndRefuseNull) {
  Recorder recorder;
  recorder.observe(table);
  auto const wrapper = wrapperOf(1);
  table->transientAddEntryIs(wrapper);
  table->transientAddEntryIs(wrapper);  // the same wrapper: nothing
  auto const replacement = wrapperOf(1);
  table->transientAddEntryIs(replacement);
  EXPECT_EQ(table->transientAddEntries().count(), 1u);
  EXPECT_EQ(table->transientAddEntry(keyOf(1)), replacement);
  EXPECT_FALSE(table->transientAddEntryDel(keyOf(2)));
  EXPECT_EQ(table->transientAddEntryDel(keyOf(1)), replacement);
  EXPECT_THROW(table->transientAddEntryIs(nullptr), Vesk::NullArgumentException);
  EXPECT_THROW(table->transientRemoveEntryIs(nullptr), Vesk::NullArgumentException);
  EXPECT_TRUE(table->transientAddEntries().empty() && table->transientRemoveEntries().empty());
  EXPECT_EQ(recorder.attributes(), std::vector<std::string>(3, "transientAddEntry"));
  EXPECT_EQ(recorder.seen[0].key.toString(),
            Vesk::Codec<TcamDataModelEntryKey>::encode(keyOf(1)).toString());

  recorder.seen.clear();
  EXPECT_FALSE(table->transientVersionForKeyDel(keyOf(3)).valid());
  table->transientVersionForKeyIs(keyOf(3), {4, 0});
  table->transientVersionForKeyIs(keyOf(3), {4, 0});
  table->transientRemoveAllVersionIs(Zido::MajorVersion());
  table->swTableHelperIs(table->swTableHelper());
  EXPECT_EQ(recorder.attributes(), (std::vector<std::string>{"transientVersionForKey"}));
  EXPECT_TRUE(table->transientVersionForKeyDel(keyOf(3)).isEq({4, 0}));

  // The in-log queue is an RQueue (its numbering is tested there): what the
  // table adds is an index notification for every enqueue and dequeue.
  recorder.seen.clear();
  for (std::uint32_t n = 1; n <= 3; ++n) {
    table->entryHandleInLogEnq(handleOf(n));
  }
  EXPECT_TRUE(table->entryHandleInLogDeq());
  table->entryHandleInLogDelAll();
  std::vector<std::uint32_t> indexes;
  for (auto const& notification : recorder.seen) {
    EXPECT_EQ(notification.kind, Vesk::Notification::Kind::Index);
    indexes.push_back(notification.index);
  }
  EXPECT_EQ(indexes, (std::vector<std::uint32_t>{1, 2, 3, 1, 2, 3}));
  EXPECT_FALSE(table->entryHandleInLogFront());
  EXPECT_THROW(table->entryHandleInLogEnq(nullptr), Vesk::NullArgumentException);
  EXPECT_EQ(table->entryHandleInLogQueue().backIndex(), 3u);  // nothing queued
}

// Every attribute that accepting or committing changes is published, and
// only those: a snapshot of every attribute and collection through
// reflection, taken before and after each step, names what changed.
TEST_F(TcamSwTableTest, AcceptingAndCommittingPublishEveryAttributeTheyChange) {
  table->entryWrite(keyOf(2), entryOf(2), nullptr);
  commitAll();
  EXPECT_EQ(changedBy([&] { table->entryWrite(keyOf(1), entryOf(1), nullptr); }),
            (std::set<std::string>{"transientAddEntry", "transientVersionForKey"}));
  EXPECT_EQ(changedBy([&] { table->entryRemove(keyOf(2), nullptr); }),
            (std::set<std::string>{"transientRemoveEntry", "transientVersionForKey"}));
  // A remove-all supersedes the pending writes and removes.
  EXPECT_EQ(changedBy([&] { table->entryRemoveAll(nullptr); }),
            (std::set<std::string>{"transientAddEntry", "transientRemoveEntry",
                                   "transientRemoveAllVersion"}));
  EXPECT_EQ(changedBy([&] { table->entryRemoveAll(nullptr); }),
            (std::set<std::string>{"transientRemoveAllVersion"}));
  EXPECT_EQ(changedBy([&] { commitAll(); }),
            (std::set<std::string>{"transientRemoveAllVersion", "entryHandleInLog"}));
  EXPECT_FALSE(table->transientRemoveAllVersion().valid());
}

// A key the TCAM cannot hold (host bits set, a length above 32) is refused
// by every operation that writes a key, with its text and fault, before
// anything changes: no version, nothing pending or queued, nothing logged, no
// handler. Reads take it and find nothing.
TEST_F(TcamSwTableTest, KeysTheTcamCannotHoldAreRefusedByEveryWriterAndFoundByNoRead) {
  writeKeys(1, 3);
  table->entryWrite(keyOf(3), entryOf(3), nullptr);  // one write left pending
  TcamDataModelEntryKey const hostBits(keyOf(1).prefix | 1, 24);
  TcamDataModelEntryKey const tooLong(keyOf(1).prefix, 33);
  std::vector<std::pair<TcamDataModelEntryKey, std::string>> const refused = {
      {hostBits, "10.0.1.1/24: host bits set below the prefix length"},
      {tooLong, "10.0.1.0/33: prefix length above 32"},
      {TcamDataModelEntryKey(0x80000000, 0), "128.0.0.0/0: host bits set below the prefix length"},
  };
  Zido::LogVersion const version = entryLog->tableVersion();
  auto const queued = group->resolver()->queued();
  auto const entries = table->entrys();
  bool called = false;
  auto const handler = [&](auto const&) { called = true; };
  for (auto const& [key, text] : refused) {
    TcamDataModelEntry entry = entryOf(1);
    entry.keyIs(key);
    auto const wrapper = ZaduLpm::tcamEntryWrapperFactory(
        entry, ZaduLpm::entryHandleFactory(Zido::EntryVersion(0, 0), key, table.get()));
    std::vector<std::function<void()>> const writers = {
        [&] { table->entryWrite(key, entryOf(1), nullptr); },
        [&] { table->entryWriteWithResponseHandler(key, entryOf(1), nullptr, handler); },
        [&] { table->entryRemove(key, nullptr); },
        [&] { table->entryRemoveWithResponseHandler(key, nullptr, handler); },
        [&] { table->updateEntry(key); },
        [&] { table->transientAddEntryIs(wrapper); },
        [&] { table->transientRemoveEntryIs(wrapper); },
        [&] {
          table->transientVersionForKeyIs(key, {4, 0});
        },
    };
    for (std::size_t writer = 0; writer < writers.size(); ++writer) {
      SCOPED_TRACE(text + ", writer " + std::to_string(writer));
      EXPECT_EQ(changedBy([&] {
                  try {
                    writers[writer]();
                    ADD_FAILURE() << "accepted";
                  } catch (ZaduLpmLib::InvalidKeyError const& error) {
                    EXPECT_EQ(error.what(), text);
                  }
                }),
                std::set<std::string>{});
    }
    EXPECT_EQ(table->entryRead(key), TcamDataModelEntry{});
    EXPECT_EQ(table->entry(key), TcamDataModelEntry{});
    EXPECT_FALSE(table->entryHas(key));
    EXPECT_FALSE(table->committedHas(key));
    EXPECT_TRUE(table->entryIteratorConst(key).isEnd());
  }
  EXPECT_EQ(table->stats()->entryWriteCnt(), 3u);
  EXPECT_EQ(table->stats()->entryRemoveCnt(), 0u);
  EXPECT_EQ(group->resolver()->queued(), queued);
  EXPECT_EQ(entryLog->tableVersion(), version);
  EXPECT_EQ(commitAll(), 1u);  // the pending write of key 3, and nothing else
  EXPECT_FALSE(called);
  EXPECT_EQ(table->entrys(), entries);
  EXPECT_EQ(entryLog->tableVersion(), version + 1);
  // The refused key's prefix itself is a key like any other.
  EXPECT_EQ(table->entryRead(keyOf(1)), committedOf(entryOf(1)));
}

TEST_F(TcamSwTableTest, AcceptedOperationsLeaveNoLiveObjectOnceReleased) {
  auto const handles = TcamSwTable::EntryHandle::memAllocationTracker_.live();
  auto const wrappers = TcamEntryWrapper::memAllocationTracker_.live();
  auto const resolverEntries = TcamResolverEntry::memAllocationTracker_.live();
  auto const tables = TcamSwTable::memAllocationTracker_.live();
  {
    auto const handle = table->entryWrite(keyOf(1), entryOf(1), nullptr);
    table->entryRemove(keyOf(2), nullptr);
    table->entryRemoveAll(nullptr);
    EXPECT_EQ(TcamSwTable::EntryHandle::memAllocationTracker_.live(), handles + 3);
    EXPECT_EQ(TcamResolverEntry::memAllocationTracker_.live(), resolverEntries + 3);
  }
  // The table goes with its queued operations: the resolver lets go of them.
  set->swTableDel(unit);
  table = nullptr;
  EXPECT_EQ(group->resolver()->queued(), 0u);
  EXPECT_EQ(TcamSwTable::memAllocationTracker_.live(), tables - 1);
  EXPECT_EQ(TcamSwTable::EntryHandle::memAllocationTracker_.live(), handles);
  EXPECT_EQ(TcamEntryWrapper::memAllocationTracker_.live(), wrappers);
  EXPECT_EQ(TcamResolverEntry::memAllocationTracker_.live(), resolverEntries);
}

// ---- The concepts name everything the generic algorithms use -------------
//
// Each Minimal type has, besides what its framework base gives, exactly the
// members its concept requires: MinimalTable those of SwTable,
// MinimalEntryLog of EntryLog, MinimalWrapper of OperationWrapper,
// MinimalResolverEntry of OperationResolverEntry (and the overrides its base
// makes it define), MinimalConstants of TableConstants. None has behaviour.
// Every algorithm is instantiated for them below: that compiles only while
// the concepts name every member of these types that the algorithms use, so
// types that satisfy them never meet an error inside an algorithm.

class MinimalTable;

class MinimalWrapper : public Vesk::Node {
 public:
  MinimalWrapper(TcamDataModelEntry const&, TcamSwTable::EntryHandle::Ptr const&) {}
  TcamDataModelEntry entry() const { return {}; }
  TcamDataModelEntryKey key() const { return {}; }
  void entryKeyIs(TcamDataModelEntryKey const&) {}
  Vesk::Ptr<Zido::OrderedEntryHandle> entryHandle() const { return nullptr; }
  ZaduLpmLib::TcamDataModelLogEntry logEntry() const { return {}; }
  ZaduLpmLib::TcamDataModelResourceKeys rsrcKeys() const { return {}; }
  void setResolvedFields() {}
  void retrieveClientData() {}
  void finalizeOnSuccess(Vesk::Ptr<MinimalTable> const&, bool) {}
};

struct MinimalConstants {
  static constexpr std::uint64_t entryLogCapacity = 1;
};

class MinimalResolverEntry : public Zido::ResolverEntry {
 public:
  MinimalResolverEntry(Vesk::Ptr<Zido::DependencyEntryHandle const> dependency,
                       Zido::EntryFlags flags, MinimalTable*, Vesk::Ptr<MinimalWrapper> wrapper)
      : ResolverEntry(std::move(dependency), flags), wrapper_(std::move(wrapper)) {}
  Vesk::Ptr<MinimalWrapper> const& swTableEntry() const noexcept { return wrapper_; }
  bool isResolved() override { return false; }
  void commitEntry(Vesk::Ptr<Zido::ResolverEntry> const&) override {}
  Zido::SwTableBase const* orderedTable() const override { return nullptr; }

 private:
  Vesk::Ptr<MinimalWrapper> wrapper_;
};

struct MinimalHelper {
  bool finalizeOnResourceUpdate(Vesk::Ptr<MinimalWrapper> const&, Vesk::Ptr<MinimalTable> const&,
                                bool) {
    return false;
  }
};

class MinimalEntryLog {
 public:
  using Key = TcamSwTable::Key;
  using Needed = Vesk::Ptr<Zido::NeededEntry const>;

  std::uint64_t entryLogRecords() const { return 0; }
  Zido::LogVersion entryIs(ZaduLpmLib::TcamDataModelLogEntry const&,
                           ZaduLpmLib::TcamDataModelResourceKeys const&, Needed const&,
                           Zido::UnitId, Vesk::Ptr<Zido::SwTableStats> const&, bool) {
    return 0;
  }
  Zido::LogVersion entryDel(Key const&, Needed const&, Zido::UnitId) { return 0; }
  Zido::LogVersion tableDel(Needed const&, Zido::UnitId) { return 0; }
  void cleanupEntryLog(Zido::LogVersion) {}
  bool entryHas(Key const&, Zido::UnitId) const { return false; }
  Zido::LogVersion entryLogVersion(Key const&, Zido::UnitId) const { return 0; }
  Zido::LogVersion tableVersion() const { return 0; }
  Zido::LogVersion cleanupVersion() const { return 0; }
  Vesk::Ptr<ZaduLpm::TcamEntryLog::ConfigPantry> tableConfigPantry(Zido::UnitId) const {
    return nullptr;
  }
};

class MinimalTable : public ZaduLpmLib::TcamDataModelSwTableBase {
 public:
  using Key = TcamSwTable::Key;
  using Entry = TcamSwTable::Entry;
  using EntryHandle = TcamSwTable::EntryHandle;
  using ResponseHandler = TcamSwTable::ResponseHandler;
  using WrapperMap = Quor::HashMap2018<Key, Vesk::Ptr<MinimalWrapper>, TcamSwTable::KeyHash>;

  static constexpr char const* traceHandleName = "MinimalTable";
  static void requireValidKey(Key const&) {}

  WrapperMap const& transientAddEntries() const noexcept { return wrappers_; }
  void transientAddEntryIs(Vesk::Ptr<MinimalWrapper> const&) {}
  void transientAddEntryDel(Key const&) {}
  void transientAddEntryDelAll() {}
  WrapperMap const& transientRemoveEntries() const noexcept { return wrappers_; }
  void transientRemoveEntryIs(Vesk::Ptr<MinimalWrapper> const&) {}
  void transientRemoveEntryDel(Key const&) {}
  void transientRemoveEntryDelAll() {}
  template <class Next>
  Zido::EntryVersion transientVersionForKeyUpdate(Key const&, Next&&) {
    return {};
  }
  void transientVersionForKeyDel(Key const&) {}
  Zido::MajorVersion transientRemoveAllVersion() const { return {}; }
  void transientRemoveAllVersionIs(Zido::MajorVersion) {}
  bool committedHas(Key const&) const { return false; }

  void entryHandleInLogEnq(EntryHandle::Ptr const&) {}
  void entryHandleInLogDeq() {}
  EntryHandle::Ptr entryHandleInLogFront() const { return nullptr; }
  void entryHandleInLogPrefetch(std::uint32_t) const noexcept {}

  MinimalEntryLog* entryLog() const noexcept { return nullptr; }
  Vesk::Ptr<Zido::GroupResolver> const& groupResolver() const noexcept { return resolver_; }
  MinimalHelper* swTableHelper() const { return nullptr; }
  void setRsrcPtrs(Vesk::Ptr<MinimalWrapper> const&, bool) {}
  Vesk::Ptr<Zido::NeededEntry const> getNeededEntrySet(
      Vesk::Ptr<MinimalWrapper const> const&) const {
    return nullptr;
  }

 private:
  WrapperMap wrappers_;
  Vesk::Ptr<Zido::GroupResolver> resolver_;
};

// The state of a walk over a MinimalTable.
class MinimalIterState : public ZaduLpmLib::TcamDataModelSwTableIteratorState {
 public:
  MinimalTable::Key const& bookmarkKey() const noexcept { return bookmarkKey_; }
  void bookmarkKeyIs(MinimalTable::Key const& key) { bookmarkKey_ = key; }
  MinimalTable const* swTable() const noexcept { return nullptr; }

 private:
  MinimalTable::Key bookmarkKey_;
};

static_assert(OrderedTable::EntryLog<MinimalEntryLog, MinimalTable::Key, MinimalWrapper>);
static_assert(OrderedTable::SwTable<MinimalTable, MinimalWrapper>);
static_assert(OrderedTable::OperationWrapper<MinimalWrapper, MinimalTable>);
static_assert(
    OrderedTable::OperationResolverEntry<MinimalResolverEntry, MinimalTable, MinimalWrapper>);
static_assert(OrderedTable::TableConstants<MinimalConstants>);

}  // namespace
}  // namespace ZaduTest

template class OrderedTable::OrderedSwTableAccessor<
    ZaduTest::MinimalTable, ZaduTest::MinimalConstants, ZaduTest::MinimalResolverEntry,
    ZaduTest::MinimalWrapper>;
template class OrderedTable::IterStateAccessor<ZaduTest::MinimalIterState, ZaduTest::MinimalTable>;
