// The entity runtime's hot paths: slab allocation against the global
// allocator, counted references, and the cost of a disabled trace.
#include <benchmark/benchmark.h>

#include <deque>
#include <memory>
#include <vector>

#include "Hunkpool/Pool.h"
#include "Quor/TraceHandle.h"
#include "Vesk/Node.h"
#include "Vesk/Ptr.h"
#include "Vesk/RQueue.h"

namespace {

// The size of a typical small entity (a handle or wrapper): 48 bytes.
struct PooledObject {
  HUNKPOOL_CLASS_ALLOCATION(PooledObject)
  std::uint64_t words[6];
};

struct PlainObject {
  std::uint64_t words[6];
};

class Entity : public Vesk::Node {
  HUNKPOOL_CLASS_ALLOCATION(Entity)
};

// Allocates and frees one object at a time: the pattern of a handle made and
// dropped per operation.
template <class Object>
void allocateFreeOne(benchmark::State& state) {
  for (auto _ : state) {
    auto* object = new Object();
    benchmark::DoNotOptimize(object);
    delete object;
  }
}
BENCHMARK(allocateFreeOne<PooledObject>)->Name("AllocateFree/slab_pool");
BENCHMARK(allocateFreeOne<PlainObject>)->Name("AllocateFree/global_new");

// Allocates a batch and frees it in allocation order: the pattern of
// operations queued and then completed by the hardware.
template <class Object>
void allocateBatchThenFree(benchmark::State& state) {
  std::vector<Object*> objects(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    for (auto& object : objects) {
      object = new Object();
    }
    benchmark::ClobberMemory();
    for (auto* object : objects) {
      delete object;
    }
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(allocateBatchThenFree<PooledObject>)->Name("AllocateBatch/slab_pool")->Arg(65536);
BENCHMARK(allocateBatchThenFree<PlainObject>)->Name("AllocateBatch/global_new")->Arg(65536);

void countedReferenceCopy(benchmark::State& state) {
  Vesk::Ptr<Entity> entity(new Entity());
  for (auto _ : state) {
    Vesk::Ptr<Entity> copy = entity;
    benchmark::DoNotOptimize(copy);
  }
}
BENCHMARK(countedReferenceCopy)->Name("PtrCopy/plain");

void countedReferenceCopyThreadSafe(benchmark::State& state) {
  Vesk::threadSafeModeIs(true);
  Vesk::Ptr<Entity> entity(new Entity());
  for (auto _ : state) {
    Vesk::Ptr<Entity> copy = entity;
    benchmark::DoNotOptimize(copy);
  }
  Vesk::threadSafeModeIs(false);
}
BENCHMARK(countedReferenceCopyThreadSafe)->Name("PtrCopy/thread_safe");

Quor::TraceHandle benchTrace("RuntimeBench");

void disabledTrace(benchmark::State& state) {
  std::uint64_t key = 0;
  for (auto _ : state) {
    QUOR_TRACE(benchTrace, 8, "Bench", " key: {} not found in entry version collection", ++key);
    benchmark::DoNotOptimize(key);
  }
}
BENCHMARK(disabledTrace)->Name("Trace/disabled");

void emptyLoop(benchmark::State& state) {
  std::uint64_t key = 0;
  for (auto _ : state) {
    ++key;
    benchmark::DoNotOptimize(key);
  }
}
BENCHMARK(emptyLoop)->Name("Trace/baseline_no_trace");

}  // namespace

namespace {

// The in-log queue pattern: a window of handles enqueued at commit and
// dequeued when the hardware reports progress.
template <class Queue, class Enqueue, class Dequeue>
void queueWindow(benchmark::State& state, Enqueue enqueue, Dequeue dequeue) {
  Queue queue;
  std::size_t const window = static_cast<std::size_t>(state.range(0));
  Vesk::Ptr<Entity> element(new Entity());
  for (std::size_t i = 0; i < window; ++i) {
    enqueue(queue, element);
  }
  for (auto _ : state) {
    enqueue(queue, element);
    dequeue(queue);
  }
  state.SetItemsProcessed(state.iterations());
}

void rqueueWindow(benchmark::State& state) {
  queueWindow<Vesk::RQueue<Vesk::Ptr<Entity>>>(
      state, [](auto& queue, auto const& element) { queue.enq(element); },
      [](auto& queue) {
        Vesk::Ptr<Entity> out;
        queue.deq(out);
        benchmark::DoNotOptimize(out);
      });
}
BENCHMARK(rqueueWindow)->Name("InLogQueue/RQueue_enq_deq/window")->Arg(16)->Arg(65536);

void dequeWindow(benchmark::State& state) {
  queueWindow<std::deque<Vesk::Ptr<Entity>>>(
      state, [](auto& queue, auto const& element) { queue.push_back(element); },
      [](auto& queue) {
        Vesk::Ptr<Entity> out = std::move(queue.front());
        queue.pop_front();
        benchmark::DoNotOptimize(out);
      });
}
BENCHMARK(dequeWindow)->Name("InLogQueue/std_deque_push_pop/window")->Arg(16)->Arg(65536);

}  // namespace
