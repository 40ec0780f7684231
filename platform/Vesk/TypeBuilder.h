// Vesk::TypeBuilder<T>: builds and registers the reflection record of entity
// class T.
//
//   TypeData const& Foo::staticTypeData() {
//     static TypeData const& type =
//         TypeBuilder<Foo>("Ns::Foo", &Base::staticTypeData())
//             .attribute("count", &Foo::count, &Foo::countIs)
//             .attribute("tableId", &Foo::tableId)              // read-only
//             .collection<Key, Member>("members", {.lookup = ..., .count = ...})
//             .operation("commit", &Foo::commit)
//             .creator("FooIs", &fooFactory)
//             .done();
//     return type;
//   }
//
// Getters, setters and operations may be member function pointers, data
// member pointers (getters), or callables whose first parameter is the object.
// Class operations and creators are callables without an object. Every
// parameter and result type needs a Vesk::Codec. Arguments are decoded in
// order; a decoding failure raises ReflectionError naming the class, the
// member and the argument's position and type.
#pragma once

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <functional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "Vesk/Codec.h"
#include "Vesk/Exception.h"
#include "Vesk/TypeData.h"

namespace Vesk {

// The operations a collection attribute offers to reflection; leave a field
// empty for an operation the collection does not offer.
template <class T, class Key, class Member>
struct CollectionBinding {
  std::function<Member(T const&, Key const&)> lookup{};
  std::function<bool(T const&, Key const&)> has{};
  std::function<std::size_t(T const&)> count{};
  std::function<void(T const&, std::function<bool(Key const&, Member const&)> const&)> forEach{};
  std::function<void(T&, Member const&)> insert{};
  std::function<void(T&, Key const&, Member const&)> insertAt{};
  std::function<Member(T&, Key const&)> del{};
  std::function<void(T&)> delAll{};
};

namespace detail {

template <class R, class... A>
struct Signature {
  using Result = R;
  using Parameters = std::tuple<A...>;
};

// Signature of a member function pointer, without the object.
template <class M>
struct MemberSignature;
template <class R, class C, class... A>
struct MemberSignature<R (C::*)(A...)> : Signature<R, A...> {};
template <class R, class C, class... A>
struct MemberSignature<R (C::*)(A...) const> : Signature<R, A...> {};
template <class R, class C, class... A>
struct MemberSignature<R (C::*)(A...) noexcept> : Signature<R, A...> {};
template <class R, class C, class... A>
struct MemberSignature<R (C::*)(A...) const noexcept> : Signature<R, A...> {};

// Signature of a plain callable (function pointer or lambda), all parameters.
template <class F>
struct CallableSignature : MemberSignature<decltype(&F::operator())> {};
template <class R, class... A>
struct CallableSignature<R (*)(A...)> : Signature<R, A...> {};
template <class R, class... A>
struct CallableSignature<R (*)(A...) noexcept> : Signature<R, A...> {};

template <class Tuple>
struct DropFirst;
template <class First, class... Rest>
struct DropFirst<std::tuple<First, Rest...>> {
  using type = std::tuple<Rest...>;
};

// The parameters a reflection caller passes: all of a member function's, all
// but the object of a callable's when `withObject`.
template <class F, bool withObject>
struct CallParameters {
  using Signature = std::conditional_t<std::is_member_function_pointer_v<F>, MemberSignature<F>,
                                       CallableSignature<F>>;
  using Result = typename Signature::Result;
  using Type =
      typename std::conditional_t<withObject && !std::is_member_function_pointer_v<F>,
                                  DropFirst<typename Signature::Parameters>,
                                  std::type_identity<typename Signature::Parameters>>::type;
};

template <class T>
using Stored = std::remove_cvref_t<T>;

template <class T>
std::string codecName() {
  if constexpr (std::is_void_v<T>) {
    return "void";
  } else {
    return Codec<Stored<T>>::typeName();
  }
}

template <class T>
Stored<T> decode(std::string_view typeName, std::string_view member, std::string_view what,
                 Value const& value) {
  try {
    return Codec<Stored<T>>::decode(value);
  } catch (TypeMismatchError const& error) {
    throw ReflectionError(fmt::format("{}::{} {}: {}", typeName, member, what, error.what()));
  }
}

template <class Result, class Invoke>
Value encodeResult(Invoke&& invoke) {
  if constexpr (std::is_void_v<Result>) {
    invoke();
    return Value();
  } else {
    return Codec<Stored<Result>>::encode(invoke());
  }
}

template <class Parameters>
struct Arguments;
template <class... A>
struct Arguments<std::tuple<A...>> {
  static constexpr std::size_t count = sizeof...(A);

