// ZaduLpmLib::TcamConstants: the fixed names and paths of the TCAM table.
//
// Paths are entity paths of the shared-memory namespace of the agent's
// central store (QuorSharedMem::EntityManager), under the framework's path
// base of the table (Zido::Constants):
//   change log                  zido/ZaduRoute-ZaduRoute/ZaduLpm/Tcam/entryLog
//   configuration of unit n     zido/ZaduRoute-ZaduRoute/ZaduLpm/Tcam/config/unit<n>
#pragma once

#include <string>

#include "Zido/Identifiers.h"

namespace ZaduLpmLib {

class TcamConstants {
 public:
  static constexpr char const* tableName = "Tcam";
  static constexpr char const* agentName = "ZaduRoute";
  static constexpr char const* groupName = "ZaduRoute";
  static constexpr char const* tableNamespace = "ZaduLpm";
  static constexpr std::uint32_t tableIdValue = 0x02010809;
  static constexpr std::uint64_t entryLogCapacity = 1000000;
  static constexpr std::uint64_t configCapacity = 65536;

  // The group's canonical name ("ZaduRoute-ZaduRoute"), under which the
  // group's collections live: change logs, configurations, needed entries,
  // table versions.
  static std::string canonicalGroupName();
  static std::string const& tableEntryLogPantryPath();
  // Distinct per unit; Zido::Constants::getUnitIdFromConfigPath inverts it.
  static std::string configPantryPath(Zido::UnitId unitId);
  // The path under which every unit's configuration table lives.
  static std::string configPantryPathBase();
};

}  // namespace ZaduLpmLib
