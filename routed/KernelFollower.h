// ZaduRouted kernel follower: the IPv4 main table of the daemon's network
// namespace as the kernel reports it over rtnetlink, so that any routing
// suite that programs the kernel (FRR, BIRD, `ip route`) drives the table.
//
// It joins the IPv4 route and next-hop notification groups, then dumps the
// next-hop objects and the IPv4 routes (one dump at a time, as netlink
// allows on one socket); the end of the route dump ends the resync and the
// daemon sweeps what it did not refresh. A lost notification (ENOBUFS: the
// socket's buffer overflowed), and an interface that goes down or away or
// loses an IPv4 address (the kernel then drops its routes without a
// notification for each), start a new resync and dump, after the one in
// progress when there is one. Notifications that arrive during a dump are
// applied in the order they are read.
//
// Thread safety: the daemon's thread.
#pragma once

#include <cstdint>
#include <memory>

#include "routed/RouteDaemon.h"

struct mnl_socket;

namespace ZaduRouted {

class KernelFollower {
 public:
  // Raises std::system_error when the netlink socket cannot be made.
  explicit KernelFollower(RouteDaemon& daemon);
  ~KernelFollower();
  KernelFollower(KernelFollower const&) = delete;
  KernelFollower& operator=(KernelFollower const&) = delete;

  std::uint64_t dumps() const noexcept { return dumps_; }

 private:
  class DumpWatch;
  enum class Dumping { none, nextHops, routes };

  void startResync(char const* why);
  // A new dump now, or after the one in progress.
  void resyncSoon(char const* why);
  void request(std::uint16_t type);
  void readReady();
  void dumpEnded();

  RouteDaemon& daemon_;
  mnl_socket* socket_ = nullptr;
  int fd_ = -1;
  std::uint32_t sequence_ = 0;
  Dumping dumping_ = Dumping::none;
  bool dumpAgain_ = false;
  std::uint64_t dumps_ = 0;
  std::unique_ptr<DumpWatch> watch_;
  std::unique_ptr<std::uint8_t[]> buffer_;
};

}  // namespace ZaduRouted
