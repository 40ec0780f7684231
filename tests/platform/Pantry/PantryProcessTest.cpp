// The pantry collections across processes: readers racing the writer, a
// writer killed at random moments, and writer exclusion.
#include <gtest/gtest.h>

#include <sys/mman.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <thread>

#include "support/ChildProcess.h"
#include "support/RouteRecords.h"
#include "support/ScratchDirectory.h"

namespace ZaduTest {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint64_t mapCapacity = 4096;
constexpr std::uint32_t stableKeys = 256;  // never deleted while readers run
constexpr std::uint32_t keySpace = 3000;

class PantryProcessTest : public ::testing::Test {
 protected:
  std::string mapPath() const { return scratch.file("routes.pantry"); }
  std::string ringPath() const { return scratch.file("log.pantry"); }
  Vesk::Ptr<RouteMap> mapWriter() {
    return RouteMap::mountWriter(mapPath(), mapCapacity, "Test::RoutePantry", "routes",
                                 std::filesystem::exists(mapPath()), 0600);
  }
  Vesk::Ptr<RouteMap> mapReader() {
    return RouteMap::mountReader(mapPath(), mapCapacity, "Test::RoutePantry", "routes");
  }
  Vesk::Ptr<LogRing> ringWriter() {
    return LogRing::mountWriter(ringPath(), 8192, "Test::LogPantry", "log",
                                std::filesystem::exists(ringPath()), 0600);
  }
  ScratchDirectory scratch;
};

// Exit codes of the reader child.
enum ReaderResult { readerClean = 0, tornRecord = 1, stableKeyMissing = 2, corruption = 3 };

TEST_F(PantryProcessTest, ReadersInAnotherProcessNeverSeeTornRecordsOrMissPresentKeys) {
  auto writer = mapWriter();
  for (std::uint32_t n = 0; n < stableKeys; ++n) {
    writer->insert(RouteRecord::make(routeKey(n), n, 0));
  }
  auto const duration = std::chrono::milliseconds(knob("ZADU_READER_MS", 400));

  ChildProcess reader([&](int reportFd) {
    auto map = mapReader();
    std::mt19937 random(3);
    std::uint64_t lookups = 0;
    Clock::time_point const end = Clock::now() + duration;
    try {
      while (Clock::now() < end) {
        std::uint32_t const n = random() % keySpace;
        auto const found = map->lookup(routeKey(n));
        if (found.found && (!found.record.consistent() || found.record.key != routeKey(n))) {
          return static_cast<int>(tornRecord);
        }
        if (n < stableKeys && !found.found) {
          return static_cast<int>(stableKeyMissing);
        }
        if (++lookups % 4096 == 0) {
          std::uint32_t stableSeen = 0;
          for (auto record = map->first(); record; record = map->nextAfter(record->key)) {
            if (!record->consistent()) {
              return static_cast<int>(tornRecord);
            }
            stableSeen += record->key.prefix == routeKey(record->nextHop).prefix &&
                          record->nextHop < stableKeys;
          }
          if (stableSeen < stableKeys) {
            return static_cast<int>(stableKeyMissing);
          }
        }
      }
    } catch (Vesk::CorruptionDetectedException const&) {
      return static_cast<int>(corruption);
    }
    sendMessage(reportFd, lookups);
    return static_cast<int>(readerClean);
  });

  // Full speed: replace the stable keys (nextHop kept, version changing),
  // insert and delete the others, so records keep moving around them.
  std::mt19937 random(4);
  std::uint64_t version = 1;
  Clock::time_point const end = Clock::now() + duration;
  std::uint64_t writes = 0;
  while (Clock::now() < end) {
    for (int burst = 0; burst < 256; ++burst, ++writes) {
      std::uint32_t const n = random() % keySpace;
      if (n < stableKeys) {
        writer->insert(RouteRecord::make(routeKey(n), n, ++version));
      } else if (random() % 2 == 0 && writer->count() < mapCapacity) {
        writer->insert(RouteRecord::make(routeKey(n), keySpace + n, ++version));
      } else {
        writer->del(routeKey(n));
      }
    }
  }
  EXPECT_EQ(reader.wait(), readerClean)
      << "1: torn record, 2: a present key was missed, 3: corruption reported";
  EXPECT_GT(writes, 1000u);
}

// A writer that finds the file invalid makes a new one and renames it into
// place: a reader that still maps the old file keeps working on it.
TEST_F(PantryProcessTest, ReplacingAnInvalidFileLeavesMappedReadersIntact) {
  {
    auto writer = mapWriter();
    writer->insert(RouteRecord::make(routeKey(9), 9, 1));
  }
  auto reader = mapReader();
  // Damage the fingerprint checksum on disk, as a foreign writer could.
  patchFile(mapPath(), offsetof(Pantry::Format::Header, fingerprintChecksum), "X");
  ChildProcess writerProcess([&](int) {
    auto writer = mapWriter();
    return writer->wiped() && writer->count() == 0 ? 0 : 1;
  });
  EXPECT_EQ(writerProcess.wait(), 0);
  EXPECT_EQ(reader->lookup(routeKey(9)).record.nextHop, 9u);
  EXPECT_TRUE(reader->first());
  EXPECT_EQ(mapReader()->count(), 0u);  // a new reader mounts the new file
}

TEST_F(PantryProcessTest, RingReadersInAnotherProcessSeeWholeRecordsInOrder) {
  auto ring = ringWriter();
  auto const duration = std::chrono::milliseconds(knob("ZADU_READER_MS", 400));
  ChildProcess reader([&](int) {
    auto view = LogRing::mountReader(ringPath(), 8192, "Test::LogPantry", "log");
    Clock::time_point const end = Clock::now() + duration;
    while (Clock::now() < end) {
      std::uint64_t previous = 0;
      for (auto record = view->first(); record; record = view->nextAfter(record->version)) {
        if (!record->consistent() || record->version <= previous) {
          return 1;
        }
        previous = record->version;
      }
    }
    return 0;
  });
  Clock::time_point const end = Clock::now() + duration;
  for (std::uint64_t version = 1; Clock::now() < end; ++version) {
    ring->insert(LogRecord::make(version, static_cast<std::uint32_t>(version % 4)));
    if (ring->count() > 4000) {
      ring->del(ring->first()->version);
    }
  }
  EXPECT_EQ(reader.wait(), 0);
}

// One step of the child writer.
struct Step {
  std::uint32_t remove;
  std::uint32_t key;
  std::uint32_t nextHop;
  std::uint64_t version;
};

// What a child writer reports, in memory shared with the parent, so that the
// child spends its time in the collection rather than in system calls and the
// kill lands inside its changes. The child records a step, bumps `intents`,
// performs it, then bumps `done`.
struct StepLog {
  static constexpr std::size_t capacity = 1 << 20;
  std::atomic<std::uint64_t> intents;
  std::atomic<std::uint64_t> done;
  Step steps[capacity];

