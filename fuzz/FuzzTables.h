// The fuzz targets' valid shared-memory files: a configuration table and a
// change log of `capacity` records holding a few records each, made once per
// process, whose bytes the targets damage or follow.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ZaduLpmLib/TcamDataModelPantry.h"
#include "fuzz/FuzzInput.h"

namespace ZaduFuzz {

inline constexpr std::uint64_t capacity = 64;

inline ZaduLpmLib::TcamDataModelEntryKey keyOf(std::uint32_t n) {
  return ZaduLpmLib::TcamDataModelEntryKey((10u << 24) | (n << 8), 24);
}

template <class Collection>
Vesk::Ptr<Collection> mount(std::string const& path, bool writer) {
  return writer ? Collection::mountWriter(path, capacity, "Fuzz::Pantry", "fuzz", false, 0600)
                : Collection::mountReader(path, capacity, "Fuzz::Pantry", "fuzz");
}

// Keys 0 to 5, versions 1 to 6.
inline std::vector<std::uint8_t> const& validConfigTable() {
  static std::vector<std::uint8_t> const bytes = [] {
    std::filesystem::path const path = scratchDirectory() / "config-template";
    std::filesystem::remove(path);
    {
      auto const made = mount<ZaduLpmLib::TcamDataModelConfigMap>(path, true);
      for (std::uint32_t n = 0; n < 6; ++n) {
        ZaduLpmLib::TcamDataModelConfigPantryEntry record;
        record.logEntry.entry.key = keyOf(n);
        record.logVersion = n + 1;
        made->insert(record);
      }
    }
    return readFile(path);
  }();
  return bytes;
}

// Versions 1 to 5 on unit 0.
inline std::vector<std::uint8_t> const& validChangeLog() {
  static std::vector<std::uint8_t> const bytes = [] {
    std::filesystem::path const path = scratchDirectory() / "log-template";
    std::filesystem::remove(path);
    {
      auto const made = mount<ZaduLpmLib::TcamDataModelLogRing>(path, true);
      for (std::uint64_t version = 1; version <= 5; ++version) {
        ZaduLpmLib::TcamDataModelLogPantryEntry record;
        record.version = version;
        record.entry.key = keyOf(static_cast<std::uint32_t>(version));
        record.unitId = 0;
        made->insert(record);
      }
    }
    return readFile(path);
  }();
  return bytes;
}

}  // namespace ZaduFuzz
