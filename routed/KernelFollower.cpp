#include "routed/KernelFollower.h"

#include <libmnl/libmnl.h>
#include <linux/nexthop.h>
#include <linux/rtnetlink.h>
#include <sys/epoll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdio>
#include <system_error>

namespace ZaduRouted {

// Passes every message on to the daemon and sees the end of each dump.
class KernelFollower::DumpWatch final : public MessageSink {
 public:
  explicit DumpWatch(KernelFollower& follower) : follower_(follower) {}
  void routeChanged(RouteMessage const& route) override { follower_.daemon_.routeChanged(route); }
  void nextHopChanged(NextHopMessage const& nextHop) override {
    follower_.daemon_.nextHopChanged(nextHop);
  }
  void dumpEnded() override { follower_.dumpEnded(); }
  void interfaceLost(std::uint32_t) override {
    follower_.resyncSoon("the kernel's IPv4 main table, again after an interface went down");
  }

 private:
  KernelFollower& follower_;
};

namespace {

constexpr std::size_t bufferSize = 1 << 20;
constexpr int receiveBuffer = 32 * 1024 * 1024;

}  // namespace

KernelFollower::KernelFollower(RouteDaemon& daemon)
    : daemon_(daemon),
      watch_(std::make_unique<DumpWatch>(*this)),
      buffer_(new std::uint8_t[bufferSize]) {
  socket_ = mnl_socket_open2(NETLINK_ROUTE, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (socket_ == nullptr) {
    throw std::system_error(errno, std::generic_category(), "netlink socket");
  }
  fd_ = mnl_socket_get_fd(socket_);
  // A large buffer makes a lost notification rare; forcing it needs
  // CAP_NET_ADMIN, so fall back to what the limits allow.
  if (setsockopt(fd_, SOL_SOCKET, SO_RCVBUFFORCE, &receiveBuffer, sizeof receiveBuffer) != 0) {
    setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
  }
  if (mnl_socket_bind(socket_, RTMGRP_IPV4_ROUTE | RTMGRP_LINK | RTMGRP_IPV4_IFADDR,
                      MNL_SOCKET_AUTOPID) != 0) {
    int const error = errno;
    mnl_socket_close(socket_);
    throw std::system_error(error, std::generic_category(), "netlink bind");
  }
  int const group = RTNLGRP_NEXTHOP;
  setsockopt(fd_, SOL_NETLINK, NETLINK_ADD_MEMBERSHIP, &group, sizeof group);
  daemon_.eventLoop().fdIs(fd_, EPOLLIN, [this](std::uint32_t) { readReady(); });
  startResync("the kernel's IPv4 main table");
}

KernelFollower::~KernelFollower() {
  daemon_.eventLoop().fdDel(fd_);
  mnl_socket_close(socket_);
}

void KernelFollower::startResync(char const* why) {
  daemon_.sourceUp(why, true);
  dumping_ = Dumping::nextHops;
  ++dumps_;
  request(RTM_GETNEXTHOP);
}

void KernelFollower::request(std::uint16_t type) {
  alignas(8) char message[256] = {};
  nlmsghdr* const header = mnl_nlmsg_put_header(message);
  header->nlmsg_type = type;
  header->nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  header->nlmsg_seq = ++sequence_;
  if (type == RTM_GETNEXTHOP) {
    auto* const body = static_cast<nhmsg*>(mnl_nlmsg_put_extra_header(header, sizeof(nhmsg)));
    body->nh_family = AF_UNSPEC;
  } else {
    auto* const body = static_cast<rtmsg*>(mnl_nlmsg_put_extra_header(header, sizeof(rtmsg)));
    body->rtm_family = AF_INET;
  }
  if (mnl_socket_sendto(socket_, header, header->nlmsg_len) < 0) {
    throw std::system_error(errno, std::generic_category(), "netlink dump request");
  }
}

void KernelFollower::resyncSoon(char const* why) {
  if (dumping_ == Dumping::none) {
    startResync(why);
  } else {
    dumpAgain_ = true;  // after the dump in progress, which may have missed it
  }
}

void KernelFollower::dumpEnded() {
  if (dumping_ == Dumping::nextHops) {
    dumping_ = Dumping::routes;
    request(RTM_GETROUTE);
    return;
  }
  if (dumping_ == Dumping::routes) {
    dumping_ = Dumping::none;
    daemon_.dumpEnded();
    if (dumpAgain_) {
      dumpAgain_ = false;
      startResync("the kernel's IPv4 main table, again");
    }
  }
}

void KernelFollower::readReady() {
  for (int read = 0; read < 8; ++read) {
    ssize_t const got = mnl_socket_recvfrom(socket_, buffer_.get(), bufferSize);
    if (got < 0 && errno == ENOBUFS) {
      std::fprintf(stderr, "zadulpm-routed: kernel notifications were lost (ENOBUFS)\n");
      resyncSoon("the kernel's IPv4 main table, again after lost notifications");
      continue;
    }
    if (got <= 0) {
      return;  // EAGAIN: all read
    }
    decodeNetlink({buffer_.get(), static_cast<std::size_t>(got)}, *watch_, daemon_.decodeCounts());
    daemon_.batchEnded();
  }
}

}  // namespace ZaduRouted