  static std::vector<std::string> typeNames() { return {codecName<A>()...}; }

  static std::tuple<Stored<A>...> decodeAll(std::string_view typeName, std::string_view member,
                                            std::vector<Value> const& values) {
    if (values.size() != count) {
      throw ReflectionError(fmt::format("{}::{} takes {} argument{} ({}), {} given", typeName,
                                        member, count, count == 1 ? "" : "s",
                                        fmt::join(typeNames(), ", "), values.size()));
    }
    return decodeIndexed(typeName, member, values, std::index_sequence_for<A...>{});
  }

 private:
  template <std::size_t... I>
  static std::tuple<Stored<A>...> decodeIndexed([[maybe_unused]] std::string_view typeName,
                                                [[maybe_unused]] std::string_view member,
                                                [[maybe_unused]] std::vector<Value> const& values,
                                                std::index_sequence<I...>) {
    return std::tuple<Stored<A>...>{decode<A>(
        typeName, member, fmt::format("argument {} ({})", I + 1, codecName<A>()), values[I])...};
  }
};

}  // namespace detail

template <class T>
class TypeBuilder {
 public:
  using Member = TypeData::Member;

  TypeBuilder(std::string name, TypeData const* base) : name_(std::move(name)), base_(base) {}

  // A read-only attribute.
  template <class Getter>
  TypeBuilder& attribute(std::string name, Getter getter) {
    using Result = detail::Stored<std::invoke_result_t<Getter, T const&>>;
    Member& member = add(std::move(name), Member::Kind::Attribute);
    member.types = [] { return std::vector<std::string>{detail::codecName<Result>()}; };
    member.get = [getter](Node const& entity) {
      return Codec<Result>::encode(std::invoke(getter, object(entity)));
    };
    return *this;
  }

  // A read-write attribute; `setter` takes the object and the new value.
  template <class Getter, class Setter>
  TypeBuilder& attribute(std::string name, Getter getter, Setter setter) {
    attribute(name, getter);
    using Parameters = typename detail::CallParameters<Setter, true>::Type;
    static_assert(std::tuple_size_v<Parameters> == 1, "a setter takes one value");
    using Argument = std::tuple_element_t<0, Parameters>;
    members_.back().set = [setter, typeName = name_, name](Node& entity, Value const& value) {
      std::invoke(setter, object(entity), detail::decode<Argument>(typeName, name, "value", value));
    };
    return *this;
  }

  // A collection whose `count`, `forEach` and (unless given) `has` are answered
  // by the container that `container` yields: a member function or data
  // member of T whose result offers count(), forEach(visit(key, member)) and
  // possibly has(key), such as a Quor::HashMap2018.
  template <class Key, class Element, class ContainerAccess>
  TypeBuilder& collection(std::string name, ContainerAccess container,
                          CollectionBinding<T, Key, Element> binding) {
    binding.count = [container](T const& object) { return std::invoke(container, object).count(); };
    constexpr bool containerHas =
        requires(ContainerAccess access, T const& object, Key const& key) {
      std::invoke(access, object).has(key);
    };
    if constexpr (containerHas) {
      if (!binding.has) {
        binding.has = [container](T const& object, Key const& key) {
          return std::invoke(container, object).has(key);
        };
      }
    }
    binding.forEach = [container](T const& object,
                                  std::function<bool(Key const&, Element const&)> const& visit) {
      bool more = true;
      std::invoke(container, object).forEach([&](Key const& key, Element const& element) {
        more = more && visit(key, element);
      });
    };
    return collection(std::move(name), std::move(binding));
  }

