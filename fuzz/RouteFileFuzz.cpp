// The client agent's route-file parser over arbitrary bytes: a route set or
// RouteFileError, nothing else.
#include <cstddef>
#include <cstdint>

#include "agent/Routes.h"
#include "fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size) {
  std::filesystem::path const path = ZaduFuzz::scratchDirectory() / "routes.txt";
  ZaduFuzz::writeFile(path, std::vector<std::uint8_t>(data, data + size));
  try {
    ZaduAgent::readRouteFile(path, 4);
  } catch (ZaduAgent::RouteFileError const&) {
    // A malformed file, named by file and line: the clear error expected.
  }
  return 0;
}
