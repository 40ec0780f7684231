#include "ZaduLpm/TcamSwTableHelperBase.h"

#include "Vesk/TypeBuilder.h"
#include "ZaduLpm/TcamInfraTypes.h"
#include "ZaduLpm/TcamSwTable.h"

namespace ZaduLpm {

void TcamSwTableHelperBase::finalizeOnSuccess(Vesk::Ptr<TcamEntryWrapper> const&, bool,
                                              Vesk::Ptr<TcamSwTable> const&) {}

bool TcamSwTableHelperBase::finalizeOnFailure(Vesk::Ptr<TcamEntryWrapper> const&, bool,
                                              Vesk::Ptr<TcamSwTable> const&) {
  return false;
}

bool TcamSwTableHelperBase::finalizeOnResourceUpdate(Vesk::Ptr<TcamEntryWrapper> const&,
                                                     Vesk::Ptr<TcamSwTable> const&, bool) {
  return true;
}

Vesk::Ptr<TcamSwTableHelperBase> TcamSwTableHelperBase::TcamSwTableHelperBaseIs() {
  return tcamSwTableHelperBaseFactory();
}

Vesk::Ptr<TcamSwTableHelperBase> tcamSwTableHelperBaseFactory() {
  return Vesk::Ptr<TcamSwTableHelperBase>(new TcamSwTableHelperBase());
}

Vesk::TypeData const& TcamSwTableHelperBase::staticTypeData() {
  // The calls go through the virtual operations, so a derived helper answers.
  static Vesk::TypeData const& type =
      Vesk::TypeBuilder<TcamSwTableHelperBase>("ZaduLpm::TcamSwTableHelperBase",
                                               &Vesk::Node::staticTypeData())
          .operation("finalizeOnSuccess", &TcamSwTableHelperBase::finalizeOnSuccess)
          .operation("finalizeOnFailure", &TcamSwTableHelperBase::finalizeOnFailure)
          .operation("finalizeOnResourceUpdate", &TcamSwTableHelperBase::finalizeOnResourceUpdate)
          .creator("TcamSwTableHelperBaseIs", &TcamSwTableHelperBase::TcamSwTableHelperBaseIs)
          .done();
  return type;
}

namespace {
[[maybe_unused]] Vesk::TypeData const& registered = TcamSwTableHelperBase::staticTypeData();
}  // namespace

}  // namespace ZaduLpm
