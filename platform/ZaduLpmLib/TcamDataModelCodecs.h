// Reflection codecs of the data model's value types, so that scripts and
// tools read and write keys and entries as records:
//   key    {prefix: uint, length: uint}, or the text "10.1.0.0/16"
//   entry  {key, adjacencyIndex, action, classId, clientCookie}
//   log entry {key, adjacencyIndex, action, classId}
//   entry version {counter, second}
// A record missing a field, a field out of range of its type, or malformed
// text raises Vesk::TypeMismatchError. A key decodes as written, a length
// above 32 or host bits included: reads find nothing under it, and writers
// refuse it (TcamDataModelEntryKey::valid).
#pragma once

#include "Vesk/Codec.h"
#include "ZaduLpmLib/TcamDataModelTypes.h"
#include "Zido/Identifiers.h"

namespace Vesk {

template <>
struct Codec<ZaduLpmLib::TcamDataModelEntryKey> {
  static std::string typeName() { return "TcamDataModelEntryKey"; }
  static Value encode(ZaduLpmLib::TcamDataModelEntryKey const& key);
  static ZaduLpmLib::TcamDataModelEntryKey decode(Value const& value);
};

template <>
struct Codec<ZaduLpmLib::TcamDataModelEntry> {
  static std::string typeName() { return "TcamDataModelEntry"; }
  static Value encode(ZaduLpmLib::TcamDataModelEntry const& entry);
  static ZaduLpmLib::TcamDataModelEntry decode(Value const& value);
};

template <>
struct Codec<ZaduLpmLib::TcamDataModelLogEntry> {
  static std::string typeName() { return "TcamDataModelLogEntry"; }
  static Value encode(ZaduLpmLib::TcamDataModelLogEntry const& logEntry);
  static ZaduLpmLib::TcamDataModelLogEntry decode(Value const& value);
};

template <>
struct Codec<ZaduLpmLib::TcamDataModelResourceKeys> {
  static std::string typeName() { return "TcamDataModelResourceKeys"; }
  static Value encode(ZaduLpmLib::TcamDataModelResourceKeys const&) { return Value::Record{}; }
  static ZaduLpmLib::TcamDataModelResourceKeys decode(Value const& value);
};

template <>
struct Codec<Zido::EntryVersion> {
  static std::string typeName() { return "EntryVersion"; }
  static Value encode(Zido::EntryVersion const& version);
  static Zido::EntryVersion decode(Value const& value);
};

}  // namespace Vesk
