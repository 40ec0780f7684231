#include "QuorSharedMem/MountGroup.h"

#include "QuorSharedMem/EntityManager.h"
#include "Vesk/TypeBuilder.h"

namespace QuorSharedMem {

MountGroup::MountGroup(Vesk::Ptr<EntityManager> manager) : manager_(std::move(manager)) {}

std::size_t MountGroup::mount(std::string const& path, std::string const& typeName,
                              QuorPantry::MountInfo const& info) {
  queued_.push_back(Request{path, typeName, info});
  return queued_.size();
}

void MountGroup::doClose() {
  while (!queued_.empty()) {
    Request const& request = queued_.front();
    manager_->mount(request.path, request.typeName, request.info);
    queued_.erase(queued_.begin());
  }
}

Vesk::TypeData const& MountGroup::staticTypeData() {
  static Vesk::TypeData const& type =
      Vesk::TypeBuilder<MountGroup>("QuorSharedMem::MountGroup", &Quor::Entity::staticTypeData())
          .attribute("pending", &MountGroup::pending)
          .operation("doClose", &MountGroup::doClose)
          .done();
  return type;
}

namespace {
[[maybe_unused]] Vesk::TypeData const& registered = MountGroup::staticTypeData();
}  // namespace

}  // namespace QuorSharedMem
