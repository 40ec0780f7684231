// Zido::NeededEntryLog: what a hardware side must have taken of other tables
// before it may apply a table's change, in shared memory. One collection per
// dependant table id, written by the agent's group interface (addLogEntry),
// read by hardware sides:
//
//   path         Constants::neededEntryPantryPath(group, tableId)
//                ("zido/<group>/neededEntries/<tableId as 8 hex digits>")
//   collection   a Pantry::PantryRing of NeededEntryRecord keyed by a
//                sequence number (dense, in the order the records were
//                written, never reused); each record names the dependant
//                table's log version it starts at
//   scratchpad   the last log version of the dependant table whose needed
//                entries are final: every record of a version at or below
//                it that will ever exist is in the ring
//
// Format. A record is written only when the needs grow: record (s, v, N)
// says that the change at version v of the dependant table, and every later
// one until the next record, may be applied once the hardware side has taken,
// of every table version t in N, version t.version of table t.tableId. N
// holds the highest version needed so far of each table id (at most
// maxTables). Versions of one table id are taken in order, so the highest
// needed covers the lower ones; carrying the running maximum is
// conservative (a change may wait for a version that an earlier change
// needed) and never deadlocks: every version in N was logged before v.
// Holding the maximum keeps the collection small: routes sharing a few
// hundred next hops add a record only when a new next hop appears, and a
// commit costs one compare and the scratchpad store. The needs can grow at
// most once per version of the tables needed, so the collection holds at
// most about as many records as those tables' change logs; one that fills
// anyway drops the record (reported) and the hardware side orders that
// change by its own checks.
//
// How a hardware side follows it. Before applying version v of the
// dependant table: wait until the scratchpad is at least v (the agent
// writes the change log record, then the needed entries, then the
// scratchpad); adopt, in key order, every record whose version is at most
// v (keep the latest); apply v once every table version it names is taken.
// A collection that does not exist means an agent that records no needs:
// apply in the table's own order. The agent removes the records whose
// version is at or below the one the hardware side published for the
// dependant table, but for the newest, which keeps the sequence and the
// running maximum across restarts; a hardware side that restarts rebuilds
// every table from its configuration first, which covers what the removed
// records asked for.
//
// Crash safety. The agent's group mounts the collection when a table
// registers (neededEntryLogIs) and sets the scratchpad to the table's
// version then: a version whose needs a killed agent never recorded is
// final without them, and its table is ordered by the adjacency checks of
// the hardware side alone (a window of one change at the moment of a kill).
//
// Thread safety: one writer thread (the agent's); readers in other
// processes through read-only mounts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "Pantry/PantryRing.h"
#include "QuorPantry/PantryEntity.h"
#include "Zido/TableVersion.h"

namespace Zido {

struct NeededEntryRecord {
  static constexpr std::uint32_t maxTables = 3;

  std::uint64_t sequence = 0;      // the key: 1, 2, ... in writing order
  LogVersion version = 0;          // the dependant table's log version
  std::uint32_t tableIdValue = 0;  // the dependant table id
  std::uint32_t count = 0;         // table versions used in `needed`
  TableVersion needed[maxTables];  // the highest needed version per table id

  bool operator==(NeededEntryRecord const&) const = default;
};

static_assert(std::is_trivially_copyable_v<NeededEntryRecord>);
static_assert(sizeof(NeededEntryRecord) == 72 && offsetof(NeededEntryRecord, needed) == 24);

struct NeededEntryKeyOf {
  using Key = std::uint64_t;
  static Key key(NeededEntryRecord const& record) { return record.sequence; }
};

using NeededEntryRing = Pantry::PantryRing<NeededEntryRecord, NeededEntryKeyOf>;
using NeededEntryPantry = QuorPantry::CollectionEntity<NeededEntryRing>;

struct NeededEntryLogFormat {
  static constexpr char const* typeName = "Zido::NeededEntryPantry";
  static constexpr char const* collectionName = "neededEntry";
  // Four times the adjacency table's change log: needs grow at most once
  // per version of the table needed.
  static constexpr std::uint64_t capacity = 1u << 16;
};

// Follows one dependant table's needed entries for a hardware side: the
// latest record whose version is at or below the one asked about, adopted
// in key order. The collection's header (scratchpad, count, keys) is read
// only when a version above the last scratchpad read is asked about: every
// record of a version at or below a scratchpad value was stored before it,
// so one read of the header serves a whole run of versions, and the line
// the agent writes on every commit is not pulled across for every version.
class NeededEntryFollower {
 public:
  explicit NeededEntryFollower(Vesk::Ptr<NeededEntryRing> ring) : ring_(std::move(ring)) {}

  // Whether the needs of `version` are final (the scratchpad has reached it).
  bool final(LogVersion version) {
    if (version > final_) {
      refresh();
    }
    return version <= final_;
  }
  // The version of `tableId` that the change at `version` needs (0: none).
  // REQUIRES: final(version); calls come with `version` not decreasing.
  LogVersion neededOf(LogVersion version, SwTableId tableId);

 private:
  void refresh();

  Vesk::Ptr<NeededEntryRing> ring_;
  LogVersion final_ = 0;       // the scratchpad, as last read
  std::uint64_t high_ = 0;     // the newest sequence, read after final_
  std::uint64_t next_ = 0;     // the sequence of the next record to adopt
  NeededEntryRecord current_;  // the latest record adopted
};

}  // namespace Zido
