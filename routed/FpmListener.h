// ZaduRouted FPM listener: the TCP server a routing suite's Forwarding Plane
// Manager connects to (FRR's zebra with dplane_fpm_nl), one connection at a
// time. Whoever connects programs the switch, so the address must be a
// loopback one unless `allowRemote`.
//
// A second connection while one is up is accepted and closed at once, with a
// log line naming its peer. Bytes read are cut into frames by an FpmStream
// and decoded into the daemon; lost framing drops the connection (the suite
// reconnects and replays). Each readiness reads at most a bounded amount,
// so that the event loop commits between reads. Nothing is sent back.
//
// Thread safety: the daemon's thread.
#pragma once

#include <netinet/in.h>

#include <memory>
#include <string>

#include "routed/FpmStream.h"
#include "routed/RouteDaemon.h"

namespace ZaduRouted {

// "A.B.C.D:PORT" into a socket address; raises std::invalid_argument with
// what is wrong.
sockaddr_in parseListenAddress(std::string const& text);

class FpmListener {
 public:
  // Binds and listens; raises std::system_error when it cannot, and
  // std::invalid_argument for a non-loopback address without `allowRemote`.
  FpmListener(RouteDaemon& daemon, sockaddr_in const& address, bool allowRemote);
  ~FpmListener();
  FpmListener(FpmListener const&) = delete;
  FpmListener& operator=(FpmListener const&) = delete;

  std::string const& address() const noexcept { return name_; }

 private:
  void acceptReady();
  void readReady();
  void drop(std::string const& why);

  RouteDaemon& daemon_;
  std::string name_;
  int listenFd_ = -1;
  int connectionFd_ = -1;
  std::string peer_;
  std::unique_ptr<FpmStream> stream_;
  std::unique_ptr<std::uint8_t[]> buffer_;
  Quor::EventLoop::TimerId retryTimer_ = 0;  // accepting again after running out of descriptors
};

}  // namespace ZaduRouted
