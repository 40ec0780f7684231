// ZaduRead::StoreFiles: where an agent's store keeps the TCAM table's shared
// memory, and each of its collections mounted read-only. Whoever reads that
// memory without being the agent (the hardware side, the `zadulpm` command,
// the Python module) finds and mounts it here, so that every reader opens the
// same files with the same capacities, type names and checks.
//
// A read-only mount maps the segment without write permission and takes no
// lock: the agent and the hardware side never wait for, or notice, a reader.
// Each mount returns null when the collection's file does not exist (the
// agent has not made it, or never will), and raises ReadError when it exists
// but cannot be used:
//   permission  a directory on the way, or the file, that this user may not
//               read, or a directory that is a link
//   damaged     a file that is not a segment of the expected collection,
//               of this layout version (truncated, foreign, being made)
// A caller that waits for the agent (the hardware side) treats both as "not
// there yet"; one that answers an operator (the reader) reports them.
//
// Thread safety: none needed; the object holds only paths.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "Vesk/Ptr.h"
#include "ZaduLpmLib/AdjacencyDataModel.h"
#include "ZaduLpmLib/TcamDataModelPantry.h"
#include "Zido/GroupInterface.h"
#include "Zido/Identifiers.h"
#include "Zido/NeededEntryLog.h"

namespace ZaduRead {

// Why shared memory could not be read, with one line saying what and where.
// The codes are the `zadulpm` command's exit statuses.
class ReadError : public std::runtime_error {
 public:
  enum Code : int { noSharedMemory = 3, permission = 4, damaged = 5, noUnit = 6 };
  ReadError(Code code, std::string const& message) : runtime_error(message), code_(code) {}
  Code code() const noexcept { return code_; }

 private:
  Code code_;
};

class StoreFiles {
 public:
  // The store `store` under `root`: its files are below
  // "<root>/local/<store>/". REQUIRES: `root` is absolute, without trailing
  // '/', and `store` is one valid path component (the caller checks both).
  StoreFiles(std::string root, std::string const& store);

  std::string const& root() const noexcept { return root_; }
  // The store's directory.
  std::string const& directory() const noexcept { return directory_; }
  // The segment file of the entity at `entityPath`.
  std::string filePath(std::string const& entityPath) const;

  // The units that have a configuration table file, in ascending order.
  std::vector<Zido::UnitId> units() const;

  // The TCAM's change log.
  Vesk::Ptr<ZaduLpmLib::TcamDataModelLogRing> changeLog() const;
  // The configuration table of `unit`.
  Vesk::Ptr<ZaduLpmLib::TcamDataModelConfigMap> config(Zido::UnitId unit) const;
  // The adjacency table's configuration and change log.
  Vesk::Ptr<ZaduLpmLib::AdjacencyConfigMap> adjacencyConfig() const;
  Vesk::Ptr<ZaduLpmLib::AdjacencyLogRing> adjacencyLog() const;
  // The needed entries of the table `tableId` (what each of its versions
  // needs of the other table).
  Vesk::Ptr<Zido::NeededEntryRing> neededEntries(Zido::SwTableId tableId) const;
  // The group's table versions, which the hardware side publishes.
  Vesk::Ptr<Zido::TableVersionMap> tableVersions() const;

 private:
  template <class Collection>
  Vesk::Ptr<Collection> mount(std::string const& entityPath, std::uint64_t capacity,
                              char const* typeName, char const* collectionName) const;

  std::string root_;
  std::string directory_;
};

}  // namespace ZaduRead
