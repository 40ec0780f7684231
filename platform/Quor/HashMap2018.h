// Quor::HashMap2018<Key, Member>: the runtime's keyed map.
//
// Offers lookup, insert-or-replace, delete returning the removed member,
// clear, count, and a cursor that is placed at a key (or at the first member)
// and advanced.
//
// Order: members are walked in the order their keys were first inserted; a
// replaced member keeps its place. The order does not change when the map
// grows or when other members are deleted, so a walk resumed at a key (a
// cursor placed at a bookmark) goes on exactly where it stopped, and members
// inserted since then come after every older one.
//
// Implementation details: an absl::flat_hash_map from key to node index
// (open addressing with SSE-probed control bytes: one or two cache lines per
// probe) over a vector of nodes doubly linked in insertion order; deleted
// nodes go to a free list and are reused. A lookup costs the index probe plus
// one node access; the links cost two 32-bit words per member.
//
// Costs: lookup, insert and delete are O(1) expected; clear is O(n); a walk
// is O(n).
//
// Invariants and caveats:
//  1. At most one member per key.
//  2. Pointers returned by find are invalid after an insert (the node vector
//     may move). A cursor stays usable across inserts and deletes of other
//     members; advancing a cursor whose member was deleted is undefined.
//
// Thread safety: none; a map belongs to one thread.
#pragma once

#include <absl/container/flat_hash_map.h>
#include <absl/hash/hash.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

namespace Quor {

template <class Key, class Member, class Hash = absl::Hash<Key>, class Equal = std::equal_to<Key>>
class HashMap2018 {
  static_assert(std::is_default_constructible_v<Key> && std::is_default_constructible_v<Member>,
                "a free node holds default values");
  static constexpr std::uint32_t none = ~std::uint32_t{0};

  struct Node {
    Key key{};
    Member member{};
    std::uint32_t previous = none;
    std::uint32_t next = none;
  };

 public:
  // A position in the map: at a member, or past the end.
  template <class Nodes>
  class BasicCursor {
   public:
    bool valid() const noexcept { return index_ != none; }
    // REQUIRES: valid().
    Key const& key() const { return (*nodes_)[index_].key; }
    auto& member() const { return (*nodes_)[index_].member; }
    // REQUIRES: valid().
    void advance() { index_ = (*nodes_)[index_].next; }

   private:
    friend class HashMap2018;
    BasicCursor(Nodes* nodes, std::uint32_t index) : nodes_(nodes), index_(index) {}
    Nodes* nodes_;
    std::uint32_t index_;
  };
  using Cursor = BasicCursor<std::vector<Node>>;
  using ConstCursor = BasicCursor<std::vector<Node> const>;

  // The member of `key`, or null.
  Member* find(Key const& key) {
    if (index_.empty()) {
      return nullptr;  // no hashing for the common look into an empty map
    }
    auto const found = index_.find(key);
    return found == index_.end() ? nullptr : &nodes_[found->second].member;
  }
  Member const* find(Key const& key) const {
    if (index_.empty()) {
      return nullptr;
    }
    auto const found = index_.find(key);
    return found == index_.end() ? nullptr : &nodes_[found->second].member;
  }
  bool has(Key const& key) const { return index_.contains(key); }

  // Inserts `member` under `key`, replacing a member held there (which keeps
  // its place). Returns true when the key was new.
  bool insert(Key const& key, Member member) {
    auto [position, inserted] = index_.try_emplace(key, none);
    if (!inserted) {
      nodes_[position->second].member = std::move(member);
      return false;
    }
    link(position->second, key, std::move(member));
    return true;
  }

  // insert, with one probe of the index, unless the member held under `key`
  // equals `member`: then nothing changes and the result is false.
  bool change(Key const& key, Member const& member) {
    auto [position, inserted] = index_.try_emplace(key, none);
    if (!inserted) {
      Member& held = nodes_[position->second].member;
      if (held == member) {
        return false;
      }
      held = member;
      return true;
    }
    link(position->second, key, member);
    return true;
  }

  // Sets the member of `key` to next(held), where held points to the member
  // held there or is null when the key is new, with one probe of the index;
  // returns the new member. When next raises for a new key, the map is left
  // as it was. REQUIRES: next does not use the map (the key's entry is being
  // made while it runs).
  template <class Next>
  Member const& update(Key const& key, Next&& next) {
    auto [position, inserted] = index_.try_emplace(key, none);
    if (!inserted) {
      Member& held = nodes_[position->second].member;
      held = next(&held);
      return held;
    }
    try {
      link(position->second, key, next(static_cast<Member const*>(nullptr)));
    } catch (...) {
      index_.erase(position);
      throw;
    }
    return nodes_[position->second].member;
  }

  // Removes the member of `key` and returns it; nothing when absent.
  std::optional<Member> del(Key const& key) {
    if (index_.empty()) {
      return std::nullopt;
    }
    auto const found = index_.find(key);
    if (found == index_.end()) {
      return std::nullopt;
    }
    std::uint32_t const node = found->second;
    index_.erase(found);
    Node& removed = nodes_[node];
    (removed.previous != none ? nodes_[removed.previous].next : head_) = removed.next;
    (removed.next != none ? nodes_[removed.next].previous : tail_) = removed.previous;
    std::optional<Member> member(std::move(removed.member));
    removed = Node{};
    removed.next = freeHead_;
    freeHead_ = node;
    return member;
  }

  void clear() {
    index_.clear();
    nodes_.clear();
    head_ = tail_ = freeHead_ = none;
  }
  std::size_t count() const noexcept { return index_.size(); }
  bool empty() const noexcept { return index_.empty(); }

  Cursor cursorFirst() { return Cursor(&nodes_, head_); }
  // At `key`, or past the end when the key is absent.
  Cursor cursorAt(Key const& key) { return Cursor(&nodes_, indexOf(key)); }
  ConstCursor cursorFirst() const { return ConstCursor(&nodes_, head_); }
  ConstCursor cursorAt(Key const& key) const { return ConstCursor(&nodes_, indexOf(key)); }

  // Calls visit(key, member) for every member, in the map's order. `visit`
  // must not change the map.
  template <class Visit>
  void forEach(Visit&& visit) const {
    for (std::uint32_t node = head_; node != none; node = nodes_[node].next) {
      visit(nodes_[node].key, nodes_[node].member);
    }
  }

 private:
  // Takes a node for a new key, links it last in walk order and stores its
  // index in `slot` (the key's entry in the index).
  void link(std::uint32_t& slot, Key const& key, Member member) {
    std::uint32_t node = freeHead_;
    if (node != none) {
      freeHead_ = nodes_[node].next;
    } else {
      node = static_cast<std::uint32_t>(nodes_.size());
      nodes_.emplace_back();
    }
    nodes_[node] = Node{key, std::move(member), tail_, none};
    if (tail_ != none) {
      nodes_[tail_].next = node;
    } else {
      head_ = node;
    }
    tail_ = node;
    slot = node;
  }

  std::uint32_t indexOf(Key const& key) const {
    auto const found = index_.find(key);
    return found == index_.end() ? none : found->second;
  }

  absl::flat_hash_map<Key, std::uint32_t, Hash, Equal> index_;
  std::vector<Node> nodes_;
  std::uint32_t head_ = none;
  std::uint32_t tail_ = none;
  std::uint32_t freeHead_ = none;
};

}  // namespace Quor
