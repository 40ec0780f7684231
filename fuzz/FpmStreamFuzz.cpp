// The FPM stream, the netlink decoder and the FIB mirror over arbitrary
// bytes, as a hostile peer of the FPM port would send them: the first byte
// sets the size of the reads the bytes arrive in. Lost framing ends the
// stream; nothing else may stop it, and the mirror's routes must be what
// the target holds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>

#include "routed/FibMirror.h"
#include "routed/FpmStream.h"

namespace {

struct Target : ZaduRouted::FibMirror::Target {
  std::map<std::uint64_t, ZaduLpmLib::AdjacencyKey> held;
  void install(ZaduRouted::Prefix prefix, ZaduLpmLib::AdjacencyKey const& nextHop) override {
    if (!nextHop.valid()) {
      std::abort();
    }
    held[prefix.number()] = nextHop;
  }
  void withdraw(ZaduRouted::Prefix prefix) override { held.erase(prefix.number()); }
};

struct Feeder : ZaduRouted::MessageSink {
  explicit Feeder(ZaduRouted::FibMirror& mirror) : mirror(mirror) {}
  void routeChanged(ZaduRouted::RouteMessage const& route) override { mirror.apply(route); }
  void nextHopChanged(ZaduRouted::NextHopMessage const& nextHop) override { mirror.apply(nextHop); }
  ZaduRouted::FibMirror& mirror;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  std::size_t const readSize = 1 + data[0];
  Target target;
  ZaduRouted::FibMirror mirror(target, (data[0] & 1) != 0,
                               {.routeCapacity = 64, .objectCapacity = 16});
  Feeder feeder(mirror);
  ZaduRouted::DecodeCounts counts;
  ZaduRouted::FpmStream stream;
  for (std::size_t at = 1; at < size; at += readSize) {
    if (!stream.feed({data + at, std::min(readSize, size - at)}, feeder, counts)) {
      break;
    }
  }
  // A new resync that refreshes nothing sweeps everything: the target must
  // end empty, as the mirror does.
  mirror.beginResync();
  mirror.sweep();
  if (!target.held.empty() || mirror.routes() != 0) {
    std::abort();
  }
  return 0;
}
