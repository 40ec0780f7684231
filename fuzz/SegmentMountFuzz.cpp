// Mounts a shared-memory file of hostile bytes as the configuration table or
// the change log, as their reader and as their writer, and uses it: every
// outcome but a clear exception (a refused or repaired mount, a detected
// corruption) is a fault.
//
// Input: [u8 mode][patches...] over a valid file holding a few records
// (FuzzInput.h), or with mode bit 2 set, the whole file is the bytes after
// the mode byte. Mode bit 0: the change log instead of the configuration
// table; bit 1: mount as the writer instead of a reader.
#include <cstddef>
#include <cstdint>

#include "Pantry/GuardedRead.h"
#include "Pantry/Segment.h"
#include "Vesk/Exception.h"
#include "ZaduLpmLib/TcamDataModelPantry.h"
#include "fuzz/FuzzTables.h"

namespace {

using ZaduLpmLib::TcamDataModelConfigMap;
using ZaduLpmLib::TcamDataModelConfigPantryEntry;
using ZaduLpmLib::TcamDataModelLogPantryEntry;
using ZaduLpmLib::TcamDataModelLogRing;

using ZaduFuzz::keyOf;
using ZaduFuzz::mount;

void useMap(TcamDataModelConfigMap& map, bool writer) {
  for (std::uint32_t n = 0; n < 8; ++n) {
    Pantry::guardedLookup(map, keyOf(n));
  }
  std::size_t walked = 0;
  Pantry::guardedWalk(map, &ZaduLpmLib::TcamDataModelConfigKeyOf::key,
                      [&](TcamDataModelConfigPantryEntry const&) { ++walked; });
  if (writer) {
    TcamDataModelConfigPantryEntry record;
    record.logEntry.entry.key = keyOf(3);
    record.logVersion = 9;
    map.insert(record);
    map.del(keyOf(5));
  }
}

void useRing(TcamDataModelLogRing& ring, bool writer) {
  std::size_t walked = 0;
  Pantry::guardedWalk(ring, &ZaduLpmLib::TcamDataModelLogKeyOf::key,
                      [&](TcamDataModelLogPantryEntry const&) { ++walked; });
  Pantry::guardedLookup(ring, ring.highKey());
  if (writer) {
    TcamDataModelLogPantryEntry record;
    record.version = ring.highKey() + 1;
    record.unitId = 0;
    ring.insert(record);
    if (ring.count() > 1) {
      ring.del(ring.lowKey());
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size) {
  // A slot left odd by the input is a writer that never finishes: give up at
  // once rather than after the patience meant for a live writer.
  Pantry::Segment::readerPatience = std::chrono::milliseconds(0);
  ZaduFuzz::FuzzInput input(data, size);
  std::uint8_t const mode = input.byte();
  bool const ring = (mode & 1) != 0;
  bool const writer = (mode & 2) != 0;
  std::vector<std::uint8_t> file;
  if ((mode & 4) != 0) {
    file = input.rest();
  } else {
    file = ring ? ZaduFuzz::validChangeLog() : ZaduFuzz::validConfigTable();
  }
  while (ZaduFuzz::applyPatch(input, file)) {
  }
  std::filesystem::path const path = ZaduFuzz::scratchDirectory() / "segment";
  std::filesystem::remove(path);
  ZaduFuzz::writeFile(path, file);
  try {
    if (ring) {
      useRing(*mount<TcamDataModelLogRing>(path, writer), writer);
    } else {
      useMap(*mount<TcamDataModelConfigMap>(path, writer), writer);
    }
  } catch (Vesk::Exception const&) {
    // A refused mount or a detected corruption: the clear error expected.
  }
  return 0;
}
