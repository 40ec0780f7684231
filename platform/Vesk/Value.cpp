#include "Vesk/Value.h"

#include <fmt/format.h>

#include <limits>

#include "Vesk/Exception.h"
#include "Vesk/Node.h"
#include "Vesk/TypeData.h"

namespace Vesk {

Value::Value() noexcept = default;
Value::Value(std::nullptr_t) noexcept {}
Value::Value(bool value) noexcept : storage_(value) {}
Value::Value(double value) noexcept : storage_(value) {}
Value::Value(std::string value) noexcept : storage_(std::move(value)) {}
Value::Value(std::string_view value) : storage_(std::string(value)) {}
Value::Value(char const* value) : storage_(std::string(value)) {}
Value::Value(Ptr<Node> entity) noexcept {
  if (entity) {
    storage_ = std::move(entity);
  }
}
Value::Value(Record record) noexcept
    : storage_(std::make_shared<Record const>(std::move(record))) {}
Value::Value(Value const& other) = default;
Value::Value(Value&& other) noexcept = default;
Value& Value::operator=(Value const& other) = default;
Value& Value::operator=(Value&& other) noexcept = default;
Value::~Value() = default;

void Value::mismatch(std::string_view expected) const {
  throw TypeMismatchError(
      fmt::format("expected {}, got {} {}", expected, kindName(kind()), toString()));
}

bool Value::asBool() const {
  if (auto const* value = std::get_if<bool>(&storage_)) {
    return *value;
  }
  mismatch("bool");
}

std::int64_t Value::asInt() const {
  if (auto const* value = std::get_if<std::int64_t>(&storage_)) {
    return *value;
  }
  if (auto const* value = std::get_if<std::uint64_t>(&storage_)) {
    if (*value <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      return static_cast<std::int64_t>(*value);
    }
  }
  mismatch("signed integer");
}

std::uint64_t Value::asUInt() const {
  if (auto const* value = std::get_if<std::uint64_t>(&storage_)) {
    return *value;
  }
  if (auto const* value = std::get_if<std::int64_t>(&storage_)) {
    if (*value >= 0) {
      return static_cast<std::uint64_t>(*value);
    }
  }
  mismatch("unsigned integer");
}

double Value::asDouble() const {
  if (auto const* value = std::get_if<double>(&storage_)) {
    return *value;
  }
  if (auto const* value = std::get_if<std::int64_t>(&storage_)) {
    return static_cast<double>(*value);
  }
  if (auto const* value = std::get_if<std::uint64_t>(&storage_)) {
    return static_cast<double>(*value);
  }
  mismatch("number");
}

std::string const& Value::asString() const {
  if (auto const* value = std::get_if<std::string>(&storage_)) {
    return *value;
  }
  mismatch("string");
}

Ptr<Node> Value::asEntity() const {
  if (isNull()) {
    return nullptr;
  }
  if (auto const* value = std::get_if<Ptr<Node>>(&storage_)) {
    return *value;
  }
  mismatch("entity");
}

Value::Record const& Value::asRecord() const {
  if (auto const* value = std::get_if<std::shared_ptr<Record const>>(&storage_)) {
    return **value;
  }
  mismatch("record");
}

Value const& Value::field(std::string_view name) const {
  for (Field const& field : asRecord()) {
    if (field.name == name) {
      return field.value;
    }
  }
  throw TypeMismatchError(fmt::format("record {} has no field '{}'", toString(), name));
}

std::string Value::toString() const {
  struct Printer {
    std::string operator()(std::monostate) const { return "null"; }
    std::string operator()(bool value) const { return value ? "true" : "false"; }
    std::string operator()(std::int64_t value) const { return fmt::format("{}", value); }
    std::string operator()(std::uint64_t value) const { return fmt::format("{}", value); }
    std::string operator()(double value) const { return fmt::format("{}", value); }
    std::string operator()(std::string const& value) const { return fmt::format("\"{}\"", value); }
    std::string operator()(Ptr<Node> const& value) const {
      return fmt::format("<{} at {}>", value->typeData().name(),
                         static_cast<void const*>(value.get()));
    }
    std::string operator()(std::shared_ptr<Record const> const& record) const {
      std::string text = "{";
      for (Field const& field : *record) {
        text += fmt::format("{}{}: {}", text.size() > 1 ? ", " : "", field.name,
                            field.value.toString());
      }
      return text + "}";
    }
  };
  return std::visit(Printer{}, storage_);
}

std::string_view Value::kindName(Kind kind) noexcept {
  switch (kind) {
    case Kind::Null:
      return "null";
    case Kind::Bool:
      return "bool";
    case Kind::Int:
      return "signed integer";
    case Kind::UInt:
      return "unsigned integer";
    case Kind::Double:
      return "double";
    case Kind::String:
      return "string";
    case Kind::Entity:
      return "entity";
    case Kind::Record:
      return "record";
  }
  return "unknown";
}

bool Value::operator==(Value const& other) const {
  if ((kind() == Kind::Int || kind() == Kind::UInt) &&
      (other.kind() == Kind::Int || other.kind() == Kind::UInt) && kind() != other.kind()) {
    // 5 and 5u are the same number.
    std::int64_t const signedValue = kind() == Kind::Int ? std::get<std::int64_t>(storage_)
                                                         : std::get<std::int64_t>(other.storage_);
    std::uint64_t const unsignedValue = kind() == Kind::UInt
                                            ? std::get<std::uint64_t>(storage_)
                                            : std::get<std::uint64_t>(other.storage_);
    return signedValue >= 0 && static_cast<std::uint64_t>(signedValue) == unsignedValue;
  }
  if (kind() == Kind::Record && other.kind() == Kind::Record) {
    return asRecord() == other.asRecord();
  }
  return storage_ == other.storage_;
}

}  // namespace Vesk
