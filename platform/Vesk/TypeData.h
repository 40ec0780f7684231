// Vesk::TypeData: the reflection record of an entity class, and the process's
// registry of them.
//
// A record names its class and its base, and lists the class's own members in
// declared order. A member is
//   - an attribute: read with get, set with set (absent when read-only);
//   - a collection (or queue): keyed members, reached by lookup, has, count,
//     forEach, insert, del and delAll (each absent when not offered);
//   - an operation: called on an instance with a list of Values;
//   - a class operation: called without an instance (makers such as FooIs).
// Member lookup by name searches the class, then its bases. Records are built
// with Vesk::TypeBuilder (Vesk/TypeBuilder.h) and live until the process ends.
//
// The functions at the end of this header are the reflection interface used
// by scripts and tools: every error (unknown type or member, a member of
// another kind, a wrong number or type of arguments, a read-only attribute)
// raises Vesk::ReflectionError with a message naming the class and member.
//
// Thread safety: records are immutable once built; registration happens while
// the library loads.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Vesk/Ptr.h"
#include "Vesk/Value.h"

namespace Vesk {

class Node;

class TypeData {
 public:
  // Called for each member of a collection, in the collection's order;
  // returns false to stop the walk.
  using MemberVisitor = std::function<bool(Value const& key, Value const& member)>;

  struct Member {
    enum class Kind { Attribute, Collection, Operation, ClassOperation };

    std::string name;
    Kind kind = Kind::Attribute;
    // The C++ types: of an attribute's value; of a collection's key and member;
    // of an operation's result then its parameters. Computed on demand, since
    // a type may name the class whose record is being built.
    std::function<std::vector<std::string>()> types;

    std::function<Value(Node const&)> get;
    std::function<void(Node&, Value const&)> set;

    std::function<Value(Node const&, Value const&)> lookup;
    std::function<bool(Node const&, Value const&)> has;
    std::function<std::size_t(Node const&)> count;
    std::function<void(Node const&, MemberVisitor const&)> forEach;
    // Inserts a member that carries its own key.
    std::function<void(Node&, Value const&)> insert;
    // Inserts or replaces the member under a key.
    std::function<void(Node&, Value const&, Value const&)> insertAt;
    std::function<Value(Node&, Value const&)> del;
    std::function<void(Node&)> delAll;

    // Operation: (instance, arguments); class operation: (null, arguments).
    std::function<Value(Node*, std::vector<Value> const&)> call;
    std::size_t arity = 0;

    // "an attribute", "a collection", "an operation" or "a class operation".
    std::string_view kindName() const noexcept;
  };

  // `creator` names the class operation that makes a new instance (empty for
  // a class that reflection cannot make).
  TypeData(std::string name, TypeData const* base, std::vector<Member> members,
           std::string creator);

  std::string_view name() const noexcept { return name_; }
  TypeData const* base() const noexcept { return base_; }
  // The class's own members, in declared order.
  std::vector<Member> const& members() const noexcept { return members_; }
  // Every member, the root class's first, each class's in declared order.
  std::vector<Member const*> allMembers() const;
  // The member `name` of this class or its nearest base that has one; null
  // when none has.
  Member const* findMember(std::string_view name) const noexcept;
  // As findMember, but raises ReflectionError when absent.
  Member const& member(std::string_view name) const;
  bool isA(TypeData const& other) const noexcept;
  // Makes a new instance through the class's creator.
  Ptr<Node> create(std::vector<Value> const& arguments) const;

 private:
  std::string name_;
  TypeData const* base_;
  std::vector<Member> members_;
  std::string creator_;
};

// The registry of reflection records by class name.
class TypeRegistry {
 public:
  // REQUIRES: no record of the same name is registered (a fatal error).
  static void registerType(TypeData const& type);
  // Null when no class of that name is registered.
  static TypeData const* find(std::string_view name) noexcept;
  // As find, but raises ReflectionError when absent.
  static TypeData const& get(std::string_view name);
  static std::vector<TypeData const*> all();
};

// The reflection interface.
Value attribute(Node const& entity, std::string_view name);
void attributeIs(Node& entity, std::string_view name, Value const& value);
// Calls an operation, or a class operation, of the entity's class.
Value call(Node& entity, std::string_view name, std::vector<Value> const& arguments);
Value callClass(std::string_view typeName, std::string_view name,
                std::vector<Value> const& arguments);
Value collectionLookup(Node const& entity, std::string_view name, Value const& key);
bool collectionHas(Node const& entity, std::string_view name, Value const& key);
std::size_t collectionCount(Node const& entity, std::string_view name);
void collectionForEach(Node const& entity, std::string_view name,
                       TypeData::MemberVisitor const& visitor);
void collectionInsert(Node& entity, std::string_view name, Value const& member);
void collectionInsertAt(Node& entity, std::string_view name, Value const& key, Value const& member);
Value collectionDel(Node& entity, std::string_view name, Value const& key);
void collectionDelAll(Node& entity, std::string_view name);

}  // namespace Vesk
