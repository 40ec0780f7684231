#include "agent/NextHopTable.h"

#include "Vesk/TypeBuilder.h"

namespace ZaduAgent {

using namespace Zido;

// The resolver entry of one next-hop write.
class NextHopCommit : public ResolverEntry {
  HUNKPOOL_CLASS_ALLOCATION(NextHopCommit)

 public:
  NextHopCommit(NextHopTable* table, Vesk::Ptr<OrderedEntryHandle> handle)
      : ResolverEntry(nullptr, EntryFlags::write), table_(table), handle_(std::move(handle)) {}

  bool isResolved() override { return true; }
  void commitEntry(Vesk::Ptr<ResolverEntry> const&) override { table_->commit(handle_); }
  SwTableBase const* orderedTable() const override { return table_; }

 private:
  NextHopTable* table_;
  Vesk::Ptr<OrderedEntryHandle> handle_;
};

NextHopTable::NextHopTable(SwTableId tableId, UnitId unitId, Vesk::Ptr<GroupResolver> resolver)
    : OrderedSwTable(new CanonicalTableName(0, "framework", "Zido", "NextHop"), tableId, unitId,
                     nullptr),
      resolver_(std::move(resolver)) {
  statsIs();
}

NextHopTable::~NextHopTable() {
  resolver_->resolverQueueDel(this);
}

Vesk::Ptr<OrderedEntryHandle> NextHopTable::nextHopWrite(std::uint32_t nextHopId) {
  Vesk::Ptr<OrderedEntryHandle> handle(new OrderedEntryHandle(EntryVersion(nextHopId, 0), this));
  ++pending_;
  stats()->entryWriteCntInc(1);
  resolver_->resolverQueueEnq(new NextHopCommit(this, handle));
  nudgeResolver();
  return handle;
}

void NextHopTable::commit(Vesk::Ptr<OrderedEntryHandle> const& handle) {
  --pending_;
  if (isFailure(handle->entryState())) {
    return;  // refused while it waited
  }
  handle->logVersionIs(++lastLogVersion_);
  handle->entryStateIs(EntryState::logged);
  waiting_.push_back(handle);
  stats()->commitCntInc(1);
}

void NextHopTable::refuse(Vesk::Ptr<OrderedEntryHandle> const& handle) {
  handle->entryStateIs(EntryState::failed);
  std::erase(waiting_, handle);
  nudgeResolver();
}

void NextHopTable::hardwareFailed(Vesk::Ptr<OrderedEntryHandle> const& handle) {
  handle->entryStateIs(EntryState::hardwareFailed);
  std::erase(waiting_, handle);
  nudgeResolver();
}

void NextHopTable::tableStatusVersion(LogVersion version) {
  while (!waiting_.empty() && waiting_.front()->logVersion() <= version) {
    Vesk::Ptr<OrderedEntryHandle> const handle = waiting_.front();
    waiting_.pop_front();
    handle->entryStateIs(EntryState::completed);
  }
  nudgeResolver();
}

bool NextHopTable::hasPendingHwWrites() const {
  return pending_ > 0 || !waiting_.empty();
}

void NextHopTable::nudgeResolver() {
  resolver_->updateGenId();
}

Vesk::TypeData const& NextHopTable::staticTypeData() {
  static Vesk::TypeData const& type =
      Vesk::TypeBuilder<NextHopTable>("ZaduAgent::NextHopTable", &OrderedSwTable::staticTypeData())
          .attribute("lastLogVersion", &NextHopTable::lastLogVersion)
          .operation("nextHopWrite", &NextHopTable::nextHopWrite)
          .done();
  return type;
}

namespace {
[[maybe_unused]] Vesk::TypeData const& registered = NextHopTable::staticTypeData();
}  // namespace

}  // namespace ZaduAgent
