#include "routed/FpmStream.h"

#include <algorithm>
#include <cstring>

namespace ZaduRouted {

std::size_t FpmStream::frameLength(std::uint8_t const* header) {
  if (header[0] != version) {
    problem_ = "a frame of another version than 1";
    return 0;
  }
  std::size_t const length = (std::size_t{header[2]} << 8) | header[3];
  if (length < headerSize) {
    problem_ = "a frame length below its header's 4 bytes";
    return 0;
  }
  return length;
}

void FpmStream::decodeFrame(std::span<std::uint8_t const> frame, MessageSink& sink,
                            DecodeCounts& counts) {
  ++frameCounts_.frames;
  frameCounts_.bytes += frame.size();
  if (frame[1] != netlinkType) {
    ++frameCounts_.otherType;
    return;
  }
  std::size_t const size = frame.size() - headerSize;
  std::memcpy(aligned_.data(), frame.data() + headerSize, size);
  decodeNetlink({aligned_.data(), size}, sink, counts);
}

bool FpmStream::feed(std::span<std::uint8_t const> bytes, MessageSink& sink, DecodeCounts& counts) {
  // First finish the frame an earlier read began.
  while (!partial_.empty() && !bytes.empty()) {
    if (partial_.size() < headerSize) {
      std::size_t const take = std::min(headerSize - partial_.size(), bytes.size());
      partial_.insert(partial_.end(), bytes.begin(), bytes.begin() + take);
      bytes = bytes.subspan(take);
      continue;
    }
    std::size_t const length = frameLength(partial_.data());
    if (length == 0) {
      return false;
    }
    std::size_t const take = std::min(length - partial_.size(), bytes.size());
    partial_.insert(partial_.end(), bytes.begin(), bytes.begin() + take);
    bytes = bytes.subspan(take);
    if (partial_.size() == length) {
      decodeFrame(partial_, sink, counts);
      partial_.clear();
    }
  }
  if (partial_.size() >= headerSize && frameLength(partial_.data()) == 0) {
    return false;
  }
  // Then every whole frame in place.
  while (bytes.size() >= headerSize) {
    std::size_t const length = frameLength(bytes.data());
    if (length == 0) {
      return false;
    }
    if (length > bytes.size()) {
      break;
    }
    decodeFrame(bytes.first(length), sink, counts);
    bytes = bytes.subspan(length);
  }
  partial_.insert(partial_.end(), bytes.begin(), bytes.end());
  return true;
}

}  // namespace ZaduRouted
