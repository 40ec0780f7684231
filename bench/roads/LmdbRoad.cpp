// The road a user would build on LMDB: see Road.h.
#include <lmdb.h>

#include <absl/container/flat_hash_map.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>

#include "bench/roads/BatchedRoad.h"
#include "bench/roads/StoreRecords.h"

namespace ZaduBench {

namespace {

void check(int code, char const* what) {
  if (code != MDB_SUCCESS) {
    throw std::runtime_error(std::string("lmdb: ") + what + ": " + mdb_strerror(code));
  }
}

MDB_val valueOf(void const* data, std::size_t size) {
  return {size, const_cast<void*>(data)};
}

// One process's environment over the road's directory, with its databases.
class Environment {
 public:
  Environment(std::string const& directory, std::uint16_t units, bool create) {
    check(mdb_env_create(&env_), "env_create");
    check(mdb_env_set_maxdbs(env_, units + 2), "set_maxdbs");
    check(mdb_env_set_mapsize(env_, std::size_t{4} << 30), "set_mapsize");
    check(mdb_env_open(env_, directory.c_str(), MDB_NOSYNC | MDB_WRITEMAP, 0600), "env_open");
    MDB_txn* txn = nullptr;
    check(mdb_txn_begin(env_, nullptr, 0, &txn), "txn_begin");
    unsigned const flags = create ? MDB_CREATE : 0;
    for (std::uint16_t unit = 0; unit < units; ++unit) {
      MDB_dbi dbi = 0;
      check(mdb_dbi_open(txn, ("config-" + std::to_string(unit)).c_str(), flags | MDB_INTEGERKEY,
                         &dbi),
            "dbi_open config");
      config.push_back(dbi);
    }
    check(mdb_dbi_open(txn, "log", flags | MDB_INTEGERKEY, &log), "dbi_open log");
    check(mdb_dbi_open(txn, "meta", flags, &meta), "dbi_open meta");
    check(mdb_txn_commit(txn), "txn_commit");
  }
  ~Environment() { mdb_env_close(env_); }
  Environment(Environment const&) = delete;
  Environment& operator=(Environment const&) = delete;

  MDB_txn* begin(unsigned flags) {
    MDB_txn* txn = nullptr;
    check(mdb_txn_begin(env_, nullptr, flags, &txn), "txn_begin");
    return txn;
  }
  std::uint64_t version(MDB_txn* txn, char const* name) {
    MDB_val key = valueOf(name, std::strlen(name));
    MDB_val value{};
    if (mdb_get(txn, meta, &key, &value) != MDB_SUCCESS) {
      return 0;
    }
    std::uint64_t version = 0;
    std::memcpy(&version, value.mv_data, sizeof version);
    return version;
  }
  void versionIs(MDB_txn* txn, char const* name, std::uint64_t version) {
    MDB_val key = valueOf(name, std::strlen(name));
    MDB_val value = valueOf(&version, sizeof version);
    check(mdb_put(txn, meta, &key, &value, 0), "put version");
  }

  std::vector<MDB_dbi> config;
  MDB_dbi log = 0;
  MDB_dbi meta = 0;

