// Pantry guarded reads: reads of a collection that survive a detected
// corruption. A Vesk::CorruptionDetectedException is reported to the
// collection (doCorruptionDetected, which counts it) and the read yields the
// default record (a lookup) or nothing (a first or next move, which ends a
// walk). Other errors propagate.
//
// Thread safety: as the collection's.
#pragma once

#include <optional>

#include "Vesk/Exception.h"

namespace Pantry {

template <class Collection, class Key>
auto guardedLookup(Collection& collection, Key const& key) -> decltype(collection.lookup(key)) {
  try {
    return collection.lookup(key);
  } catch (Vesk::CorruptionDetectedException const& error) {
    collection.doCorruptionDetected(error.what());
    return {};
  }
}

template <class Collection>
auto guardedFirst(Collection& collection) -> decltype(collection.first()) {
  try {
    return collection.first();
  } catch (Vesk::CorruptionDetectedException const& error) {
    collection.doCorruptionDetected(error.what());
    return std::nullopt;
  }
}

template <class Collection, class Key>
auto guardedNextAfter(Collection& collection, Key const& key)
    -> decltype(collection.nextAfter(key)) {
  try {
    return collection.nextAfter(key);
  } catch (Vesk::CorruptionDetectedException const& error) {
    collection.doCorruptionDetected(error.what());
    return std::nullopt;
  }
}

// Calls visit(record) for every record in walk order; the walk moves on by
// key, so `visit` may remove or rewrite the record it is given.
template <class Collection, class KeyOf, class Visit>
void guardedWalk(Collection& collection, KeyOf keyOf, Visit&& visit) {
  for (auto record = guardedFirst(collection); record;
       record = guardedNextAfter(collection, keyOf(*record))) {
    visit(*record);
  }
}

}  // namespace Pantry
