#include "ZaduLpmLib/TcamDataModelCodecs.h"

#include <charconv>

#include "Vesk/Node.h"

namespace Vesk {

namespace {

using ZaduLpmLib::TcamDataModelEntry;
using ZaduLpmLib::TcamDataModelEntryData;
using ZaduLpmLib::TcamDataModelEntryKey;

template <class T>
T field(Value const& record, std::string_view name) {
  return Codec<T>::decode(record.field(name));
}

// "a.b.c.d/len" to a key, as written: whether the TCAM can hold it is for
// the writers to check (TcamDataModelEntryKey::valid).
TcamDataModelEntryKey keyFromText(std::string const& text) {
  std::uint32_t prefix = 0;
  char const* at = text.data();
  char const* const end = text.data() + text.size();
  for (int octet = 0; octet < 4; ++octet) {
    unsigned value = 0;
    auto const [next, error] = std::from_chars(at, end, value);
    char const expected = octet < 3 ? '.' : '/';
    if (error != std::errc() || value > 255 || next == end || *next != expected) {
      throw TypeMismatchError(fmt::format("'{}' is not a prefix such as 10.1.0.0/16", text));
    }
    prefix = prefix << 8 | value;
    at = next + 1;
  }
  unsigned length = 0;
  auto const [next, error] = std::from_chars(at, end, length);
  if (error != std::errc() || next != end || length > 255) {
    throw TypeMismatchError(fmt::format("'{}' is not a prefix such as 10.1.0.0/16", text));
  }
  return TcamDataModelEntryKey(prefix, static_cast<std::uint8_t>(length));
}

Value::Record dataFields(TcamDataModelEntryData const& data) {
  return Value::Record{{"key", Codec<TcamDataModelEntryKey>::encode(data.key)},
                       {"adjacencyIndex", Value(data.adjacencyIndex)},
                       {"action", Value(static_cast<std::uint32_t>(data.action))},
                       {"classId", Value(data.classId)}};
}

TcamDataModelEntryData dataFrom(Value const& value) {
  TcamDataModelEntryData data;
  data.key = field<TcamDataModelEntryKey>(value, "key");
  data.adjacencyIndex = field<std::uint32_t>(value, "adjacencyIndex");
  std::uint8_t const action = field<std::uint8_t>(value, "action");
  if (action > static_cast<std::uint8_t>(ZaduLpmLib::TcamAction::trapToCpu)) {
    throw TypeMismatchError(
        fmt::format("action {} is not 0 (forward), 1 (drop) or 2 (trap)", action));
  }
  data.action = static_cast<ZaduLpmLib::TcamAction>(action);
  data.classId = field<std::uint8_t>(value, "classId");
  return data;
}

}  // namespace

Value Codec<TcamDataModelEntryKey>::encode(TcamDataModelEntryKey const& key) {
  return Value::Record{{"prefix", Value(key.prefix)}, {"length", Value(key.length)}};
}

TcamDataModelEntryKey Codec<TcamDataModelEntryKey>::decode(Value const& value) {
  if (value.kind() == Value::Kind::String) {
    return keyFromText(value.asString());
  }
  return TcamDataModelEntryKey(field<std::uint32_t>(value, "prefix"),
                               field<std::uint8_t>(value, "length"));
}

Value Codec<TcamDataModelEntry>::encode(TcamDataModelEntry const& entry) {
  Value::Record fields = dataFields(entry.data);
  fields.push_back({"clientCookie", Value(entry.clientCookie)});
  return fields;
}

TcamDataModelEntry Codec<TcamDataModelEntry>::decode(Value const& value) {
  TcamDataModelEntry entry;
  entry.data = dataFrom(value);
  entry.clientCookie = field<std::uint32_t>(value, "clientCookie");
  return entry;
}

Value Codec<ZaduLpmLib::TcamDataModelLogEntry>::encode(
    ZaduLpmLib::TcamDataModelLogEntry const& logEntry) {
  return dataFields(logEntry.entry);
}

ZaduLpmLib::TcamDataModelLogEntry Codec<ZaduLpmLib::TcamDataModelLogEntry>::decode(
    Value const& value) {
  return ZaduLpmLib::TcamDataModelLogEntry{dataFrom(value), {}};
}

ZaduLpmLib::TcamDataModelResourceKeys Codec<ZaduLpmLib::TcamDataModelResourceKeys>::decode(
    Value const& value) {
  if (!value.isNull() && !value.asRecord().empty()) {
    throw TypeMismatchError("resource keys of this table are empty");
  }
  return {};
}

Value Codec<Zido::EntryVersion>::encode(Zido::EntryVersion const& version) {
  return Value::Record{{"counter", Value(version.counter())}, {"second", Value(version.second())}};
}

Zido::EntryVersion Codec<Zido::EntryVersion>::decode(Value const& value) {
  return Zido::EntryVersion(field<std::uint64_t>(value, "counter"),
                            field<std::uint16_t>(value, "second"));
}

}  // namespace Vesk
