// tcam_log_probe: a second agent process for the tests. It mounts the TCAM
// entry log under the ZADU_SHM_ROOT it inherits, as the tests' agent does,
// through the central entity manager named <manager>, and prints the table
// version after its command:
//
//   tcam_log_probe <manager> version               the version loaded at mount
//   tcam_log_probe <manager> write <unit> <count>  writes <count> entries
//                                                  (keys 1000..)
//   tcam_log_probe <manager> cleanup <version>     cleans the change log up to
//                                                  it, and prints the records
//                                                  left
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

#include "ZaduLpm/TcamEntryLog.h"
#include "ZaduLpmLib/TcamConstants.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr,
                 "usage: tcam_log_probe <manager> version | write <unit> <count> | cleanup <v>\n");
    return 2;
  }
  char const* const manager = argv[1];
  argc -= 1;
  argv += 1;
  try {
    Vesk::Ptr<Centrum::EntityManager> central(new Centrum::EntityManager(manager, true));
    Vesk::Ptr<Zido::GroupInterface> group(
        new Zido::GroupInterface(ZaduLpmLib::TcamConstants::agentName,
                                 ZaduLpmLib::TcamConstants::groupName, 0x0201, central, nullptr));
    auto const log =
        ZaduLpm::tcamEntryLogFactory(Zido::SwTableId(ZaduLpmLib::TcamConstants::tableIdValue),
                                     central, group, ZaduLpmLib::TcamConstants::agentName);
    if (std::strcmp(argv[1], "write") == 0 && argc == 4) {
      auto const unit = static_cast<Zido::UnitId>(std::atoi(argv[2]));
      log->mountPantryConfig(unit, 0);
      for (int n = 0; n < std::atoi(argv[3]); ++n) {
        ZaduLpmLib::TcamDataModelLogEntry logEntry;
        logEntry.entry.key = ZaduLpmLib::TcamDataModelEntryKey(1000u + n, 32);
        log->entryIs(logEntry, {}, nullptr, unit, nullptr, false);
      }
    } else if (std::strcmp(argv[1], "cleanup") == 0 && argc == 3) {
      log->cleanupEntryLog(std::strtoull(argv[2], nullptr, 10));
      std::printf("%llu ",
                  static_cast<unsigned long long>(log->tableEntryLog()->entryLogConfig().count()));
    } else if (std::strcmp(argv[1], "version") != 0) {
      std::fprintf(stderr, "tcam_log_probe: unknown command\n");
      return 2;
    }
    std::printf("%llu\n", static_cast<unsigned long long>(log->tableVersion()));
    return 0;
  } catch (std::exception const& error) {
    std::fprintf(stderr, "tcam_log_probe: %s\n", error.what());
    return 1;
  }
}
