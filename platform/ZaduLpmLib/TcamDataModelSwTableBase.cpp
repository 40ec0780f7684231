#include "ZaduLpmLib/TcamDataModelSwTableBase.h"

#include "Vesk/TypeBuilder.h"
#include "ZaduLpmLib/TcamDataModelCodecs.h"

namespace ZaduLpmLib {

Vesk::TypeData const& TcamDataModelSwTableBase::EntryHandle::staticTypeData() {
  static Vesk::TypeData const& type =
      Vesk::TypeBuilder<EntryHandle>("ZaduLpmLib::TcamDataModelSwTableBase::EntryHandle",
                                     &Zido::OrderedEntryHandle::staticTypeData())
          .attribute("key", &EntryHandle::key)
          .done();
  return type;
}

Vesk::TypeData const& TcamDataModelSwTableBase::staticTypeData() {
  static Vesk::TypeData const& type =
      Vesk::TypeBuilder<TcamDataModelSwTableBase>("ZaduLpmLib::TcamDataModelSwTableBase",
                                                  &Zido::OrderedSwTable::staticTypeData())
          .done();
  return type;
}

void TcamDataModelSwTableIteratorState::stateIs(Flags state) {
  if (state != state_) {
    state_ = state;
    publisher().publish(*this, "state");
  }
}

Vesk::TypeData const& TcamDataModelSwTableIteratorState::staticTypeData() {
  static Vesk::TypeData const& type =
      Vesk::TypeBuilder<TcamDataModelSwTableIteratorState>(
          "ZaduLpmLib::TcamDataModelSwTableIteratorState", &Vesk::Node::staticTypeData())
          .attribute(
              "state",
              [](TcamDataModelSwTableIteratorState const& iterState) {
                return iterState.state().value();
              },
              [](TcamDataModelSwTableIteratorState& iterState, std::uint32_t bits) {
                iterState.stateIs(TcamDataModelSwTableIteratorStateFlags(bits));
              })
          .done();
  return type;
}

namespace {
[[maybe_unused]] Vesk::TypeData const& handleRegistered =
    TcamDataModelSwTableBase::EntryHandle::staticTypeData();
[[maybe_unused]] Vesk::TypeData const& tableRegistered = TcamDataModelSwTableBase::staticTypeData();
[[maybe_unused]] Vesk::TypeData const& stateRegistered =
    TcamDataModelSwTableIteratorState::staticTypeData();
}  // namespace

}  // namespace ZaduLpmLib
