// ZaduRead::Reader: what the TCAM table's shared memory holds, read
// without disturbing its writers. The `zadulpm` command and the Python module
// both read through it.
//
// Collections are found and mounted read-only by StoreFiles, so the agent
// and the hardware side never wait for, or notice, a reader. Records are
// read under their slot's sequence lock: a record that a writer is changing is read again, never
// returned torn. A read that meets a change it cannot wait out (records moved
// under a walk) starts again from nothing, up to six attempts, and is then
// reported as damaged. Whether a writer is alive is read from /proc/locks (its
// exclusive lock on the segment), which asks nothing of the file itself.
//
// Errors raise ReadError with one line and a distinct code:
//   3  no shared memory at the root (no root, or no store under it)
//   4  a root, directory or file that this user may not read
//   5  a file of another layout version, or damaged
//   6  a unit that has no configuration table, or no adjacency table
//
// Thread safety: one thread per Reader.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ZaduLpmLib/AdjacencyDataModel.h"
#include "ZaduLpmLib/TcamDataModelPantry.h"
#include "ZaduRead/StoreFiles.h"

namespace ZaduRead {

// The writer of a segment: the pid it recorded, and whether it still holds
// the segment.
struct Writer {
  std::uint64_t pid = 0;
  bool alive = false;
};

struct ChangeLogStatus {
  bool present = false;
  std::uint64_t records = 0;
  std::uint64_t lowestVersion = 0;   // 0 when empty
  std::uint64_t highestVersion = 0;  // 0 when empty
  std::uint64_t tableVersion = 0;    // the last version the agent handed out
  Writer writer;
};

struct HardwareStatus {
  bool present = false;  // the hardware side has published
  std::uint64_t publishedVersion = 0;
  Writer writer;
};

struct UnitStatus {
  std::uint16_t unit = 0;
  std::uint64_t live = 0;
  std::uint64_t inDeletion = 0;
  std::uint64_t capacity = 0;
  Writer writer;
};

struct Status {
  std::string directory;  // the store's directory under the root
  ChangeLogStatus changeLog;
  HardwareStatus hardware;
  std::vector<UnitStatus> units;
};

// One change log record.
struct LogRecord {
  std::uint64_t version = 0;
  std::uint16_t unit = 0;
  char const* kind = "write";  // "write", "entryDelete" or "tableDelete"
  ZaduLpmLib::TcamDataModelEntryData entry;
};

// One configuration record; `nextHop` is what the entry's adjacency index
// names in the adjacency table (filled by routeGet; empty when the table has
// no live next hop under that index, or the agent has no adjacency table).
struct EntryRecord {
  std::uint64_t logVersion = 0;
  bool inDeletion = false;
  ZaduLpmLib::TcamDataModelEntryData entry;
  std::optional<ZaduLpmLib::AdjacencyKey> nextHop;
};

// One record of the adjacency table: a next hop and its index.
struct AdjacencyRecord {
  std::uint32_t index = 0;
  std::uint64_t logVersion = 0;
  bool inDeletion = false;
  ZaduLpmLib::AdjacencyKey nextHop;
};

class Reader {
 public:
  // The store `store` under `root` (empty: ZADU_SHM_ROOT, or the library's
  // default). Raises ReadError 3 or 4 when the store cannot be read.
  Reader(std::string const& root, std::string const& store);

  Status status();
  // Change log records with versions in [from, to], in version order, at
  // most `limit` (0: all).
  std::vector<LogRecord> log(std::uint64_t from, std::uint64_t to, std::uint64_t limit);
  // The unit's configuration records in key order; only `prefix` when given;
  // records in deletion only when `deleted`.
  std::vector<EntryRecord> entries(std::uint16_t unit,
                                   std::optional<ZaduLpmLib::TcamDataModelEntryKey> prefix,
                                   bool deleted);
  // The live record that longest-prefix match selects for `address`, with
  // the next hop its adjacency index names.
  std::optional<EntryRecord> routeGet(std::uint16_t unit, std::uint32_t address);
  // The adjacency table's records in index order (one table for the
  // switch); records in deletion only when `deleted`. Raises ReadError 6
  // when the agent has no adjacency table.
  std::vector<AdjacencyRecord> adjacencies(bool deleted);

  std::string const& directory() const noexcept { return files_.directory(); }

 private:
  // The unit's configuration table; ReadError 6 when it has none.
  Vesk::Ptr<ZaduLpmLib::TcamDataModelConfigMap> requireConfig(std::uint16_t unit) const;
  Writer writerOf(std::string const& file, std::uint64_t recordedPid) const;

  StoreFiles files_;
};

// "A.B.C.D/LEN" of a key.
std::string formatKey(ZaduLpmLib::TcamDataModelEntryKey const& key);

}  // namespace ZaduRead
