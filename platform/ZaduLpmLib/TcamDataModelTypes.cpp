#include "ZaduLpmLib/TcamDataModelTypes.h"

namespace ZaduLpmLib {

void throwInvalidKey(TcamDataModelEntryKey const& key) {
  throw InvalidKeyError(fmt::format("{}: {}", key, key.fault()));
}

}  // namespace ZaduLpmLib
