// The value types of the TCAM data model.
//
//   TcamDataModelEntryKey        an IPv4 prefix and its length; text form
//                                "10.1.0.0/16". Ordered by prefix, then length.
//                                valid() when the TCAM can hold it.
//   TcamDataModelEntryData       the logged part of an entry: what the hardware
//                                side needs to program the TCAM line.
//   TcamDataModelEntry           the logged part, then a trailing 32-bit field
//                                that the log does not keep.
//   TcamDataModelResourceKeys    the resources an entry holds: none for this
//                                table (an empty value).
//   TcamDataModelLogEntry        an entry as the log stores it: the logged part
//                                and the resource keys.
//
// Every type is trivially copyable with a fixed layout (padding is explicit
// and zero), since the logged part lives in shared memory.
#pragma once

#include <fmt/format.h>

#include <compare>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <type_traits>

#include "Pantry/SegmentFormat.h"
#include "Vesk/Exception.h"

namespace ZaduLpmLib {

// The mask of a prefix length (0 to 32).
constexpr std::uint32_t prefixMaskOf(std::uint8_t length) noexcept {
  return length == 0 ? 0u : ~std::uint32_t{0} << (32 - length);
}

struct TcamDataModelEntryKey {
  std::uint32_t prefix = 0;  // IPv4 address, host order
  std::uint8_t length = 0;   // prefix length, 0 to 32
  std::uint8_t reserved[3] = {};

  constexpr TcamDataModelEntryKey() noexcept = default;
  constexpr TcamDataModelEntryKey(std::uint32_t prefixValue, std::uint8_t lengthValue) noexcept
      : prefix(prefixValue), length(lengthValue) {}

  bool isEq(TcamDataModelEntryKey const& other) const noexcept { return *this == other; }
  // What keeps the TCAM from holding the key, or empty when it can: a length
  // up to 32 and no address bit set beyond the length (a line matches on the
  // masked address, so such a key would be a second name of its prefix).
  constexpr std::string_view fault() const noexcept {
    if (length > 32) {
      return "prefix length above 32";
    }
    if ((prefix & ~prefixMaskOf(length)) != 0) {
      return "host bits set below the prefix length";
    }
    return {};
  }
  constexpr bool valid() const noexcept { return fault().empty(); }
  // The same in every process and every run.
  std::uint64_t hash() const noexcept {
    return Pantry::Format::mix(0x4C504D, (std::uint64_t{prefix} << 8) | length);
  }
  constexpr bool operator==(TcamDataModelEntryKey const& other) const noexcept {
    return prefix == other.prefix && length == other.length;
  }
  constexpr std::strong_ordering operator<=>(TcamDataModelEntryKey const& other) const noexcept {
    if (auto const order = prefix <=> other.prefix; order != 0) {
      return order;
    }
    return length <=> other.length;
  }
};

// A key the TCAM cannot hold was given to an operation that writes it; the
// text is "10.1.0.1/16: host bits set below the prefix length".
class InvalidKeyError : public Vesk::Exception {
 public:
  using Exception::Exception;
};

// Raises InvalidKeyError naming `key` and its fault. REQUIRES: !key.valid().
[[noreturn]] void throwInvalidKey(TcamDataModelEntryKey const& key);

// Raises InvalidKeyError, naming the key and its fault, unless key.valid().
inline void requireValidKey(TcamDataModelEntryKey const& key) {
  if (!key.valid()) [[unlikely]] {
    throwInvalidKey(key);
  }
}

// What an action of a TCAM line does with a matching packet.
enum class TcamAction : std::uint8_t {
  forward = 0,  // to the adjacency
  drop = 1,
  trapToCpu = 2,
};

struct TcamDataModelEntryData {
  TcamDataModelEntryKey key;
  std::uint32_t adjacencyIndex = 0;  // the next-hop (adjacency) table index to forward to
  TcamAction action = TcamAction::forward;
  std::uint8_t classId = 0;  // route class, matched by later pipeline stages
  std::uint16_t reserved = 0;

  constexpr bool operator==(TcamDataModelEntryData const& other) const noexcept {
    return key == other.key && adjacencyIndex == other.adjacencyIndex && action == other.action &&
           classId == other.classId;
  }
};

struct TcamDataModelEntry {
  TcamDataModelEntryData data;
  // The client's own tag for the entry (for example the route's source); not
  // logged, so an entry rebuilt from the log has it zero.
  std::uint32_t clientCookie = 0;

  TcamDataModelEntryKey const& key() const noexcept { return data.key; }
  void keyIs(TcamDataModelEntryKey const& key) noexcept { data.key = key; }
  bool isEq(TcamDataModelEntry const& other) const noexcept { return *this == other; }
  constexpr bool operator==(TcamDataModelEntry const& other) const noexcept {
    return data == other.data && clientCookie == other.clientCookie;
  }
};

struct TcamDataModelResourceKeys {
  constexpr bool operator==(TcamDataModelResourceKeys const&) const noexcept = default;
};

struct TcamDataModelLogEntry {
  TcamDataModelEntryData entry;
  [[no_unique_address]] TcamDataModelResourceKeys rsrcKeys;

  bool isEq(TcamDataModelLogEntry const& other) const noexcept { return *this == other; }
  constexpr bool operator==(TcamDataModelLogEntry const& other) const noexcept = default;
};

static_assert(std::is_trivially_copyable_v<TcamDataModelEntryKey>);
static_assert(sizeof(TcamDataModelEntryKey) == 8);
static_assert(std::is_trivially_copyable_v<TcamDataModelEntryData>);
static_assert(sizeof(TcamDataModelEntryData) == 16);
static_assert(offsetof(TcamDataModelEntryData, adjacencyIndex) == 8);
static_assert(sizeof(TcamDataModelLogEntry) == 16);

}  // namespace ZaduLpmLib

template <>
struct fmt::formatter<ZaduLpmLib::TcamDataModelEntryKey> : fmt::formatter<std::string_view> {
  auto format(ZaduLpmLib::TcamDataModelEntryKey const& key, format_context& context) const {
    return fmt::format_to(context.out(), "{}.{}.{}.{}/{}", key.prefix >> 24,
                          (key.prefix >> 16) & 0xFF, (key.prefix >> 8) & 0xFF, key.prefix & 0xFF,
                          key.length);
  }
};

template <>
struct fmt::formatter<ZaduLpmLib::TcamDataModelEntryData> : fmt::formatter<std::string_view> {
  auto format(ZaduLpmLib::TcamDataModelEntryData const& data, format_context& context) const {
    return fmt::format_to(context.out(), "{{key: {}, adjacencyIndex: {}, action: {}, classId: {}}}",
                          data.key, data.adjacencyIndex, static_cast<unsigned>(data.action),
                          data.classId);
  }
};

template <>
struct fmt::formatter<ZaduLpmLib::TcamDataModelEntry> : fmt::formatter<std::string_view> {
  auto format(ZaduLpmLib::TcamDataModelEntry const& entry, format_context& context) const {
    return fmt::format_to(context.out(), "{{data: {}, clientCookie: {}}}", entry.data,
                          entry.clientCookie);
  }
};

template <>
struct fmt::formatter<ZaduLpmLib::TcamDataModelLogEntry> : fmt::formatter<std::string_view> {
  auto format(ZaduLpmLib::TcamDataModelLogEntry const& logEntry, format_context& context) const {
    return fmt::format_to(context.out(), "{{entry: {}, rsrcKeys: {{}}}}", logEntry.entry);
  }
};
