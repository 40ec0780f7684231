// ZaduRouted FPM stream: cuts the byte stream of a Forwarding Plane Manager
// connection into frames and decodes the netlink messages each one carries.
//
// A frame is a 4-byte header followed by its messages:
//
//   byte 0     version, 1
//   byte 1     type, 1 for netlink
//   bytes 2-3  the frame's length in network byte order, header included
//
// so a frame holds at most 65,535 bytes. A frame of another type is counted
// and skipped (its length still says where the next begins). A version
// other than 1, or a length below 4, means the framing is lost: feed()
// returns false and the caller drops the connection, after which the
// routing suite reconnects and replays. Messages are decoded by
// decodeNetlink (NetlinkRoutes.h) from an aligned copy of the frame.
//
// Thread safety: one stream per connection, used by one thread.
// Cost: one copy of each frame; a frame split over reads is kept until its
// end arrives (at most 64 KiB).
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "routed/NetlinkRoutes.h"

namespace ZaduRouted {

struct FrameCounts {
  std::uint64_t frames = 0;
  std::uint64_t bytes = 0;
  std::uint64_t otherType = 0;  // frames that are not netlink, skipped
};

class FpmStream {
 public:
  static constexpr std::size_t headerSize = 4;
  static constexpr std::size_t maxFrameSize = 65535;
  static constexpr std::uint8_t version = 1;
  static constexpr std::uint8_t netlinkType = 1;

  // Decodes every frame that `bytes` completes; keeps a partial one. Returns
  // false when the framing is lost (and `problem` says why); the stream is
  // then of no further use.
  bool feed(std::span<std::uint8_t const> bytes, MessageSink& sink, DecodeCounts& counts);

  FrameCounts const& frameCounts() const noexcept { return frameCounts_; }
  char const* problem() const noexcept { return problem_; }
  // Bytes of a frame begun but not ended.
  std::size_t partial() const noexcept { return partial_.size(); }

 private:
  // The length of the frame whose header starts `bytes` (at least 4 bytes),
  // or 0 when the framing is lost.
  std::size_t frameLength(std::uint8_t const* header);
  void decodeFrame(std::span<std::uint8_t const> frame, MessageSink& sink, DecodeCounts& counts);

  std::vector<std::uint8_t> partial_;
  alignas(8) std::array<std::uint8_t, maxFrameSize> aligned_{};
  FrameCounts frameCounts_;
  char const* problem_ = "";
};

}  // namespace ZaduRouted
