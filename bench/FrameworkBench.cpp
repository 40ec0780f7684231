// The group resolver: a pass over 65,536 queued entries without
// dependencies, spread over 1 or 4 tables (ns per committed entry, including
// the isResolved and commitEntry calls of a trivial entry).
#include <benchmark/benchmark.h>

#include <vector>

#include "Zido/GroupResolver.h"
#include "Zido/SwTable.h"
#include "support/QueueTable.h"

namespace {

// Counts the commits of its entries.
class BenchTable : public ZaduTest::QueueTable {
 public:
  using QueueTable::QueueTable;
  std::uint64_t commits = 0;
};

class BenchEntry : public Zido::ResolverEntry {
  HUNKPOOL_CLASS_ALLOCATION(BenchEntry)

 public:
  explicit BenchEntry(BenchTable* table)
      : ResolverEntry(nullptr, Zido::EntryFlags::write), table_(table) {}
  bool isResolved() override { return true; }
  void commitEntry(Vesk::Ptr<Zido::ResolverEntry> const&) override { ++table_->commits; }
  Zido::SwTableBase const* orderedTable() const override { return table_; }

 private:
  BenchTable* table_;
};

void resolverPass(benchmark::State& state) {
  std::size_t const entries = 65536;
  auto const tableCount = static_cast<Zido::UnitId>(state.range(0));
  std::vector<Vesk::Ptr<BenchTable>> tables;
  for (Zido::UnitId unit = 0; unit < tableCount; ++unit) {
    tables.emplace_back(new BenchTable(unit));
  }
  Vesk::Ptr<Zido::GroupResolver> resolver(new Zido::GroupResolver(nullptr));
  for (auto _ : state) {
    state.PauseTiming();
    for (std::size_t i = 0; i < entries; ++i) {
      resolver->resolverQueueEnq(new BenchEntry(tables[i % tables.size()].get()));
    }
    state.ResumeTiming();
    std::size_t const committed = resolver->runPass(entries);
    benchmark::DoNotOptimize(committed);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(entries));
}
BENCHMARK(resolverPass)->Name("GroupResolver/pass_65536_entries/tables")->Arg(1)->Arg(4);

}  // namespace
