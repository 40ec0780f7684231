// The agent-level objects of the framework:
//
//   GroupInterfaceColl          the group interfaces of an agent, keyed by
//                               canonical group name (groupIntf).
//   OrderedTableInterface       what an agent gives the libraries it loads:
//                               its central entity manager, its event loop,
//                               its group interfaces (makeGroupIntf) and the
//                               table interfaces registered with it.
//   TableInterfaceBase          the base of a library's table interface;
//                               reconcile is called by the framework.
//   SwTableInterfacesSingleton  the process registry of table interfaces,
//                               keyed by string (swTableIntf).
//
// Thread safety: the agent's thread.
#pragma once

#include <map>
#include <string>

#include "Centrum/EntityManager.h"
#include "Hunkpool/Pool.h"
#include "Quor/Entity.h"
#include "Quor/EventLoop.h"
#include "Zido/GroupInterface.h"

namespace Zido {

class TableInterfaceBase;

class GroupInterfaceColl : public Quor::Entity {
  HUNKPOOL_CLASS_ALLOCATION(GroupInterfaceColl)

 public:
  Vesk::Ptr<GroupInterface> groupIntf(std::string const& canonicalName) const;
  bool groupIntfHas(std::string const& canonicalName) const {
    return groups_.contains(canonicalName);
  }
  void groupIntfIs(std::string const& canonicalName, Vesk::Ptr<GroupInterface> const& group);
  std::map<std::string, Vesk::Ptr<GroupInterface>> const& groups() const noexcept {
    return groups_;
  }

  Vesk::TypeData const& typeData() const override { return staticTypeData(); }
  static Vesk::TypeData const& staticTypeData();

 private:
  std::map<std::string, Vesk::Ptr<GroupInterface>> groups_;
};

class OrderedTableInterface : public Quor::Entity {
  HUNKPOOL_CLASS_ALLOCATION(OrderedTableInterface)

 public:
  // `loop` may be null (tests that run the resolver by hand); the interface
  // and its groups may outlive it.
  OrderedTableInterface(Vesk::Ptr<Centrum::EntityManager> entityManager, Quor::EventLoop* loop);

  Vesk::Ptr<Centrum::EntityManager> const& entityManager() const noexcept { return entityManager_; }
  // The loop, or null when there is none or it is gone.
  Quor::EventLoop* eventLoop() const noexcept { return loop_.get(); }
  Vesk::Ptr<GroupInterfaceColl> const& groupInterfaceColl() const noexcept { return groups_; }

  // Makes the group interface of (agent, group) unless it exists.
  void makeGroupIntf(std::string const& agentName, std::string const& groupName,
                     std::uint16_t agentAndGroupId);

  // Registered table interfaces, held by plain pointer (the process registry
  // holds them).
  TableInterfaceBase* swTableIntf(std::string const& name) const;
  bool swTableIntfHas(std::string const& name) const { return tables_.contains(name); }
  void swTableIntfIs(std::string const& name, TableInterfaceBase* tableInterface);
  void swTableIntfDel(std::string const& name);
  // Calls reconcile on every registered table interface.
  void reconcile();
  // Releases the process registry's reference to every table interface
  // registered here, so that each goes when its last user lets go rather
  // than at exit.
  void withdrawTableInterfaces();

  Vesk::TypeData const& typeData() const override { return staticTypeData(); }
  static Vesk::TypeData const& staticTypeData();

 private:
  Vesk::Ptr<Centrum::EntityManager> entityManager_;
  Quor::EventLoop::Ref loop_;
  Vesk::Ptr<GroupInterfaceColl> groups_;
  std::map<std::string, TableInterfaceBase*> tables_;
};

class TableInterfaceBase : public Quor::Entity {
 public:
  explicit TableInterfaceBase(Vesk::Ptr<OrderedTableInterface> orderedTableIntf);

  Vesk::Ptr<OrderedTableInterface> const& orderedTableIntf() const noexcept {
    return orderedTableIntf_;
  }
  virtual void reconcile();

  Vesk::TypeData const& typeData() const override { return staticTypeData(); }
  static Vesk::TypeData const& staticTypeData();

 private:
  Vesk::Ptr<OrderedTableInterface> orderedTableIntf_;
};

class SwTableInterfacesSingleton : public Quor::Entity {
  HUNKPOOL_CLASS_ALLOCATION(SwTableInterfacesSingleton)

 public:
  static constexpr char const* typeName = "Zido::SwTableInterfacesSingleton";
  // The process's registry, made on the first call.
  static Vesk::Ptr<SwTableInterfacesSingleton> instance();

  Vesk::Ptr<TableInterfaceBase> swTableIntf(std::string const& name) const;
  bool swTableIntfHas(std::string const& name) const { return interfaces_.contains(name); }
  void swTableIntfIs(std::string const& name, Vesk::Ptr<TableInterfaceBase> const& intf);
  Vesk::Ptr<TableInterfaceBase> swTableIntfDel(std::string const& name);

  Vesk::TypeData const& typeData() const override { return staticTypeData(); }
  static Vesk::TypeData const& staticTypeData();

 private:
  std::map<std::string, Vesk::Ptr<TableInterfaceBase>> interfaces_;
};

}  // namespace Zido
