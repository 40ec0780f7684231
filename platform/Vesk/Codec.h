// Vesk::Codec<T>: conversion between a C++ type and its dynamic Value.
//
// A codec provides
//   static std::string typeName();          // shown in reflection errors
//   static Value encode(T const& value);
//   static T decode(Value const& value);    // throws Vesk::TypeMismatchError
// The runtime registers codecs for bool, the integer types, the floating
// point types, strings, counted references to entities, plain entity pointers
// and Value itself. A value type of the data model registers its own by
// specialising Codec (usually as a record of its fields).
#pragma once

#include <fmt/format.h>

#include <concepts>
#include <cstdint>
#include <limits>
#include <string>
#include <type_traits>

#include "Vesk/Exception.h"
#include "Vesk/Ptr.h"
#include "Vesk/TypeData.h"
#include "Vesk/Value.h"

namespace Vesk {

class Node;

template <class T, class Enable = void>
struct Codec;

template <>
struct Codec<Value> {
  static std::string typeName() { return "value"; }
  static Value encode(Value const& value) { return value; }
  static Value decode(Value const& value) { return value; }
};

template <>
struct Codec<bool> {
  static std::string typeName() { return "bool"; }
  static Value encode(bool value) { return Value(value); }
  static bool decode(Value const& value) { return value.asBool(); }
};

template <std::integral Integer>
requires(!std::same_as<Integer, bool>) struct Codec<Integer> {
  static std::string typeName() {
    return fmt::format("{}int{}", std::is_signed_v<Integer> ? "" : "u", 8 * sizeof(Integer));
  }
  static Value encode(Integer value) { return Value(value); }
  static Integer decode(Value const& value) {
    if constexpr (std::is_signed_v<Integer>) {
      std::int64_t const wide = value.asInt();
      if (wide < std::numeric_limits<Integer>::min() ||
          wide > std::numeric_limits<Integer>::max()) {
        outOfRange(value);
      }
      return static_cast<Integer>(wide);
    } else {
      std::uint64_t const wide = value.asUInt();
      if (wide > std::numeric_limits<Integer>::max()) {
        outOfRange(value);
      }
      return static_cast<Integer>(wide);
    }
  }

 private:
  [[noreturn]] static void outOfRange(Value const& value) {
    throw TypeMismatchError(fmt::format("value {} does not fit {}", value.toString(), typeName()));
  }
};

template <std::floating_point Real>
struct Codec<Real> {
  static std::string typeName() { return "double"; }
  static Value encode(Real value) { return Value(static_cast<double>(value)); }
  static Real decode(Value const& value) { return static_cast<Real>(value.asDouble()); }
};

template <>
struct Codec<std::string> {
  static std::string typeName() { return "string"; }
  static Value encode(std::string const& value) { return Value(value); }
  static std::string decode(Value const& value) { return value.asString(); }
};

namespace detail {
// The reflection name of an entity class.
template <class T>
std::string entityTypeName() {
  return std::string(std::remove_const_t<T>::staticTypeData().name());
}
}  // namespace detail

template <class T>
requires std::convertible_to<T*, Node const*>
struct Codec<Ptr<T>> {
  static std::string typeName() { return detail::entityTypeName<T>(); }
  static Value encode(Ptr<T> const& value) { return Value(value); }
  static Ptr<T> decode(Value const& value) {
    Ptr<Node> entity = value.asEntity();
    if (!entity) {
      return nullptr;
    }
    auto* typed = dynamic_cast<std::remove_const_t<T>*>(entity.get());
    if (typed == nullptr) {
      throw TypeMismatchError(
          fmt::format("expected entity {}, got {}", typeName(), value.toString()));
    }
    return Ptr<T>(typed);
  }
};

template <class T>
requires std::convertible_to<T*, Node const*>
struct Codec<T*> {
  static std::string typeName() { return detail::entityTypeName<T>(); }
  static Value encode(T* value) { return Value(Ptr<T>(value)); }
  static T* decode(Value const& value) { return Codec<Ptr<T>>::decode(value).get(); }
};

}  // namespace Vesk