  template <class Key, class Element>
  TypeBuilder& collection(std::string name, CollectionBinding<T, Key, Element> binding) {
    Member& member = add(name, Member::Kind::Collection);
    member.types = [] {
      return std::vector<std::string>{detail::codecName<Key>(), detail::codecName<Element>()};
    };
    auto decodeKey = [typeName = name_, name](Value const& key) {
      return detail::decode<Key>(typeName, name, "key", key);
    };
    auto decodeMember = [typeName = name_, name](Value const& value) {
      return detail::decode<Element>(typeName, name, "member", value);
    };
    if (binding.lookup) {
      member.lookup = [lookup = binding.lookup, decodeKey](Node const& entity, Value const& key) {
        return Codec<Element>::encode(lookup(object(entity), decodeKey(key)));
      };
    }
    if (binding.has) {
      member.has = [has = binding.has, decodeKey](Node const& entity, Value const& key) {
        return has(object(entity), decodeKey(key));
      };
    }
    if (binding.count) {
      member.count = [count = binding.count](Node const& entity) { return count(object(entity)); };
    }
    if (binding.forEach) {
      member.forEach = [forEach = binding.forEach](Node const& entity,
                                                   TypeData::MemberVisitor const& visitor) {
        forEach(object(entity), [&visitor](Key const& key, Element const& value) {
          return visitor(Codec<Key>::encode(key), Codec<Element>::encode(value));
        });
      };
    }
    if (binding.insert) {
      member.insert = [insert = binding.insert, decodeMember](Node& entity, Value const& value) {
        insert(object(entity), decodeMember(value));
      };
    }
    if (binding.insertAt) {
      member.insertAt = [insertAt = binding.insertAt, decodeKey, decodeMember](
                            Node& entity, Value const& key, Value const& value) {
        insertAt(object(entity), decodeKey(key), decodeMember(value));
      };
    }
    if (binding.del) {
      member.del = [del = binding.del, decodeKey](Node& entity, Value const& key) {
        return Codec<Element>::encode(del(object(entity), decodeKey(key)));
      };
    }
    if (binding.delAll) {
      member.delAll = [delAll = binding.delAll](Node& entity) { delAll(object(entity)); };
    }
    return *this;
  }

  // An operation called on an instance.
  template <class Method>
  TypeBuilder& operation(std::string name, Method method) {
    return addCall<detail::CallParameters<Method, true>>(
        std::move(name), Member::Kind::Operation,
        [method](Node* entity, auto&... arguments) -> decltype(auto) {
          return std::invoke(method, object(*entity), arguments...);
        });
  }

  // An operation of the class, called without an instance.
  template <class Function>
  TypeBuilder& classOperation(std::string name, Function function) {
    return addCall<detail::CallParameters<Function, false>>(
        std::move(name), Member::Kind::ClassOperation,
        [function](Node*, auto&... arguments) -> decltype(auto) { return function(arguments...); });
  }

  // The class operation that makes a new instance; reflection's create and the
  // singleton registry use it.
  template <class Function>
  TypeBuilder& creator(std::string name, Function function) {
    creator_ = name;
    return classOperation(std::move(name), function);
  }

  // Builds the record, registers it and returns it. The record lives until
  // the process ends.
  TypeData const& done() {
    auto* type = new TypeData(name_, base_, std::move(members_), creator_);
    TypeRegistry::registerType(*type);
    return *type;
  }

 private:
  static T& object(Node& entity) { return static_cast<T&>(entity); }
  static T const& object(Node const& entity) { return static_cast<T const&>(entity); }

  Member& add(std::string name, Member::Kind kind) {
    Member& member = members_.emplace_back();
    member.name = std::move(name);
    member.kind = kind;
    return member;
  }

  // Adds an operation or class operation whose arguments are decoded to the
  // parameter types of `Call` and passed to invoke(entity, arguments...).
  template <class Call, class Invoke>
  TypeBuilder& addCall(std::string name, typename Member::Kind kind, Invoke invoke) {
    using Args = detail::Arguments<typename Call::Type>;
    Member& member = add(name, kind);
    member.arity = Args::count;
    member.types = [] {
      std::vector<std::string> types = Args::typeNames();
      types.insert(types.begin(), detail::codecName<typename Call::Result>());
      return types;
    };
    member.call = [invoke, typeName = name_, name](Node* entity, std::vector<Value> const& values) {
      auto arguments = Args::decodeAll(typeName, name, values);
      return detail::encodeResult<typename Call::Result>([&]() -> decltype(auto) {
        return std::apply(
            [&](auto&... decoded) -> decltype(auto) { return invoke(entity, decoded...); },
            arguments);
      });
    };
    return *this;
  }

  std::string name_;
  TypeData const* base_;
  std::vector<Member> members_;
  std::string creator_;
};

}  // namespace Vesk
