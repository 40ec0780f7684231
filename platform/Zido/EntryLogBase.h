// Zido::EntryLogBase: the base of a table id's entry log: the table id, the
// central entity manager, the group interface it reports new log versions to,
// the agent's name, and two versions: tableVersion (the last log version
// handed out) and cleanupVersion (the version up to which the log was last
// cleaned).
#pragma once

#include <string>

#include "Centrum/EntityManager.h"
#include "Quor/Entity.h"
#include "Zido/Identifiers.h"

namespace Zido {

class GroupInterface;

class EntryLogBase : public Quor::Entity {
 public:
  EntryLogBase(SwTableId tableId, Vesk::Ptr<Centrum::EntityManager> entityManager,
               Vesk::Ptr<GroupInterface> groupInterface, std::string agentName);
  ~EntryLogBase() override;

  SwTableId tableId() const noexcept { return tableId_; }
  Vesk::Ptr<Centrum::EntityManager> const& entityManager() const noexcept { return entityManager_; }
  Vesk::Ptr<GroupInterface> const& groupInterface() const noexcept { return groupInterface_; }
  std::string const& agentName() const noexcept { return agentName_; }

  LogVersion tableVersion() const noexcept { return tableVersion_; }
  void tableVersionIs(LogVersion version);
  // Advances tableVersion by `by` and returns the new value.
  LogVersion tableVersionInc(LogVersion by);
  LogVersion cleanupVersion() const noexcept { return cleanupVersion_; }
  void cleanupVersionIs(LogVersion version);

  Vesk::TypeData const& typeData() const override { return staticTypeData(); }
  static Vesk::TypeData const& staticTypeData();

 private:
  SwTableId tableId_;
  Vesk::Ptr<Centrum::EntityManager> entityManager_;
  Vesk::Ptr<GroupInterface> groupInterface_;
  std::string agentName_;
  LogVersion tableVersion_ = 0;
  LogVersion cleanupVersion_ = 0;
};

}  // namespace Zido
