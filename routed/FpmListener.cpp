#include "routed/FpmListener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <system_error>

#include "ZaduLpmLib/Ipv4Text.h"

namespace ZaduRouted {
namespace {

constexpr std::size_t readSize = 256 * 1024;
constexpr int readsPerTurn = 4;  // then the loop commits what was read
constexpr int receiveBuffer = 8 * 1024 * 1024;

std::string nameOf(sockaddr_in const& address) {
  return ZaduLpmLib::formatIpv4(ntohl(address.sin_addr.s_addr)) + ":" +
         std::to_string(ntohs(address.sin_port));
}

}  // namespace

sockaddr_in parseListenAddress(std::string const& text) {
  std::size_t const colon = text.rfind(':');
  if (colon == std::string::npos) {
    throw std::invalid_argument("'" + text + "' is not ADDRESS:PORT");
  }
  std::optional<std::uint32_t> const address = ZaduLpmLib::parseIpv4(text.substr(0, colon));
  unsigned port = 0;
  char const* const first = text.data() + colon + 1;
  char const* const last = text.data() + text.size();
  auto const [end, error] = std::from_chars(first, last, port);
  if (!address || error != std::errc() || end != last || first == last || port > 65535) {
    throw std::invalid_argument("'" + text + "' is not an IPv4 ADDRESS:PORT");
  }
  sockaddr_in result{};
  result.sin_family = AF_INET;
  result.sin_addr.s_addr = htonl(*address);
  result.sin_port = htons(static_cast<std::uint16_t>(port));
  return result;
}

FpmListener::FpmListener(RouteDaemon& daemon, sockaddr_in const& address, bool allowRemote)
    : daemon_(daemon), name_(nameOf(address)), buffer_(new std::uint8_t[readSize]) {
  if (!allowRemote && (ntohl(address.sin_addr.s_addr) >> 24) != 127) {
    throw std::invalid_argument("FPM address " + name_ +
                                " is not a loopback address: whoever connects programs the "
                                "switch (pass --allow-remote to listen there anyway)");
  }
  listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) {
    throw std::system_error(errno, std::generic_category(), "socket");
  }
  int const on = 1;
  setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (bind(listenFd_, reinterpret_cast<sockaddr const*>(&address), sizeof address) != 0 ||
      listen(listenFd_, 4) != 0) {
    int const error = errno;
    close(listenFd_);
    throw std::system_error(error, std::generic_category(), "cannot listen on " + name_);
  }
  daemon_.eventLoop().fdIs(listenFd_, EPOLLIN, [this](std::uint32_t) { acceptReady(); });
  std::fprintf(stderr, "zadulpm-routed: listening for FPM on %s\n", name_.c_str());
}

FpmListener::~FpmListener() {
  if (retryTimer_ != 0) {
    daemon_.eventLoop().timerDel(retryTimer_);
  }
  if (connectionFd_ >= 0) {
    daemon_.eventLoop().fdDel(connectionFd_);
    close(connectionFd_);
  }
  daemon_.eventLoop().fdDel(listenFd_);
  close(listenFd_);
}

void FpmListener::acceptReady() {
  sockaddr_in peer{};
  socklen_t size = sizeof peer;
  int const fd =
      accept4(listenFd_, reinterpret_cast<sockaddr*>(&peer), &size, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) {
    if (errno == EMFILE || errno == ENFILE) {
      // Out of descriptors: the pending connection would wake the loop at
      // once, again and again; look again in a second.
      std::fprintf(stderr, "zadulpm-routed: cannot take an FPM connection: %s\n",
                   std::strerror(errno));
      daemon_.eventLoop().fdDel(listenFd_);
      retryTimer_ = daemon_.eventLoop().timerIs(std::chrono::seconds(1), [this] {
        retryTimer_ = 0;
        daemon_.eventLoop().fdIs(listenFd_, EPOLLIN, [this](std::uint32_t) { acceptReady(); });
      });
    }
    return;  // otherwise gone before it was taken
  }
  if (connectionFd_ >= 0) {
    std::fprintf(stderr,
                 "zadulpm-routed: refused an FPM connection from %s: %s is connected (one at a "
                 "time)\n",
                 nameOf(peer).c_str(), peer_.c_str());
    close(fd);
    return;
  }
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
  connectionFd_ = fd;
  peer_ = nameOf(peer);
  stream_ = std::make_unique<FpmStream>();
  daemon_.eventLoop().fdIs(fd, EPOLLIN, [this](std::uint32_t) { readReady(); });
  daemon_.sourceUp("FPM connection from " + peer_, false);
}

void FpmListener::readReady() {
  for (int read = 0; read < readsPerTurn; ++read) {
    ssize_t const got = recv(connectionFd_, buffer_.get(), readSize, 0);
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) {
      return;
    }
    if (got <= 0) {
      drop(got == 0 ? "closed" : std::strerror(errno));
      return;
    }
    bool const framed = stream_->feed({buffer_.get(), static_cast<std::size_t>(got)}, daemon_,
                                      daemon_.decodeCounts());
    daemon_.batchEnded();
    if (!framed) {
      drop(std::string("framing lost: ") + stream_->problem());
      return;
    }
    if (static_cast<std::size_t>(got) < readSize) {
      return;
    }
  }
}

void FpmListener::drop(std::string const& why) {
  FrameCounts const counts = stream_->frameCounts();
  daemon_.eventLoop().fdDel(connectionFd_);
  close(connectionFd_);
  connectionFd_ = -1;
  daemon_.sourceDown("FPM connection from " + peer_ + " ended (" + why + ") after " +
                     std::to_string(counts.frames) + " frames, " + std::to_string(counts.bytes) +
                     " bytes");
  stream_.reset();
}

}  // namespace ZaduRouted
