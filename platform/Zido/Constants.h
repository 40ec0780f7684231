// Zido::Constants: the framework's names and paths.
//
//   canonicalizeGroupName(agent, group)        "<agent>-<group>"
//   canonicalGroupTableConfigPantryPathBase(g, namespace, table)
//                                             "zido/<g>/<namespace>/<table>/config/"
//   configPantryPath(g, namespace, table, unit) the base followed by "unit<unit>"
//   getUnitIdFromConfigPath(path)              the unit of such a path
//   tableVersionPantryPath(g)                  "zido/<g>/tableVersions"
//   neededEntryPantryPath(g, tableId)          "zido/<g>/neededEntries/<tableId, 8 hex digits>"
//   relaunchGenIdPath(agent)                   "hardware/charm/agent/relaunch/config/<agent>"
#pragma once

#include <string>
#include <string_view>

#include "Zido/Identifiers.h"

namespace Zido {

class Constants {
 public:
  static std::string canonicalizeGroupName(std::string_view agentName, std::string_view groupName);
  static std::string canonicalGroupTableConfigPantryPathBase(std::string_view canonicalGroupName,
                                                             std::string_view tableNamespace,
                                                             std::string_view tableName);
  static std::string configPantryPath(std::string_view canonicalGroupName,
                                      std::string_view tableNamespace, std::string_view tableName,
                                      UnitId unitId);
  // Raises Vesk::Exception for a path that is not a configuration path.
  static UnitId getUnitIdFromConfigPath(std::string_view path);
  static std::string tableVersionPantryPath(std::string_view canonicalGroupName);
  static std::string neededEntryPantryPath(std::string_view canonicalGroupName, SwTableId tableId);
  static std::string relaunchGenIdPath(std::string_view agentName);
};

}  // namespace Zido
