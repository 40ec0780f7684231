#include "Zido/Constants.h"

#include <fmt/format.h>

#include <charconv>

#include "Vesk/Exception.h"

namespace Zido {

std::string Constants::canonicalizeGroupName(std::string_view agentName,
                                             std::string_view groupName) {
  return fmt::format("{}-{}", agentName, groupName);
}

std::string Constants::canonicalGroupTableConfigPantryPathBase(std::string_view canonicalGroupName,
                                                               std::string_view tableNamespace,
                                                               std::string_view tableName) {
  return fmt::format("zido/{}/{}/{}/config/", canonicalGroupName, tableNamespace, tableName);
}

std::string Constants::configPantryPath(std::string_view canonicalGroupName,
                                        std::string_view tableNamespace, std::string_view tableName,
                                        UnitId unitId) {
  return fmt::format(
      "{}unit{}",
      canonicalGroupTableConfigPantryPathBase(canonicalGroupName, tableNamespace, tableName),
      unitId);
}

UnitId Constants::getUnitIdFromConfigPath(std::string_view path) {
  constexpr std::string_view marker = "/config/unit";
  std::size_t const at = path.rfind(marker);
  std::string_view const digits =
      at == std::string_view::npos ? std::string_view() : path.substr(at + marker.size());
  unsigned value = 0;
  auto const [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() ||
      value > 0xFFFF || (digits.size() > 1 && digits.front() == '0')) {
    throw Vesk::Exception(fmt::format(
        "'{}' is not a configuration path (expected .../config/unit<0 to 65535>)", path));
  }
  return static_cast<UnitId>(value);
}

std::string Constants::tableVersionPantryPath(std::string_view canonicalGroupName) {
  return fmt::format("zido/{}/tableVersions", canonicalGroupName);
}

std::string Constants::neededEntryPantryPath(std::string_view canonicalGroupName,
                                             SwTableId tableId) {
  return fmt::format("zido/{}/neededEntries/{:08x}", canonicalGroupName, tableId.value());
}

std::string Constants::relaunchGenIdPath(std::string_view agentName) {
  return fmt::format("hardware/charm/agent/relaunch/config/{}", agentName);
}

}  // namespace Zido
