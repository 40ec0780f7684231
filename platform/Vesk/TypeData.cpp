#include "Vesk/TypeData.h"

#include <fmt/format.h>

#include <map>

#include "Vesk/Exception.h"
#include "Vesk/Node.h"

namespace Vesk {

std::string_view TypeData::Member::kindName() const noexcept {
  switch (kind) {
    case Kind::Attribute:
      return "an attribute";
    case Kind::Collection:
      return "a collection";
    case Kind::Operation:
      return "an operation";
    case Kind::ClassOperation:
      return "a class operation";
  }
  return "a member";
}

TypeData::TypeData(std::string name, TypeData const* base, std::vector<Member> members,
                   std::string creator)
    : name_(std::move(name)),
      base_(base),
      members_(std::move(members)),
      creator_(std::move(creator)) {}

std::vector<TypeData::Member const*> TypeData::allMembers() const {
  std::vector<Member const*> result =
      base_ != nullptr ? base_->allMembers() : std::vector<Member const*>{};
  for (Member const& member : members_) {
    result.push_back(&member);
  }
  return result;
}

TypeData::Member const* TypeData::findMember(std::string_view name) const noexcept {
  for (TypeData const* type = this; type != nullptr; type = type->base_) {
    for (Member const& member : type->members_) {
      if (member.name == name) {
        return &member;
      }
    }
  }
  return nullptr;
}

TypeData::Member const& TypeData::member(std::string_view name) const {
  if (Member const* found = findMember(name)) {
    return *found;
  }
  throw ReflectionError(fmt::format("{} has no attribute or operation '{}'", name_, name));
}

bool TypeData::isA(TypeData const& other) const noexcept {
  for (TypeData const* type = this; type != nullptr; type = type->base_) {
    if (type == &other) {
      return true;
    }
  }
  return false;
}

namespace {

// Never destroyed: records stay reachable until the process ends.
std::map<std::string, TypeData const*, std::less<>>& registry() {
  static auto* types = new std::map<std::string, TypeData const*, std::less<>>();
  return *types;
}

// The member `name` of the entity's class, which must be of `kind`.
TypeData::Member const& memberOfKind(TypeData const& type, std::string_view name,
                                     TypeData::Member::Kind kind) {
  TypeData::Member const& member = type.member(name);
  if (member.kind != kind) {
    TypeData::Member expected;
    expected.kind = kind;
    throw ReflectionError(fmt::format("{}::{} is {}, not {}", type.name(), name, member.kindName(),
                                      expected.kindName()));
  }
  return member;
}

template <class Function>
Function const& offered(TypeData const& type, TypeData::Member const& member,
                        Function const& function, std::string_view what) {
  if (!function) {
    throw ReflectionError(fmt::format("{}::{} does not offer {}", type.name(), member.name, what));
  }
  return function;
}

TypeData::Member const& collection(Node const& entity, std::string_view name) {
  return memberOfKind(entity.typeData(), name, TypeData::Member::Kind::Collection);
}

}  // namespace

Ptr<Node> TypeData::create(std::vector<Value> const& arguments) const {
  if (creator_.empty()) {
    throw ReflectionError(fmt::format("{} cannot be made through reflection", name_));
  }
  return member(creator_).call(nullptr, arguments).asEntity();
}

void TypeRegistry::registerType(TypeData const& type) {
  auto [where, inserted] = registry().emplace(std::string(type.name()), &type);
  if (!inserted) {
    throw ReflectionError(fmt::format("type {} is registered twice", type.name()));
  }
}

TypeData const* TypeRegistry::find(std::string_view name) noexcept {
  auto const found = registry().find(name);
  return found == registry().end() ? nullptr : found->second;
}

TypeData const& TypeRegistry::get(std::string_view name) {
  if (TypeData const* type = find(name)) {
    return *type;
  }
  throw ReflectionError(fmt::format("no type named '{}' is registered", name));
}

std::vector<TypeData const*> TypeRegistry::all() {
  std::vector<TypeData const*> types;
  for (auto const& [name, type] : registry()) {
    types.push_back(type);
  }
  return types;
}

Value attribute(Node const& entity, std::string_view name) {
  TypeData const& type = entity.typeData();
  auto const& member = memberOfKind(type, name, TypeData::Member::Kind::Attribute);
  return offered(type, member, member.get, "reading")(entity);
}

void attributeIs(Node& entity, std::string_view name, Value const& value) {
  TypeData const& type = entity.typeData();
  auto const& member = memberOfKind(type, name, TypeData::Member::Kind::Attribute);
  if (!member.set) {
    throw ReflectionError(fmt::format("{}::{} is read-only", type.name(), name));
  }
  member.set(entity, value);
}

Value call(Node& entity, std::string_view name, std::vector<Value> const& arguments) {
  TypeData const& type = entity.typeData();
  auto const& member = type.member(name);
  if (member.kind != TypeData::Member::Kind::Operation &&
      member.kind != TypeData::Member::Kind::ClassOperation) {
    throw ReflectionError(
        fmt::format("{}::{} is {}, not an operation", type.name(), name, member.kindName()));
  }
  return member.call(member.kind == TypeData::Member::Kind::Operation ? &entity : nullptr,
                     arguments);
}

Value callClass(std::string_view typeName, std::string_view name,
                std::vector<Value> const& arguments) {
  TypeData const& type = TypeRegistry::get(typeName);
  return memberOfKind(type, name, TypeData::Member::Kind::ClassOperation).call(nullptr, arguments);
}

Value collectionLookup(Node const& entity, std::string_view name, Value const& key) {
  auto const& member = collection(entity, name);
  return offered(entity.typeData(), member, member.lookup, "lookup")(entity, key);
}

bool collectionHas(Node const& entity, std::string_view name, Value const& key) {
  auto const& member = collection(entity, name);
  return offered(entity.typeData(), member, member.has, "membership tests")(entity, key);
}

std::size_t collectionCount(Node const& entity, std::string_view name) {
  auto const& member = collection(entity, name);
  return offered(entity.typeData(), member, member.count, "counting")(entity);
}

void collectionForEach(Node const& entity, std::string_view name,
                       TypeData::MemberVisitor const& visitor) {
  auto const& member = collection(entity, name);
  offered(entity.typeData(), member, member.forEach, "iteration")(entity, visitor);
}

void collectionInsert(Node& entity, std::string_view name, Value const& member) {
  auto const& collectionMember = collection(entity, name);
  offered(entity.typeData(), collectionMember, collectionMember.insert,
          "insertion of a member that carries its key")(entity, member);
}

void collectionInsertAt(Node& entity, std::string_view name, Value const& key,
                        Value const& member) {
  auto const& collectionMember = collection(entity, name);
  offered(entity.typeData(), collectionMember, collectionMember.insertAt, "insertion under a key")(
      entity, key, member);
}

Value collectionDel(Node& entity, std::string_view name, Value const& key) {
  auto const& member = collection(entity, name);
  return offered(entity.typeData(), member, member.del, "deletion")(entity, key);
}

void collectionDelAll(Node& entity, std::string_view name) {
  auto const& member = collection(entity, name);
  offered(entity.typeData(), member, member.delAll, "deleting all members")(entity);
}

}  // namespace Vesk
