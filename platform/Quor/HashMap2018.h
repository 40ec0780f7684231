// Quor::HashMap2018<Key, Member>: the runtime's keyed map.
//
// Offers lookup, insert-or-replace, delete returning the removed member,
// clear, count, and a cursor that is placed at a key (or at the first member)
// and advanced. Built on absl::flat_hash_map: open addressing with SSE-probed
// control bytes, so lookups touch one or two cache lines and members are
// stored inline.
//
// Costs: lookup, insert and delete are O(1) expected; clear is O(n); a walk
// is O(capacity). Iteration order is unspecified and changes when the map
// grows.
//
// Invariants and caveats:
//  1. At most one member per key.
//  2. An insert may move every member: pointers returned by find and every
//     cursor are invalid after an insert. A delete invalidates only pointers
//     to the deleted member; a cursor that is not on it stays usable.
//
// Thread safety: none; a map belongs to one thread.
#pragma once

#include <absl/container/flat_hash_map.h>
#include <absl/hash/hash.h>

#include <cstddef>
#include <functional>
#include <optional>
#include <utility>

namespace Quor {

template <class Key, class Member, class Hash = absl::Hash<Key>, class Equal = std::equal_to<Key>>
class HashMap2018 {
  using Map = absl::flat_hash_map<Key, Member, Hash, Equal>;

 public:
  // A position in the map: at a member, or past the end. A cursor is valid
  // until the map is next changed.
  template <class Iterator>
  class BasicCursor {
   public:
    bool valid() const noexcept { return position_ != end_; }
    // REQUIRES: valid().
    Key const& key() const { return position_->first; }
    auto& member() const { return position_->second; }
    // REQUIRES: valid().
    void advance() { ++position_; }

   private:
    friend class HashMap2018;
    BasicCursor(Iterator position, Iterator end) : position_(position), end_(end) {}
    Iterator position_;
    Iterator end_;
  };
  using Cursor = BasicCursor<typename Map::iterator>;
  using ConstCursor = BasicCursor<typename Map::const_iterator>;

  // The member of `key`, or null.
  Member* find(Key const& key) {
    auto const found = map_.find(key);
    return found == map_.end() ? nullptr : &found->second;
  }
  Member const* find(Key const& key) const {
    auto const found = map_.find(key);
    return found == map_.end() ? nullptr : &found->second;
  }
  bool has(Key const& key) const { return map_.contains(key); }

  // Inserts `member` under `key`, replacing a member held there. Returns true
  // when the key was new.
  bool insert(Key const& key, Member member) {
    auto [position, inserted] = map_.try_emplace(key, std::move(member));
    if (!inserted) {
      position->second = std::move(member);
    }
    return inserted;
  }

  // Removes the member of `key` and returns it; nothing when absent.
  std::optional<Member> del(Key const& key) {
    auto const found = map_.find(key);
    if (found == map_.end()) {
      return std::nullopt;
    }
    std::optional<Member> removed(std::move(found->second));
    map_.erase(found);
    return removed;
  }

  void clear() { map_.clear(); }
  std::size_t count() const noexcept { return map_.size(); }
  bool empty() const noexcept { return map_.empty(); }

  Cursor cursorFirst() { return Cursor(map_.begin(), map_.end()); }
  // At `key`, or past the end when the key is absent.
  Cursor cursorAt(Key const& key) { return Cursor(map_.find(key), map_.end()); }
  ConstCursor cursorFirst() const { return ConstCursor(map_.begin(), map_.end()); }
  ConstCursor cursorAt(Key const& key) const { return ConstCursor(map_.find(key), map_.end()); }

  // Calls visit(key, member) for every member, in the map's order.
  template <class Visit>
  void forEach(Visit&& visit) const {
    for (auto const& [key, member] : map_) {
      visit(key, member);
    }
  }

 private:
  Map map_;
};

}  // namespace Quor
