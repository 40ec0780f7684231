#include "QuorSharedMem/EntityManager.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include "Centrum/EntityManager.h"
#include "support/ChildProcess.h"
#include "support/RouteRecords.h"
#include "support/ScratchDirectory.h"

namespace ZaduTest {
namespace {

using QuorPantry::CollectionEntity;

[[maybe_unused]] bool const registeredRoutes = [] {
  QuorPantry::registerCollectionEntity<RouteMap>("Test::RouteTable");
  QuorPantry::registerCollectionEntity<LogRing>("Test::ChangeLog");
  return true;
}();

// Each test uses its own root and its own manager name (managers are kept
// per name for the life of the process).
class EntityManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("ZADU_SHM_ROOT", scratch.path().c_str(), 1);
    name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    manager = QuorSharedMem::EntityManager::getEntityManager(name, true);
  }
  void TearDown() override {
    unsetenv("ZADU_SHM_ROOT");
    unsetenv("ZADU_SHM_GROUP_READ");
  }

  static QuorPantry::MountInfo info(std::uint32_t pantryType = QuorPantry::MountInfo::writer,
                                    std::uint64_t size = 1024) {
    QuorPantry::MountInfo mountInfo(pantryType);
    mountInfo.collectionInfoIs(QuorPantry::CollectionInfo{"routes", size, 0});
    return mountInfo;
  }

  Vesk::Ptr<CollectionEntity<RouteMap>> mount(std::string const& path,
                                              QuorPantry::MountInfo const& mountInfo = info()) {
    auto group = manager->getMountGroup();
    group->mount(path, "Test::RouteTable", mountInfo);
    group->doClose();
    return Vesk::dynamicPtrCast<CollectionEntity<RouteMap>>(manager->getEntity(path));
  }

  ScratchDirectory scratch;
  std::string name;
  Vesk::Ptr<QuorSharedMem::EntityManager> manager;
};

TEST_F(EntityManagerTest, MountGroupsMountEntitiesThatAreFoundByPath) {
  auto group = manager->getMountGroup();
  EXPECT_EQ(group->mount("zadu/route/config/unit0", "Test::RouteTable", info()), 1u);
  EXPECT_EQ(group->pending(), 1u);
  EXPECT_FALSE(manager->getEntity("zadu/route/config/unit0"));
  group->doClose();
  EXPECT_EQ(group->pending(), 0u);

  auto entity = Vesk::dynamicPtrCast<CollectionEntity<RouteMap>>(
      manager->getEntity("zadu/route/config/unit0"));
  ASSERT_TRUE(entity);
  entity->collection().insert(RouteRecord::make(routeKey(1), 1, 1));

  // Mounting a mounted path again keeps the entity.
  EXPECT_EQ(mount("zadu/route/config/unit0"), entity);
  EXPECT_TRUE(
      std::filesystem::exists(scratch.path() / "local" / name / "zadu/route/config/unit0.pantry"));
}

TEST_F(EntityManagerTest, BadRequestsAndDirectoriesThatAreLinksAreRefused) {
  for (std::string const path : {"", "/abs", "a//b", "a/../b", "a/./b", "a/b/", "a b"}) {
    EXPECT_THROW(mount(path), Vesk::Exception) << path;
  }
  auto group = manager->getMountGroup();
  group->mount("x", "Test::NoSuchType", info());
  EXPECT_THROW(group->doClose(), Vesk::Exception);
  EXPECT_EQ(group->pending(), 1u);

  QuorPantry::MountInfo noCollection;
  EXPECT_THROW(mount("y", noCollection), Vesk::Exception);
  mount("z");
  auto other = manager->getMountGroup();
  other->mount("z", "Test::ChangeLog", info());
  EXPECT_THROW(other->doClose(), Vesk::Exception);
  EXPECT_THROW(QuorSharedMem::EntityManager::getEntityManager("a/b", true), Vesk::Exception);

  // A mounted path asked for again with another access or capacity.
  EXPECT_THROW(mount("z", info(QuorPantry::MountInfo::writer, 2048)), Vesk::Exception);
  manager->unmount("z");
  mount("z", info(QuorPantry::MountInfo::reader));
  EXPECT_THROW(mount("z"), Vesk::Exception);

  // A directory that is a link is refused.
  std::filesystem::create_directories(scratch.path() / "elsewhere");
  std::filesystem::create_directories(scratch.path() / "local" / name);
  std::filesystem::create_directory_symlink(scratch.path() / "elsewhere",
                                            scratch.path() / "local" / name / "linked");
  EXPECT_THROW(mount("linked/unit0"), Vesk::Exception);
  // A reader does not follow it either.
  std::filesystem::create_directories(scratch.path() / "elsewhere" / "inner");
  EXPECT_THROW(mount("linked/inner/unit0", info(QuorPantry::MountInfo::reader)), Vesk::Exception);

  // A relative root would put the files wherever the process runs.
  setenv("ZADU_SHM_ROOT", "relative/root", 1);
  try {
    QuorSharedMem::EntityManager::getEntityManager(name + "Relative", true);
    ADD_FAILURE() << "a relative root was accepted";
  } catch (Vesk::Exception const& error) {
    EXPECT_STREQ(
        error.what(),
        "shared-memory root 'relative/root' is not an absolute path (one that starts with '/')");
  }
}