 private:
  MDB_env* env_ = nullptr;
};

// The hardware side: follows the change records with read transactions and
// writes its version back after every batch.
int followChanges(std::string const& directory, std::uint16_t units, bool acknowledgeOnly) {
  Environment environment(directory, units, false);
  SimulatedChip chip(acknowledgeOnly);
  std::uint64_t taken = 0;
  while (!stopRequested()) {
    MDB_txn* txn = environment.begin(MDB_RDONLY);
    std::uint64_t const agent = environment.version(txn, "agent");
    std::uint64_t const first = taken;
    if (agent > taken) {
      MDB_cursor* cursor = nullptr;
      check(mdb_cursor_open(txn, environment.log, &cursor), "cursor_open");
      std::size_t next = taken + 1;
      MDB_val key = valueOf(&next, sizeof next);
      MDB_val value{};
      int found = mdb_cursor_get(cursor, &key, &value, MDB_SET_KEY);
      while (found == MDB_SUCCESS && taken - first < batch) {
        ChangeRecord change;
        std::memcpy(&change, value.mv_data, sizeof change);
        chip.apply(change);
        std::memcpy(&taken, key.mv_data, sizeof taken);
        found = mdb_cursor_get(cursor, &key, &value, MDB_NEXT);
      }
      mdb_cursor_close(cursor);
    }
    mdb_txn_abort(txn);
    if (taken == first) {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
      continue;
    }
    MDB_txn* write = environment.begin(0);
    environment.versionIs(write, "hw", taken);
    check(mdb_txn_commit(write), "txn_commit hw");
  }
  return 0;
}

// Commits operations [from, to) in one write transaction; version =
// operation index + 1. Cleans the change records the hardware has taken.
void commit(Environment& environment, Workload const& workload, std::size_t from, std::size_t to,
            std::uint64_t hardwareVersion, std::uint64_t& cleaned) {
  MDB_txn* txn = environment.begin(0);
  for (std::size_t index = from; index < to; ++index) {
    Operation const& operation = workload.operations[index];
    std::size_t const keyNumber = operation.keyNumber();
    std::size_t const version = index + 1;
    MDB_val key = valueOf(&keyNumber, sizeof keyNumber);
    MDB_dbi const config = environment.config[operation.unit];
    if (operation.remove) {
      int const removed = mdb_del(txn, config, &key, nullptr);
      if (removed != MDB_NOTFOUND) {
        check(removed, "del config");
      }
    } else {
      ConfigRecord const record{version, operation.adjacency};
      MDB_val value = valueOf(&record, sizeof record);
      check(mdb_put(txn, config, &key, &value, 0), "put config");
    }
    ChangeRecord const change = changeOf(operation);
    MDB_val logKey = valueOf(&version, sizeof version);
    MDB_val logValue = valueOf(&change, sizeof change);
    check(mdb_put(txn, environment.log, &logKey, &logValue, MDB_APPEND), "put log");
  }
  environment.versionIs(txn, "agent", to);
  if (hardwareVersion > cleaned) {
    MDB_cursor* cursor = nullptr;
    check(mdb_cursor_open(txn, environment.log, &cursor), "cursor_open");
    MDB_val key{};
    MDB_val value{};
    while (mdb_cursor_get(cursor, &key, &value, MDB_FIRST) == MDB_SUCCESS) {
      std::uint64_t version = 0;
      std::memcpy(&version, key.mv_data, sizeof version);
      if (version > hardwareVersion) {
        break;
      }
      check(mdb_cursor_del(cursor, 0), "cursor_del");
    }
    mdb_cursor_close(cursor);
    cleaned = hardwareVersion;
  }
  check(mdb_txn_commit(txn), "txn_commit");
}

double restoreMilliseconds(std::string const& directory, std::uint16_t units) {
  auto const began = std::chrono::steady_clock::now();
  Environment environment(directory, units, false);
  absl::flat_hash_map<std::uint64_t, ConfigRecord> restored;
  MDB_txn* txn = environment.begin(MDB_RDONLY);
  MDB_cursor* cursor = nullptr;
  check(mdb_cursor_open(txn, environment.config[0], &cursor), "cursor_open");
  MDB_val key{};
  MDB_val value{};
  for (int found = mdb_cursor_get(cursor, &key, &value, MDB_FIRST); found == MDB_SUCCESS;
       found = mdb_cursor_get(cursor, &key, &value, MDB_NEXT)) {
    std::uint64_t keyNumber = 0;
    ConfigRecord record;
    std::memcpy(&keyNumber, key.mv_data, sizeof keyNumber);
    std::memcpy(&record, value.mv_data, sizeof record);
    restored.emplace(keyNumber, record);
  }
  mdb_cursor_close(cursor);
  mdb_txn_abort(txn);
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - began)
      .count();
}

}  // namespace

RoadResult runLmdbRoad(Workload const& workload, RoadOptions const& options) {
  RoadResult result("lmdb", workload.operations.size());
  { Environment made(options.scratch, workload.units, true); }
  {
    ChildProcess hardware(
        [&] { return followChanges(options.scratch, workload.units, options.acknowledgeOnly); });
    Environment environment(options.scratch, workload.units, false);
    std::uint64_t cleaned = 0;
    runBatchedRoad(
        workload, options, hardware, result,
        [&](std::size_t from, std::size_t to, std::uint64_t hardwareVersion) {
          commit(environment, workload, from, to, hardwareVersion, cleaned);
        },
        [&] {
          MDB_txn* txn = environment.begin(MDB_RDONLY);
          std::uint64_t const version = environment.version(txn, "hw");
          mdb_txn_abort(txn);
          return version;
        });
    result.storeMebibytes = mebibytesUnder(options.scratch);
  }
  result.restoreMilliseconds = restoreMilliseconds(options.scratch, workload.units);
  return result;
}

}  // namespace ZaduBench
