// ZaduLpmLib IPv4 text: dotted-quad addresses and A.B.C.D/LEN prefixes, as
// operators write them and the tools print them.
#pragma once

#include <fmt/format.h>

#include <charconv>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "ZaduLpmLib/TcamDataModelTypes.h"

namespace ZaduLpmLib {

inline std::string formatIpv4(std::uint32_t address) {
  return fmt::format("{}.{}.{}.{}", address >> 24, (address >> 16) & 0xFF, (address >> 8) & 0xFF,
                     address & 0xFF);
}

// "A.B.C.D", each part 0 to 255; nothing when the text is no address.
inline std::optional<std::uint32_t> parseIpv4(std::string_view text) {
  std::uint32_t address = 0;
  for (int part = 0; part < 4; ++part) {
    unsigned value = 0;
    auto const [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end == text.data() || value > 255) {
      return std::nullopt;
    }
    address = (address << 8) | value;
    text.remove_prefix(static_cast<std::size_t>(end - text.data()));
    if (part < 3) {
      if (text.empty() || text.front() != '.') {
        return std::nullopt;
      }
      text.remove_prefix(1);
    }
  }
  if (!text.empty()) {
    return std::nullopt;
  }
  return address;
}

// "A.B.C.D/LEN" with LEN 0 to 32 and no host bits; nothing otherwise.
inline std::optional<TcamDataModelEntryKey> parsePrefix(std::string_view text) {
  std::size_t const slash = text.find('/');
  if (slash == std::string_view::npos) {
    return std::nullopt;
  }
  auto const address = parseIpv4(text.substr(0, slash));
  std::string_view const lengthText = text.substr(slash + 1);
  unsigned length = 0;
  auto const [end, error] =
      std::from_chars(lengthText.data(), lengthText.data() + lengthText.size(), length);
  if (!address || error != std::errc() || end != lengthText.data() + lengthText.size() ||
      length > 32) {
    return std::nullopt;
  }
  TcamDataModelEntryKey const key(*address, static_cast<std::uint8_t>(length));
  if (!key.valid()) {
    return std::nullopt;
  }
  return key;
}

}  // namespace ZaduLpmLib
