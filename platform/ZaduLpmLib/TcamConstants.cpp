#include "ZaduLpmLib/TcamConstants.h"

#include <fmt/format.h>

#include "Zido/Constants.h"

namespace ZaduLpmLib {

std::string TcamConstants::canonicalGroupName() {
  return Zido::Constants::canonicalizeGroupName(agentName, groupName);
}

std::string const& TcamConstants::tableEntryLogPantryPath() {
  static std::string const path =
      fmt::format("zido/{}/{}/{}/entryLog", canonicalGroupName(), tableNamespace, tableName);
  return path;
}

std::string TcamConstants::configPantryPath(Zido::UnitId unitId) {
  return Zido::Constants::configPantryPath(canonicalGroupName(), tableNamespace, tableName, unitId);
}

std::string TcamConstants::configPantryPathBase() {
  return Zido::Constants::canonicalGroupTableConfigPantryPathBase(canonicalGroupName(),
                                                                  tableNamespace, tableName);
}

}  // namespace ZaduLpmLib
