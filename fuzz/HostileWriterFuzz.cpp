// A reader of the configuration table (as the zadulpm command and the
// hardware side read it) follows a file that a hostile writer changes under
// it between its reads: lookups and walk steps must end, never read outside
// the mapping, and report damage only as a detected corruption.
//
// Input: repeated [u8 step][patch] (FuzzInput.h): the step picks the read
// (lookup of key step % 8, or one walk step), then the patch changes the
// file under the mounted reader.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <optional>

#include "Pantry/Segment.h"
#include "Vesk/Exception.h"
#include "ZaduLpmLib/TcamDataModelPantry.h"
#include "fuzz/FuzzTables.h"

using ZaduFuzz::keyOf;
using ZaduLpmLib::TcamDataModelConfigMap;
using ZaduLpmLib::TcamDataModelConfigPantryEntry;

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size) {
  // A slot left odd by the input is a writer that never finishes: give up at
  // once rather than after the patience meant for a live writer.
  Pantry::Segment::readerPatience = std::chrono::milliseconds(0);
  // Each input follows a copy of the valid table.
  std::vector<std::uint8_t> const& valid = ZaduFuzz::validConfigTable();
  std::filesystem::path const path = ZaduFuzz::scratchDirectory() / "followed";
  ZaduFuzz::writeFile(path, valid);
  Vesk::Ptr<TcamDataModelConfigMap> const reader =
      ZaduFuzz::mount<TcamDataModelConfigMap>(path, false);
  // The hostile writer's view of the same file.
  std::vector<std::uint8_t> const& file = valid;
  int const descriptor = ::open(path.c_str(), O_RDWR);
  void* const mapping =
      mmap(nullptr, file.size(), PROT_READ | PROT_WRITE, MAP_SHARED, descriptor, 0);
  ::close(descriptor);
  auto* const bytes = static_cast<std::uint8_t*>(mapping);

  ZaduFuzz::FuzzInput input(data, size);
  std::optional<TcamDataModelConfigPantryEntry> walked;
  while (!input.empty()) {
    std::uint8_t const step = input.byte();
    try {
      if ((step & 0x80) != 0) {
        walked = walked ? reader->nextAfter(walked->key()) : reader->first();
      } else {
        reader->lookup(keyOf(step % 8));
      }
    } catch (Vesk::CorruptionDetectedException const&) {
      walked.reset();
    }
    std::vector<std::uint8_t> before(bytes, bytes + file.size());
    if (ZaduFuzz::applyPatch(input, before)) {
      std::memcpy(bytes, before.data(), before.size());
    }
  }
  munmap(mapping, file.size());
  return 0;
}
