// Quor published maps: the keyed collections of an entity, changed so that
// exactly the real changes are published (Vesk/Publisher.h).
//
//   publishedIs(owner, map, attribute, key, member)  inserts or replaces; a
//       member equal to the one held changes and publishes nothing
//   publishedDel(owner, map, attribute, key)          removes and returns the
//       member; an absent key publishes nothing
//   publishedDelAll(owner, map, attribute)            clears in one step when
//       nothing observes the owner, else removes (and publishes) one member
//       at a time
//
// `map` is a Quor::HashMap2018 (or anything with change, del, clear, empty
// and cursorFirst); members are compared with ==.
//
// Thread safety: the owner's.
#pragma once

#include <optional>
#include <string_view>
#include <utility>

#include "Vesk/Node.h"

namespace Quor {

template <class Map, class Key, class Member>
void publishedIs(Vesk::Node& owner, Map& map, std::string_view attribute, Key const& key,
                 Member const& member) {
  if (map.change(key, member)) {
    owner.publisher().publishKey(owner, attribute, key);
  }
}

// map.update(key, next), publishing the key: `next` always changes the member.
template <class Map, class Key, class Next>
auto publishedUpdate(Vesk::Node& owner, Map& map, std::string_view attribute, Key const& key,
                     Next&& next) {
  auto const member = map.update(key, std::forward<Next>(next));
  owner.publisher().publishKey(owner, attribute, key);
  return member;
}

template <class Map, class Key>
auto publishedDel(Vesk::Node& owner, Map& map, std::string_view attribute, Key const& key) {
  auto removed = map.del(key);
  if (removed) {
    owner.publisher().publishKey(owner, attribute, key);
  }
  return removed;
}

template <class Map>
void publishedDelAll(Vesk::Node& owner, Map& map, std::string_view attribute) {
  if (!owner.publisher().hasObservers()) {
    map.clear();
    return;
  }
  while (!map.empty()) {
    auto const key = map.cursorFirst().key();  // a copy: the delete frees the node
    publishedDel(owner, map, attribute, key);
  }
}

}  // namespace Quor
