// Zido::ResolverEntry: one operation queued on a group resolver.
//
// It carries the operation's dependency (a handle of another operation, or
// null) and its flags (write, entry delete, table delete). The resolver asks
// isResolved and, once the answer is yes, calls commitEntry with the entry
// itself. orderedTable names the table whose operations must commit in the
// order they were queued.
#pragma once

#include "Quor/Entity.h"
#include "Zido/EntryHandle.h"
#include "Zido/Identifiers.h"

namespace Zido {

class SwTableBase;

class ResolverEntry : public Quor::Entity {
 public:
  ResolverEntry(Vesk::Ptr<DependencyEntryHandle const> dependantEntryHandle, EntryFlags flags);

  Vesk::Ptr<DependencyEntryHandle const> const& dependantEntryHandle() const noexcept {
    return dependantEntryHandle_;
  }
  EntryFlags flags() const noexcept { return flags_; }
  bool isEntryDeleted() const noexcept {
    return (static_cast<std::uint32_t>(flags_) &
            static_cast<std::uint32_t>(EntryFlags::entryDelete)) != 0;
  }
  bool isTableDeleted() const noexcept {
    return (static_cast<std::uint32_t>(flags_) &
            static_cast<std::uint32_t>(EntryFlags::tableDelete)) != 0;
  }

  virtual bool isResolved() = 0;
  virtual void commitEntry(Vesk::Ptr<ResolverEntry> const& resolverEntry) = 0;
  // The table whose queue this entry belongs to.
  virtual SwTableBase const* orderedTable() const = 0;
  // A hint that the resolver gives a few entries ahead of the commit: start
  // bringing into the cache what commitEntry will touch. Changes nothing; the
  // default does nothing.
  virtual void prefetchCommit() const noexcept {}

  Vesk::TypeData const& typeData() const override { return staticTypeData(); }
  static Vesk::TypeData const& staticTypeData();

 private:
  Vesk::Ptr<DependencyEntryHandle const> dependantEntryHandle_;
  EntryFlags flags_;
};

}  // namespace Zido