  static StepLog* make() {
    void* memory =
        mmap(nullptr, sizeof(StepLog), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    return memory == MAP_FAILED ? nullptr : new (memory) StepLog{};
  }
  static void release(StepLog* log) { munmap(log, sizeof(StepLog)); }

  // Child side: false when the log is full (the child then waits for its kill).
  bool begin(Step const& step) {
    std::uint64_t const index = intents.load(std::memory_order_relaxed);
    if (index == capacity) {
      return false;
    }
    steps[index] = step;
    intents.store(index + 1, std::memory_order_release);
    return true;
  }
  void end() { done.store(done.load(std::memory_order_relaxed) + 1, std::memory_order_release); }
};

// The crash loops' frame: ZADU_CRASH_ITERATIONS times, a writer child runs
// `write(iteration)`, recording its steps in `log`, until it is killed after a
// random delay; then `check(iteration)` remounts and compares what the writer
// left with what it reported done, adding the remount's roll-back to
// `rollbacks`.
template <class Write, class Check>
void killRepeatedly(unsigned seed, StepLog& log, long& rollbacks, Write const& write,
                    Check const& check) {
  long const iterations = knob("ZADU_CRASH_ITERATIONS", 200);
  std::mt19937 random(seed);
  for (long iteration = 0; iteration < iterations && !::testing::Test::HasFatalFailure();
       ++iteration) {
    log.intents = 0;
    log.done = 0;
    ChildProcess child([&](int) {
      write(iteration);
      pause();
      return 0;
    });
    std::this_thread::sleep_for(std::chrono::microseconds(500 + random() % 3000));
    child.killNow();
    check(iteration);
  }
  StepLog::release(&log);
  ::testing::Test::RecordProperty("rollbacks", static_cast<int>(rollbacks));
  std::printf("%ld kills, %ld interrupted changes rolled back\n", iterations, rollbacks);
}

// The step a kill interrupted may have happened or not: the model takes what
// the remounted collection holds of its key.
template <class Model, class Found>
void settle(Model& model, typename Model::key_type key, Found const& found) {
  if (found.found) {
    model[key] = found.record;
  } else {
    model.erase(key);
  }
}

TEST_F(PantryProcessTest, AKilledMapWriterLosesNothingThatItReportedDone) {
  std::map<std::uint32_t, RouteRecord> model;
  std::uint64_t version = 0;
  std::uint64_t lastDone = 0;
  long rollbacks = 0;
  StepLog* log = StepLog::make();
  ASSERT_NE(log, nullptr);
  mapWriter();  // created before the first kill
  auto const write = [&](long iteration) {
    auto map = mapWriter();
    std::mt19937 childRandom(static_cast<std::uint32_t>(iteration));
    for (std::uint64_t v = version + 1;; ++v) {
      Step const step{childRandom() % 3 == 0, static_cast<std::uint32_t>(childRandom() % keySpace),
                      static_cast<std::uint32_t>(childRandom()), v};
      if (!log->begin(step)) {
        return;
      }
      if (step.remove != 0) {
        map->del(routeKey(step.key));
      } else if (map->count() < mapCapacity) {
        map->insert(RouteRecord::make(routeKey(step.key), step.nextHop, v));
      }
      map->scratchpadIs(v);
      log->end();
    }
  };
  killRepeatedly(21, *log, rollbacks, write, [&](long iteration) {
    std::uint64_t const done = log->done;
    for (std::uint64_t i = 0; i < done; ++i) {
      Step const& step = log->steps[i];
      version = lastDone = step.version;
      if (step.remove != 0) {
        model.erase(step.key);
      } else if (model.size() < mapCapacity || model.contains(step.key)) {
        model[step.key] = RouteRecord::make(routeKey(step.key), step.nextHop, step.version);
      }
    }
    bool const interrupted = log->intents > done;
    Step const inFlight = interrupted ? log->steps[done] : Step{};

    auto map = mapWriter();
    rollbacks += map->segment().rolledBack();
    ASSERT_FALSE(map->wiped()) << "iteration " << iteration;
    std::uint64_t walked = 0;
    for (auto record = map->first(); record; record = map->nextAfter(record->key), ++walked) {
      ASSERT_TRUE(record->consistent());
    }
    ASSERT_EQ(walked, map->count());
    if (interrupted) {
      settle(model, inFlight.key, map->lookup(routeKey(inFlight.key)));
      version = std::max(version, inFlight.version);
    }
    for (std::uint32_t n = 0; n < keySpace; ++n) {
      auto const found = map->lookup(routeKey(n));
      auto const expected = model.find(n);
      ASSERT_EQ(found.found, expected != model.end()) << "key " << n << " iteration " << iteration;
      if (found.found) {
        ASSERT_EQ(found.record, expected->second);
      }
    }
    ASSERT_EQ(map->count(), model.size());
    ASSERT_GE(map->scratchpad(), lastDone);
  });
}

TEST_F(PantryProcessTest, AKilledRingWriterLosesNothingThatItReportedDone) {
  std::map<std::uint64_t, LogRecord> model;
  std::uint64_t nextVersion = 1;
  long rollbacks = 0;
  StepLog* log = StepLog::make();
  ASSERT_NE(log, nullptr);
  ringWriter();  // created before the first kill
  auto const write = [&](long) {
    auto ring = ringWriter();
    for (std::uint64_t v = nextVersion;; ++v) {
      // Remove the oldest record, as the log's cleanup does.
      bool const remove = ring->count() > 4000 || (v % 3 == 0 && ring->count() > 0);
      std::uint64_t const oldest = remove ? ring->first()->version : 0;
      if (!log->begin(Step{remove, 0, 0, remove ? oldest : v})) {
        return;
      }
      if (remove) {
        ring->del(oldest);
      } else {
        ring->insert(LogRecord::make(v, static_cast<std::uint32_t>(v % 4)));
      }
      log->end();
    }
  };
  killRepeatedly(22, *log, rollbacks, write, [&](long iteration) {
    std::uint64_t const done = log->done;
    for (std::uint64_t i = 0; i < log->intents; ++i) {
      nextVersion = std::max(nextVersion, log->steps[i].version + 1);
    }
    for (std::uint64_t i = 0; i < done; ++i) {
      Step const& step = log->steps[i];
      if (step.remove != 0) {
        model.erase(step.version);
      } else {
        model[step.version] =
            LogRecord::make(step.version, static_cast<std::uint32_t>(step.version % 4));
      }
    }
    auto ring = ringWriter();
    rollbacks += ring->segment().rolledBack();
    ASSERT_FALSE(ring->wiped());
    if (log->intents > done) {
      settle(model, log->steps[done].version, ring->lookup(log->steps[done].version));
    }
    ASSERT_EQ(ring->count(), model.size()) << "iteration " << iteration;
    std::vector<std::uint64_t> walked;
    for (auto record = ring->first(); record; record = ring->nextAfter(record->version)) {
      ASSERT_TRUE(record->consistent());
      walked.push_back(record->version);
    }
    std::vector<std::uint64_t> expected;
    for (auto const& [v, record] : model) {
      expected.push_back(v);
    }
    ASSERT_EQ(walked, expected) << "iteration " << iteration;
  });
}

TEST_F(PantryProcessTest, ALiveWriterInAnotherProcessIsRefusedADeadOneIsNot) {
  mapWriter()->insert(RouteRecord::make(routeKey(1), 1, 1));
  ChildProcess holder([&](int reportFd) {
    auto map = mapWriter();
    sendMessage(reportFd, std::uint32_t{1});
    pause();
    return 0;
  });
  holder.readOne<std::uint32_t>();
  try {
    mapWriter();
    FAIL() << "a second writer was let in";
  } catch (Pantry::WriterConflictError const& error) {
    EXPECT_NE(std::string(error.what()).find("pid " + std::to_string(holder.pid())),
              std::string::npos)
        << error.what();
  }
  holder.killNow();
  auto map = mapWriter();
  EXPECT_FALSE(map->wiped());
  EXPECT_TRUE(map->has(routeKey(1)));
}

// A new writer mount re-derives the occupancy of every slot; a reader in
// another process walking the map meanwhile still finds every record.
TEST_F(PantryProcessTest, AWalkInAnotherProcessMissesNothingWhileANewWriterMounts) {
  {
    auto writer = mapWriter();
    for (std::uint32_t n = 0; n < 500; ++n) {
      writer->insert(RouteRecord::make(routeKey(n), n, 1));
    }
  }
  auto const reader = mapReader();
  ChildProcess mounter([&](int reportFd) {
    for (int mounts = 0;; ++mounts) {
      mapWriter();  // mounts, repairs, unmounts
      if (mounts == 0) {
        sendMessage(reportFd, 1);
      }
    }
    return 0;
  });
  ASSERT_EQ(mounter.readOne<int>(), 1);
  for (int walk = 0; walk < 2000; ++walk) {
    std::uint32_t walked = 0;
    for (auto record = reader->first(); record; record = reader->nextAfter(record->key)) {
      ++walked;
    }
    ASSERT_EQ(walked, 500u) << "walk " << walk;
  }
}

}  // namespace
}  // namespace ZaduTest
