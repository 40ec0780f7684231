// The Rapidlog trace-file decoder (zadulpm trace) over a damaged or
// arbitrary file: records or DecodeError, nothing else.
//
// Input: [u8 mode][patches...] over a valid trace file holding a few
// records (FuzzInput.h), or with mode bit 0 set, the whole file is the
// bytes after the mode byte.
#include <cstddef>
#include <cstdint>

#include "Rapidlog/RapidlogHandle.h"
#include "Rapidlog/TraceFileReader.h"
#include "fuzz/FuzzInput.h"

namespace {

constexpr Rapidlog::MessageDescriptor message{"fuzz.cpp", "Fuzz", "write", "key {} version {}",
                                              "il"};

std::vector<std::uint8_t> const& validFile() {
  static std::vector<std::uint8_t> const bytes = [] {
    std::filesystem::path const path = ZaduFuzz::scratchDirectory() / "trace-template";
    {
      Rapidlog::RapidlogHandle handle(path, 1024, 1024);
      for (std::uint32_t n = 0; n < 20; ++n) {
        handle.record(message, n, std::uint64_t{n} * 7);
      }
    }
    return ZaduFuzz::readFile(path);
  }();
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size) {
  ZaduFuzz::FuzzInput input(data, size);
  std::uint8_t const mode = input.byte();
  std::vector<std::uint8_t> file = (mode & 1) != 0 ? input.rest() : validFile();
  while (ZaduFuzz::applyPatch(input, file)) {
  }
  std::filesystem::path const path = ZaduFuzz::scratchDirectory() / "trace";
  ZaduFuzz::writeFile(path, file);
  try {
    Rapidlog::readTraceFile(path);
  } catch (Rapidlog::DecodeError const&) {
    // A damaged file: the clear error expected.
  }
  return 0;
}
