#include "ZaduLpmLib/TcamConstants.h"

#include <fmt/format.h>

#include "Zido/Constants.h"

namespace ZaduLpmLib {

namespace {

std::string canonicalGroup() {
  return Zido::Constants::canonicalizeGroupName(TcamConstants::agentName, TcamConstants::groupName);
}

}  // namespace

std::string const& TcamConstants::tableEntryLogPantryPath() {
  static std::string const path =
      fmt::format("zido/{}/{}/{}/entryLog", canonicalGroup(), tableNamespace, tableName);
  return path;
}

std::string TcamConstants::configPantryPath(Zido::UnitId unitId) {
  return Zido::Constants::configPantryPath(canonicalGroup(), tableNamespace, tableName, unitId);
}

std::string TcamConstants::configPantryPathBase() {
  return Zido::Constants::canonicalGroupTableConfigPantryPathBase(canonicalGroup(), tableNamespace,
                                                                  tableName);
}

}  // namespace ZaduLpmLib
