// Resolution, commit and the hardware's progress: handle states, handler
// calls, pending-state retirement, failed dependencies, the log-room test,
// remove-alls, a refused log write, the client's helper, and the fatal
// assertions that guard the commit's invariants.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "support/TcamTableFixture.h"

namespace ZaduTest {
namespace {

using ZaduLpm::TcamEntryWrapper;

// Counts the calls of a response handler and keeps the handle's state at
// each call.
struct HandlerCalls {
  TcamSwTable::ResponseHandler handler() {
    return [this](Vesk::Ptr<Zido::OrderedEntryHandle const> const& handle) {
      states.push_back(handle->entryState());
    };
  }
  std::vector<Zido::EntryState> states;
};

class TcamCommitTest : public TcamTableFixture {};

TEST_F(TcamCommitTest, ACommittedWriteWaitsForTheHardwareThenCompletesOnce) {
  HandlerCalls calls;
  auto const handle =
      table->entryWriteWithResponseHandler(keyOf(1), entryOf(1), nullptr, calls.handler());
  EXPECT_TRUE(table->hasPendingHwWrites());
  EXPECT_EQ(commitAll(), 1u);
  EXPECT_EQ(handle->entryState(), Zido::EntryState::logged);
  EXPECT_EQ(handle->logVersion(), 1u);
  EXPECT_EQ(table->entryHandleInLogBack(), handle);
  EXPECT_TRUE(calls.states.empty());
  EXPECT_TRUE(table->hasPendingHwWrites());
  EXPECT_EQ(table->stats()->commitCnt(), 1u);
  EXPECT_GT(table->stats()->lastCommitTime(), 1.7e9);

  // Below the handle's version: the log is cleaned, nothing completes.
  auto const genId = group->resolver()->genId();
  table->tableStatusVersion(0);
  EXPECT_EQ(handle->entryState(), Zido::EntryState::logged);
  EXPECT_GT(group->resolver()->genId(), genId);
  table->tableStatusVersion(1);
  EXPECT_EQ(calls.states, std::vector<Zido::EntryState>{Zido::EntryState::completed});
  EXPECT_FALSE(table->entryHandleInLogFront());
  EXPECT_FALSE(table->hasPendingHwWrites());
  EXPECT_EQ(changeLog().count(), 0u);
  table->tableStatusVersion(5);  // above tableVersion: pending again
  EXPECT_TRUE(table->hasPendingHwWrites());
  EXPECT_EQ(calls.states.size(), 1u);
}

TEST_F(TcamCommitTest, AFailedDependencyFailsTheOperationAndLogsNothing) {
  HandlerCalls calls;
  table->entryWriteWithResponseHandler(
      keyOf(3), entryOf(3), dependencyIn(Zido::EntryState::hardwareFailed), calls.handler());
  commitAll();
  EXPECT_EQ(calls.states, std::vector<Zido::EntryState>{Zido::EntryState::dependencyFailed});
  EXPECT_EQ(entryLog->tableVersion(), 0u);
  EXPECT_TRUE(table->transientAddEntry(keyOf(3)));  // left as it was

  // A remove-all's handler is called only on failure, with a handle of
  // version {0, 0} and the default key.
  Vesk::Ptr<Zido::OrderedEntryHandle const> seen;
  table->entryRemoveAllWithResponseHandler(dependencyIn(Zido::EntryState::failed),
                                           [&](auto const& handle) { seen = handle; });
  commitAll();
  EXPECT_EQ(table->transientRemoveAllVersion(), Zido::MajorVersion(0));  // left as it was
  EXPECT_EQ(entryLog->tableVersion(), 0u);
  auto const handle = Vesk::dynamicPtrCast<TcamSwTable::EntryHandle const>(seen);
  ASSERT_TRUE(handle);
  EXPECT_TRUE(handle->version().isEq({0, 0}));
  EXPECT_EQ(handle->key(), TcamDataModelEntryKey());
  EXPECT_EQ(handle->entryState(), Zido::EntryState::dependencyFailed);
}

TEST_F(TcamCommitTest, AFullChangeLogHoldsEveryOperationBack) {
  fillChangeLog(*entryLog, 1, ZaduLpmLib::TcamConstants::entryLogCapacity - 1);
  EXPECT_EQ(entryLog->entryLogRecords(), 999999u);
  table->entryWrite(keyOf(1), entryOf(1), nullptr);  // the 1,000,000th record
  EXPECT_EQ(commitAll(), 1u);
  table->entryRemove(keyOf(1), nullptr);
  table->entryRemoveAll(nullptr);
  EXPECT_EQ(commitAll(), 0u);
  EXPECT_TRUE(group->resolver()->suspended());

  table->tableStatusVersion(10);  // the hardware took some: room again
  group->resolver()->maybeUpdateSuspend();
  EXPECT_EQ(commitAll(), 2u);
}

TEST_F(TcamCommitTest, ARemoveAllIsLoggedAsOneTableDeleteAndCountedDown) {
  writeKeys(0, 3);
  HandlerCalls calls;
  table->entryRemoveAllWithResponseHandler(nullptr, calls.handler());
  table->entryRemoveAll(nullptr);
  table->entryRemoveAll(nullptr);
  EXPECT_EQ(table->transientRemoveAllVersion(), Zido::MajorVersion(2));
  EXPECT_EQ(group->resolver()->runPass(1), 1u);
  EXPECT_EQ(table->transientRemoveAllVersion(), Zido::MajorVersion(1));
  EXPECT_EQ(entryLog->tableVersion(), 4u);
  EXPECT_TRUE(changeLog().lookup(4).record.tableDeleted());
  EXPECT_EQ(entryLog->entrys(unit), 0u);
  EXPECT_EQ(table->stats()->tableClearCnt(), 1u);
  EXPECT_EQ(table->entryHandleInLogQueue().count(), 3u);  // only the writes

  // Once the hardware has taken the delete, nothing is left to delete: the
  // later remove-alls log nothing.
  table->tableStatusVersion(4);
  EXPECT_EQ(config().count(), 0u);
  commitAll();
  EXPECT_FALSE(table->transientRemoveAllVersion().valid());
  EXPECT_EQ(entryLog->tableVersion(), 4u);
  EXPECT_EQ(table->stats()->tableClearCnt(), 1u);
  EXPECT_TRUE(calls.states.empty());  // a remove-all's handler is not called
}

// A helper that records what it is told and what it sees of the table.
class RecordingHelper : public ZaduLpm::TcamSwTableHelperBase {
 public:
  void finalizeOnSuccess(Vesk::Ptr<TcamEntryWrapper> const& entry, bool isDelete,
                         Vesk::Ptr<TcamSwTable> const& swTable) override {
    seen.push_back(fmt::format("{} {} pending:{}", entry->key(), isDelete ? "delete" : "write",
                               isDelete ? bool(swTable->transientRemoveEntry(entry->key()))
                                        : bool(swTable->transientAddEntry(entry->key()))));
  }
  std::vector<std::string> seen;
};

TEST_F(TcamCommitTest, TheHelperHearsOfWritesBeforeAndOfRemovesAfterTheirRetirement) {
  Vesk::Ptr<RecordingHelper> helper(new RecordingHelper());
  table->swTableHelperIs(helper);
  table->entryWrite(keyOf(1), entryOf(1), nullptr);
  table->entryRemove(keyOf(1), nullptr);
  table->entryWrite(keyOf(2), entryOf(2), nullptr);
  table->entryRemoveAll(nullptr);
  commitAll();
  EXPECT_EQ(helper->seen, (std::vector<std::string>{"10.0.1.0/24 write pending:false",
                                                    "10.0.1.0/24 delete pending:false",
                                                    "10.0.2.0/24 write pending:false"}));
  // The remove's wrapper was the latest pending operation of the key: its
  // commit retired it before the helper was told. A superseded write leaves
  // the later operation in place.
  table->entryWrite(keyOf(3), entryOf(3), nullptr);
  table->entryWrite(keyOf(3), entryOf(3, 2), nullptr);
  group->resolver()->runPass(1);
  EXPECT_EQ(helper->seen.back(), "10.0.3.0/24 write pending:true");
}

TEST_F(TcamCommitTest, ARefusedLogWriteFailsTheOperationOnce) {
  fillConfig(*entryLog, unit);
  HandlerCalls calls;
  table->entryWriteWithResponseHandler(keyOf(1), entryOf(1), nullptr, calls.handler());
  auto const later = table->entryWrite(TcamDataModelEntryKey(5, 32), entryOf(5), nullptr);
  commitAll();
  EXPECT_EQ(calls.states, std::vector<Zido::EntryState>{Zido::EntryState::failed});
  EXPECT_EQ(group->resolver()->commitFailures(), 1u);
  EXPECT_EQ(entryLog->tableEntryLog()->entryLogConfig().count(), 1u);  // nothing logged for it
  EXPECT_FALSE(table->entryHas(keyOf(1)));
  EXPECT_FALSE(table->transientVersionForKey(keyOf(1)).valid());
  EXPECT_EQ(table->stats()->commitCnt(), 2u);
  EXPECT_EQ(entryLog->tableVersion(), 1u);  // only the rewrite of a stored key
  EXPECT_EQ(later->entryState(), Zido::EntryState::logged);
}

TEST_F(TcamCommitTest, ResponseHandlersMayQueueMoreWorkOrThrow) {
  std::vector<Vesk::Ptr<TcamSwTable::EntryHandle>> handles;
  for (std::uint32_t n = 0; n < 3; ++n) {
    handles.push_back(ZaduLpm::entryHandleFactory({0, 0}, keyOf(n), table.get()));
    handles.back()->logVersionIs(n + 1);
  }
  int calls = 0;
  // The first queues the third, which the same call covers.
  handles[0]->responseHandlerIs([&](auto const&) {
    ++calls;
    table->entryHandleInLogEnq(handles[2]);
  });
  handles[1]->responseHandlerIs([&](auto const&) {
    ++calls;
    throw std::runtime_error("client failed");
  });
  handles[2]->responseHandlerIs([&](auto const&) { ++calls; });
  table->entryHandleInLogEnq(handles[0]);
  table->entryHandleInLogEnq(handles[1]);
  EXPECT_THROW(table->tableStatusVersion(3), std::runtime_error);
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(handles[1]->entryState(), Zido::EntryState::completed);
  EXPECT_EQ(table->entryHandleInLogFront(), handles[2]);
  table->tableStatusVersion(3);
  EXPECT_EQ(calls, 3);
  EXPECT_EQ(handles[2]->entryState(), Zido::EntryState::completed);
}

TEST_F(TcamCommitTest, BrokenInvariantsStopTheProcessWithTheirCondition) {
  auto const commitOf = [&](Zido::EntryFlags flags, Vesk::Ptr<Zido::OrderedEntryHandle> handle) {
    auto const wrapper = ZaduLpm::tcamEntryWrapperFactory(entryOf(1), handle);
    table->commitEntry(ZaduLpm::tcamResolverEntryFactory(nullptr, flags, table.get(), wrapper));
  };
  auto const valid = ZaduLpm::entryHandleFactory({0, 0}, keyOf(1), table.get());
  auto const invalid = ZaduLpm::entryHandleFactory({}, keyOf(1), table.get());
  EXPECT_DEATH(commitOf(static_cast<Zido::EntryFlags>(3), valid),
               "!\\( isEntryDelete && isTableDelete \\)");
  EXPECT_DEATH(commitOf(Zido::EntryFlags::write, nullptr), "entryHandle != NULL");
  EXPECT_DEATH(commitOf(Zido::EntryFlags::entryDelete, invalid), "entryConfVersion.valid\\(\\)");
  EXPECT_DEATH(commitOf(Zido::EntryFlags::tableDelete, valid), "currRemoveAllVersion.valid\\(\\)");
  // A resolver entry of another table is refused, not committed.
  auto const other = makeTable(1);
  auto const foreign =
      ZaduLpm::tcamResolverEntryFactory(nullptr, Zido::EntryFlags::write, other.get(),
                                        ZaduLpm::tcamEntryWrapperFactory(entryOf(1), valid));
  EXPECT_THROW(table->commitEntry(foreign), Vesk::Exception);
  table->transientVersionForKeyIs(keyOf(1), Zido::EntryVersion());
  EXPECT_DEATH(table->entryWrite(keyOf(1), entryOf(1), nullptr), "currEntryVersion.valid\\(\\)");
}

TEST_F(TcamCommitTest, UpdateEntryLogsAgainOnlyWhatTheHelperChangedAndCommits) {
  Vesk::Ptr<AdjacencyChanger> helper(new AdjacencyChanger());
  helper->delta = 0;
  table->swTableHelperIs(helper);
  table->entryWrite(keyOf(1), entryOf(1, 5), nullptr);
  EXPECT_FALSE(table->updateEntry(keyOf(1)));  // only pending: nothing committed
  commitAll();

  auto unchanged = table->updateEntry(keyOf(1));
  ASSERT_TRUE(unchanged);
  EXPECT_EQ(unchanged->logVersion(), 1u);
  EXPECT_EQ(unchanged->entryState(), Zido::EntryState::logged);
  helper->delta = 1;
  helper->commit = false;
  EXPECT_EQ(table->updateEntry(keyOf(1))->logVersion(), 1u);
  EXPECT_EQ(table->stats()->updateCnt(), 0u);

  helper->commit = true;
  auto const updated = table->updateEntry(keyOf(1));
  EXPECT_EQ(updated->logVersion(), 2u);
  EXPECT_EQ(table->stats()->updateCnt(), 1u);
  EXPECT_EQ(entryLog->entry(keyOf(1), unit).data.adjacencyIndex, 6u);
  EXPECT_TRUE(table->entryHandleInLogQueue().count() == 1u);  // not queued
  EXPECT_FALSE(table->updateEntry(keyOf(9)));
}

TEST_F(TcamCommitTest, ClearTableLogsOneTableDeleteWhenThereIsSomethingToDelete) {
  table->clearTable(true);
  EXPECT_EQ(entryLog->tableVersion(), 0u);
  EXPECT_EQ(table->stats()->tableClearCnt(), 0u);
  writeKeys(0, 4, false);
  table->entryRemove(keyOf(0), nullptr);
  commitAll();  // versions 1..5
  auto const handles = TcamSwTable::EntryHandle::memAllocationTracker_.allocated();
  table->clearTable(true);  // one handle for the three live records
  EXPECT_EQ(TcamSwTable::EntryHandle::memAllocationTracker_.allocated(), handles + 1);
  EXPECT_EQ(entryLog->tableVersion(), 6u);
  EXPECT_EQ(entryLog->entrys(unit), 0u);
  EXPECT_EQ(table->stats()->tableClearCnt(), 1u);
  table->clearTable(false);  // records in deletion remain: logged again
  EXPECT_EQ(entryLog->tableVersion(), 7u);
  EXPECT_EQ(TcamSwTable::EntryHandle::memAllocationTracker_.allocated(), handles + 1);
}

}  // namespace
}  // namespace ZaduTest
