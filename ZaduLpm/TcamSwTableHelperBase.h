// ZaduLpm::TcamSwTableHelperBase: the client's callbacks of a TCAM software
// table. The table tells the helper about every write and remove it commits
// (finalizeOnSuccess, before the change is logged), asks it whether a
// re-derived entry is logged again (finalizeOnResourceUpdate, from
// updateEntry), and offers a failure report (finalizeOnFailure) to whoever
// calls it through a wrapper.
//
// A client derives from this class and overrides what it cares about; the
// base accepts everything and does nothing, and every table starts with one.
// One helper may serve several tables: each callback names its table.
//
// Thread safety: called on the agent's thread, synchronously inside the
// table's commit and updateEntry.
#pragma once

#include "Hunkpool/Pool.h"
#include "Vesk/Node.h"
#include "Vesk/Ptr.h"

namespace ZaduLpm {

class TcamEntryWrapper;
class TcamSwTable;

class TcamSwTableHelperBase : public Vesk::Node {
  HUNKPOOL_CLASS_ALLOCATION(TcamSwTableHelperBase)

 public:
  Vesk::TypeData const& typeData() const override { return staticTypeData(); }
  static Vesk::TypeData const& staticTypeData();

  // A write (`isDelete` false) or remove (`isDelete` true) of `entry` is
  // being committed. Does nothing here.
  virtual void finalizeOnSuccess(Vesk::Ptr<TcamEntryWrapper> const& entry, bool isDelete,
                                 Vesk::Ptr<TcamSwTable> const& swTable);
  // An operation on `entry` failed; the answer goes back to the wrapper's
  // caller. False here.
  virtual bool finalizeOnFailure(Vesk::Ptr<TcamEntryWrapper> const& entry, bool isDelete,
                                 Vesk::Ptr<TcamSwTable> const& swTable);
  // A committed entry was re-derived; the helper may change the wrapper's
  // entry and answers whether a changed entry is logged again. True here.
  virtual bool finalizeOnResourceUpdate(Vesk::Ptr<TcamEntryWrapper> const& entry,
                                        Vesk::Ptr<TcamSwTable> const& swTable,
                                        bool someResourceHasFailed);

  static Vesk::Ptr<TcamSwTableHelperBase> TcamSwTableHelperBaseIs();
};

// A new helper with the defaults above.
Vesk::Ptr<TcamSwTableHelperBase> tcamSwTableHelperBaseFactory();

}  // namespace ZaduLpm
