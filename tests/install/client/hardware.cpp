// A stand-in for the hardware side, built against the installed package: it
// takes every version the agent logs as soon as it appears, by publishing the
// change log's high key, for the given number of seconds.
#include <chrono>
#include <cstdlib>
#include <thread>

#include "Centrum/EntityManager.h"
#include "QuorSharedMem/EntityManager.h"
#include "ZaduLpm/TcamInterface.h"
#include "ZaduLpmLib/TcamConstants.h"
#include "ZaduLpmLib/TcamDataModelPantry.h"
#include "Zido/Agent.h"
#include "Zido/Constants.h"
#include "Zido/GroupInterface.h"

int main(int argc, char** argv) {
  auto const until =
      std::chrono::steady_clock::now() + std::chrono::seconds(argc > 1 ? std::atoi(argv[1]) : 10);
  Vesk::Ptr<Centrum::EntityManager> central(
      new Centrum::EntityManager(Zido::Agent::defaultStoreName, true));
  auto const sharedMemory =
      QuorSharedMem::EntityManager::getEntityManager(Zido::Agent::defaultStoreName, true);
  Zido::TableVersionPublisher publisher(
      *central, Zido::Constants::canonicalizeGroupName(ZaduLpmLib::TcamConstants::agentName,
                                                       ZaduLpmLib::TcamConstants::groupName));
  Vesk::Ptr<ZaduLpmLib::TcamDataModelEntryLogPantry> changeLog;
  while (std::chrono::steady_clock::now() < until) {
    if (!changeLog) {
      changeLog =
          Vesk::dynamicPtrCast<ZaduLpmLib::TcamDataModelEntryLogPantry>(sharedMemory->mountExisting(
              ZaduLpmLib::TcamConstants::tableEntryLogPantryPath(), QuorPantry::MountInfo::reader));
    } else if (changeLog->entryLogConfig().count() != 0) {
      publisher.publish(ZaduLpm::TcamInterface::tableId(), changeLog->entryLogConfig().highKey());
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return 0;
}