TEST_F(EntityManagerTest,
       ANewPathIsNotWipedALostOneIsAndFilesAreOwnerOnlyUnlessGroupReadIsGranted) {
  auto entity = mount("cfg/unit1");
  EXPECT_FALSE(entity->collectionControl()->wiped());
  EXPECT_TRUE(manager->heldBefore("cfg/unit1"));
  entity->collection().insert(RouteRecord::make(routeKey(1), 1, 1));
  entity.reset();
  manager->unmount("cfg/unit1");

  std::filesystem::remove(manager->filePathOf("cfg/unit1"));
  entity = mount("cfg/unit1");
  auto control = entity->collectionControl();
  EXPECT_TRUE(control->wiped());
  EXPECT_EQ(entity->collection().count(), 0u);
  control->clearWiped();
  EXPECT_FALSE(control->wiped());

  // Files are the owner's only unless group read is granted.
  mount("private");
  struct stat status {};
  ASSERT_EQ(stat(manager->filePathOf("private").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);

  setenv("ZADU_SHM_GROUP_READ", "1", 1);
  mount("team/shared");
  ASSERT_EQ(stat(manager->filePathOf("team/shared").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0640u);
  ASSERT_EQ(stat((manager->directory() + "/team").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0750u);
}

TEST_F(EntityManagerTest, FindEntitiesListsWhatLiesUnderAPath) {
  mount("zadu/lpm/config/unit0");
  mount("zadu/lpm/config/unit12");
  mount("zadu/lpm/configuration");
  mount("zadu/lpm/log");
  auto listing = manager->findEntities("zadu/lpm/config/", QuorSharedMem::pantryType);
  EXPECT_EQ(listing->countSize(), 2u);
  EXPECT_EQ(listing->count("zadu/lpm/config/unit12"), "Test::RouteTable");
  EXPECT_FALSE(listing->countHas("zadu/lpm/configuration"));
  EXPECT_EQ(manager->findEntities("zadu/lpm", QuorSharedMem::pantryType)->countSize(), 4u);
  EXPECT_EQ(manager->findEntities("nothing/here", QuorSharedMem::pantryType)->countSize(), 0u);
}

TEST_F(EntityManagerTest, NamespacesAreApartAndTheCentralStoreFindsPersistedEntities) {
  auto shared = QuorSharedMem::EntityManager::getEntityManager(name, false);
  EXPECT_NE(shared, manager);
  EXPECT_EQ(QuorSharedMem::EntityManager::getEntityManager(name, true), manager);
  EXPECT_NE(shared->directory(), manager->directory());
  EXPECT_EQ(Centrum::EntityManager(name, false).sharedMemory(), shared);

  // The central store finds a persisted entity by its path, after a restart too.

  std::string const path = "hardware/charm/agent/relaunch/config/Test";
  {
    Centrum::EntityManager central(name, true);
    EXPECT_FALSE(central.getEntity(path));
    auto entity = mount(path);
    entity->collectionControl()->scratchpadIs(5);
    EXPECT_EQ(central.getEntity(path), entity);
  }
  // As after a restart: the process holds nothing, the segment remains.
  manager->unmount(path);
  Centrum::EntityManager restarted(name, true);
  auto found = Vesk::dynamicPtrCast<CollectionEntity<RouteMap>>(restarted.getEntity(path));
  ASSERT_TRUE(found);
  EXPECT_EQ(found->collectionControl()->scratchpad(), 5u);
  EXPECT_TRUE(found->collection().writable());

  // Placed entities are shared by every manager of the same name and flag.
  Centrum::EntityManager one(name, true);
  Centrum::EntityManager two(name, true);
  one.entityIs("placed", manager);
  EXPECT_EQ(two.getEntity("placed"), manager);
  one.entityIs("placed", nullptr);
  EXPECT_FALSE(two.getEntity("placed"));
}

TEST_F(EntityManagerTest, AReaderInAnotherProcessSeesTheWritersRecords) {
  auto entity = mount("cfg/unit3");
  for (std::uint32_t n = 0; n < 20; ++n) {
    entity->collection().insert(RouteRecord::make(routeKey(n), n, 1));
  }
  ChildProcess reader([&](int reportFd) {
    // Forget the writer entity inherited through fork, then mount read-only.
    manager->unmount("cfg/unit3");
    auto readerEntity = mount("cfg/unit3", info(QuorPantry::MountInfo::reader));
    sendMessage(reportFd, readerEntity->collection().count());
    bool const readOnly = !readerEntity->collection().writable();
    return readOnly && readerEntity->collection().lookup(routeKey(4)).record.nextHop == 4 ? 0 : 1;
  });
  EXPECT_EQ(reader.readOne<std::uint64_t>(), 20u);
  EXPECT_EQ(reader.wait(), 0);
}

}  // namespace
}  // namespace ZaduTest
