#include "Zido/OrderedTableInterface.h"

#include "Vesk/TypeBuilder.h"
#include "Zido/Constants.h"

namespace Zido {

Vesk::Ptr<GroupInterface> GroupInterfaceColl::groupIntf(std::string const& canonicalName) const {
  auto const found = groups_.find(canonicalName);
  return found == groups_.end() ? nullptr : found->second;
}

void GroupInterfaceColl::groupIntfIs(std::string const& canonicalName,
                                     Vesk::Ptr<GroupInterface> const& group) {
  Vesk::Ptr<GroupInterface>& held = groups_[canonicalName];
  if (held != group) {
    held = group;
    publisher().publishKey(*this, "groupIntf", canonicalName);
  }
}

Vesk::TypeData const& GroupInterfaceColl::staticTypeData() {
  using Binding =
      Vesk::CollectionBinding<GroupInterfaceColl, std::string, Vesk::Ptr<GroupInterface>>;
  static Vesk::TypeData const& type =
      Vesk::TypeBuilder<GroupInterfaceColl>("Zido::GroupInterfaceColl",
                                            &Quor::Entity::staticTypeData())
          .collection<std::string, Vesk::Ptr<GroupInterface>>(
              "groupIntf",
              Binding{.lookup = &GroupInterfaceColl::groupIntf,
                      .has = &GroupInterfaceColl::groupIntfHas,
                      .count = [](GroupInterfaceColl const& coll) { return coll.groups().size(); }})
          .done();
  return type;
}

OrderedTableInterface::OrderedTableInterface(Vesk::Ptr<Centrum::EntityManager> entityManager,
                                             Quor::EventLoop* loop)
    : entityManager_(std::move(entityManager)), loop_(loop), groups_(new GroupInterfaceColl()) {}

void OrderedTableInterface::makeGroupIntf(std::string const& agentName,
                                          std::string const& groupName,
                                          std::uint16_t agentAndGroupId) {
  std::string const name = Constants::canonicalizeGroupName(agentName, groupName);
  if (!groups_->groupIntfHas(name)) {
    groups_->groupIntfIs(name, new GroupInterface(agentName, groupName, agentAndGroupId,
                                                  entityManager_, loop_.get()));
  }
}

TableInterfaceBase* OrderedTableInterface::swTableIntf(std::string const& name) const {
  auto const found = tables_.find(name);
  return found == tables_.end() ? nullptr : found->second;
}

void OrderedTableInterface::swTableIntfIs(std::string const& name,
                                          TableInterfaceBase* tableInterface) {
  if (tables_[name] != tableInterface) {
    tables_[name] = tableInterface;
    publisher().publishKey(*this, "swTableIntf", name);
  }
}

void OrderedTableInterface::swTableIntfDel(std::string const& name) {
  if (tables_.erase(name) > 0) {
    publisher().publishKey(*this, "swTableIntf", name);
  }
}

void OrderedTableInterface::reconcile() {
  std::map<std::string, TableInterfaceBase*> const tables = tables_;
  for (auto const& [name, tableInterface] : tables) {
    tableInterface->reconcile();
  }
}

void OrderedTableInterface::withdrawTableInterfaces() {
  auto const registry = Vesk::staticPtrCast<SwTableInterfacesSingleton>(
      Quor::Entity::singletonExists(SwTableInterfacesSingleton::typeName));
  std::map<std::string, TableInterfaceBase*> const tables = tables_;
  for (auto const& [name, tableInterface] : tables) {
    if (registry && registry->swTableIntf(name).get() == tableInterface) {
      registry->swTableIntfDel(name);
    }
  }
}

Vesk::TypeData const& OrderedTableInterface::staticTypeData() {
  static Vesk::TypeData const& type =
      Vesk::TypeBuilder<OrderedTableInterface>("Zido::OrderedTableInterface",
                                               &Quor::Entity::staticTypeData())
          .attribute("entityManager", &OrderedTableInterface::entityManager)
          .attribute("groupInterfaceColl", &OrderedTableInterface::groupInterfaceColl)
          .operation("makeGroupIntf", &OrderedTableInterface::makeGroupIntf)
          .operation("swTableIntfHas", &OrderedTableInterface::swTableIntfHas)
          .operation("reconcile", &OrderedTableInterface::reconcile)
          .done();
  return type;
}

TableInterfaceBase::TableInterfaceBase(Vesk::Ptr<OrderedTableInterface> orderedTableIntf)
    : orderedTableIntf_(std::move(orderedTableIntf)) {}

void TableInterfaceBase::reconcile() {}

Vesk::TypeData const& TableInterfaceBase::staticTypeData() {
  static Vesk::TypeData const& type =
      Vesk::TypeBuilder<TableInterfaceBase>("Zido::TableInterfaceBase",
                                            &Quor::Entity::staticTypeData())
          .attribute("orderedTableIntf", &TableInterfaceBase::orderedTableIntf)
          .operation("reconcile", &TableInterfaceBase::reconcile)
          .done();
  return type;
}

Vesk::Ptr<SwTableInterfacesSingleton> SwTableInterfacesSingleton::instance() {
  Vesk::Ptr<Quor::Entity> singleton = Quor::Entity::singletonExists(typeName);
  if (!singleton) {
    singleton = Quor::Entity::singletonIs(typeName);
  }
  return Vesk::staticPtrCast<SwTableInterfacesSingleton>(singleton);
}

Vesk::Ptr<TableInterfaceBase> SwTableInterfacesSingleton::swTableIntf(
    std::string const& name) const {
  auto const found = interfaces_.find(name);
  return found == interfaces_.end() ? nullptr : found->second;
}

void SwTableInterfacesSingleton::swTableIntfIs(std::string const& name,
                                               Vesk::Ptr<TableInterfaceBase> const& intf) {
  Vesk::Ptr<TableInterfaceBase>& held = interfaces_[name];
  if (held != intf) {
    held = intf;
    publisher().publishKey(*this, "swTableIntf", name);
  }
}

Vesk::Ptr<TableInterfaceBase> SwTableInterfacesSingleton::swTableIntfDel(std::string const& name) {
  auto const found = interfaces_.find(name);
  if (found == interfaces_.end()) {
    return nullptr;
  }
  Vesk::Ptr<TableInterfaceBase> removed = std::move(found->second);
  interfaces_.erase(found);
  publisher().publishKey(*this, "swTableIntf", name);
  return removed;
}

Vesk::TypeData const& SwTableInterfacesSingleton::staticTypeData() {
  using Binding = Vesk::CollectionBinding<SwTableInterfacesSingleton, std::string,
                                          Vesk::Ptr<TableInterfaceBase>>;
  static Vesk::TypeData const& type =
      Vesk::TypeBuilder<SwTableInterfacesSingleton>(typeName, &Quor::Entity::staticTypeData())
          .collection<std::string, Vesk::Ptr<TableInterfaceBase>>(
              "swTableIntf", Binding{.lookup = &SwTableInterfacesSingleton::swTableIntf,
                                     .has = &SwTableInterfacesSingleton::swTableIntfHas,
                                     .insertAt = &SwTableInterfacesSingleton::swTableIntfIs,
                                     .del = &SwTableInterfacesSingleton::swTableIntfDel})
          .creator("SwTableInterfacesSingletonIs",
                   [] {
                     return Vesk::Ptr<SwTableInterfacesSingleton>(new SwTableInterfacesSingleton());
                   })
          .done();
  return type;
}

namespace {
[[maybe_unused]] Vesk::TypeData const& collRegistered = GroupInterfaceColl::staticTypeData();
[[maybe_unused]] Vesk::TypeData const& intfRegistered = OrderedTableInterface::staticTypeData();
[[maybe_unused]] Vesk::TypeData const& baseRegistered = TableInterfaceBase::staticTypeData();
[[maybe_unused]] Vesk::TypeData const& singletonRegistered =
    SwTableInterfacesSingleton::staticTypeData();
}  // namespace

}  // namespace Zido
