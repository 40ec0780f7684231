// Vesk::Value: the dynamic value of the reflection interface.
//
// A Value is null, a bool, a signed or unsigned 64-bit integer, a double, a
// string, a counted reference to an entity, or a record (named fields, in
// order, each a Value). Reflection reads and writes attributes, passes
// operation arguments and results, and carries collection keys as Values;
// Vesk::Codec<T> converts between a C++ type and its Value.
//
// Making or destroying a Value needs the complete Vesk::Node (it may hold a
// counted reference): include Vesk/Node.h where Values are built.
//
// Numeric access is lenient where no information is lost: asUInt accepts a
// non-negative Int, asInt an UInt that fits, asDouble any integer. Anything
// else that does not match raises Vesk::TypeMismatchError naming what was
// expected and what was found.
#pragma once

#include <concepts>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "Vesk/Ptr.h"

namespace Vesk {

class Node;

class Value {
 public:
  enum class Kind : std::uint8_t { Null, Bool, Int, UInt, Double, String, Entity, Record };
  struct Field;
  using Record = std::vector<Field>;

  Value() noexcept;
  Value(std::nullptr_t) noexcept;
  Value(bool value) noexcept;
  template <std::integral Integer>
  requires(!std::same_as<Integer, bool>) Value(Integer value)
  noexcept {
    if constexpr (std::is_signed_v<Integer>) {
      storage_ = static_cast<std::int64_t>(value);
    } else {
      storage_ = static_cast<std::uint64_t>(value);
    }
  }
  Value(double value) noexcept;
  Value(std::string value) noexcept;
  Value(std::string_view value);
  Value(char const* value);
  Value(Ptr<Node> entity) noexcept;
  template <class T>
  requires std::convertible_to<T*, Node const*> Value(Ptr<T> const& entity)
  noexcept : Value(Ptr<Node>(const_cast<Node*>(static_cast<Node const*>(entity.get())))) {}
  Value(Record record) noexcept;

  Value(Value const& other);
  Value(Value&& other) noexcept;
  Value& operator=(Value const& other);
  Value& operator=(Value&& other) noexcept;
  ~Value();

  Kind kind() const noexcept { return static_cast<Kind>(storage_.index()); }
  bool isNull() const noexcept { return kind() == Kind::Null; }

  bool asBool() const;
  std::int64_t asInt() const;
  std::uint64_t asUInt() const;
  double asDouble() const;
  std::string const& asString() const;
  Ptr<Node> asEntity() const;  // null for a null Value
  Record const& asRecord() const;
  // The field `name` of a record.
  Value const& field(std::string_view name) const;

  // Text form: null, true, 42, 1.5, "text", the entity's type name and
  // address, or {name: value, ...}.
  std::string toString() const;
  static std::string_view kindName(Kind kind) noexcept;

  bool operator==(Value const& other) const;

 private:
  [[noreturn]] void mismatch(std::string_view expected) const;

  // A record is held through a shared, immutable pointer: Field is not
  // complete here, and copies of a record value share it.
  std::variant<std::monostate, bool, std::int64_t, std::uint64_t, double, std::string, Ptr<Node>,
               std::shared_ptr<Record const>>
      storage_;
};

struct Value::Field {
  std::string name;
  Value value;
  bool operator==(Field const& other) const = default;
};

}  // namespace Vesk
