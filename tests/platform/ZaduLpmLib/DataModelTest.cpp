#include <gtest/gtest.h>

#include <cstdlib>

#include "QuorSharedMem/EntityManager.h"
#include "Vesk/TypeData.h"
#include "ZaduLpmLib/TcamConstants.h"
#include "ZaduLpmLib/TcamDataModelCodecs.h"
#include "ZaduLpmLib/TcamDataModelPantry.h"
#include "Zido/Constants.h"
#include "Zido/NeededEntry.h"
#include "support/ScratchDirectory.h"

namespace ZaduTest {
namespace {

using ZaduLpmLib::TcamDataModelEntry;
using ZaduLpmLib::TcamDataModelEntryKey;

TcamDataModelEntryKey key(char const* text) {
  return Vesk::Codec<TcamDataModelEntryKey>::decode(Vesk::Value(text));
}

TEST(DataModelTest, KeysPrintOrderAndHashStably) {
  TcamDataModelEntryKey const net = key("10.1.0.0/16");
  EXPECT_EQ(net, TcamDataModelEntryKey(0x0A010000, 16));
  EXPECT_EQ(fmt::format("{}", net), "10.1.0.0/16");
  EXPECT_LT(key("10.1.0.0/16"), key("10.1.0.0/24"));
  EXPECT_LT(key("9.255.0.0/32"), key("10.0.0.0/8"));
  EXPECT_EQ(net.hash(), key("10.1.0.0/16").hash());
  EXPECT_NE(net.hash(), key("10.1.0.0/17").hash());
  for (char const* bad :
       {"10.1.0/16", "10.1.0.0", "10.1.0.0/33", "256.1.0.0/8", "a.b.c.d/1", "10.1.0.0/16x"}) {
    EXPECT_THROW(key(bad), Vesk::TypeMismatchError) << bad;
  }
}

TEST(DataModelTest, EntriesRoundTripThroughTheirCodecs) {
  TcamDataModelEntry entry;
  entry.data.key = key("192.168.4.0/22");
  entry.data.adjacencyIndex = 77;
  entry.data.action = ZaduLpmLib::TcamAction::trapToCpu;
  entry.data.classId = 3;
  entry.clientCookie = 9;
  Vesk::Value const encoded = Vesk::Codec<TcamDataModelEntry>::encode(entry);
  EXPECT_EQ(Vesk::Codec<TcamDataModelEntry>::decode(encoded), entry);
  EXPECT_EQ(encoded.field("adjacencyIndex"), Vesk::Value(77));

  // The log keeps the logged part only.
  ZaduLpmLib::TcamDataModelLogEntry const logEntry{entry.data, {}};
  auto const back = Vesk::Codec<ZaduLpmLib::TcamDataModelLogEntry>::decode(
      Vesk::Codec<ZaduLpmLib::TcamDataModelLogEntry>::encode(logEntry));
  EXPECT_TRUE(back.isEq(logEntry));

  Vesk::Value::Record badAction = encoded.asRecord();
  badAction[2].value = Vesk::Value(9);
  EXPECT_THROW(Vesk::Codec<TcamDataModelEntry>::decode(Vesk::Value(badAction)),
               Vesk::TypeMismatchError);
}

TEST(DataModelTest, TracedValuesHaveTheirTextForms) {
  Vesk::Ptr<Zido::NeededEntry> needed(new Zido::NeededEntry());
  Vesk::Ptr<Zido::NeededEntry const> const none;
  EXPECT_EQ(fmt::format("{} {}", Vesk::Ptr<Zido::NeededEntry const>(needed), none), "{} null");
  needed->add(Zido::TableVersion(Zido::SwTableId(0x02010809), 5));
  needed->add(Zido::TableVersion(Zido::SwTableId(0x02010809), 3));  // the higher one stays
  EXPECT_EQ(fmt::format("{}", needed), "{02:01:0809@5}");
  ZaduLpmLib::TcamDataModelLogEntry logEntry;
  logEntry.entry.key = key("10.0.0.0/8");
  EXPECT_EQ(fmt::format("{}", logEntry),
            "{entry: {key: 10.0.0.0/8, adjacencyIndex: 0, action: 0, classId: 0}, rsrcKeys: {}}");
}

TEST(DataModelTest, ConfigurationPathsAreDistinctPerUnitAndInvertible) {
  EXPECT_NE(ZaduLpmLib::TcamConstants::configPantryPath(1),
            ZaduLpmLib::TcamConstants::configPantryPath(2));
  EXPECT_EQ(
      Zido::Constants::getUnitIdFromConfigPath(ZaduLpmLib::TcamConstants::configPantryPath(513)),
      513);
  std::string const base = Zido::Constants::canonicalGroupTableConfigPantryPathBase(
      Zido::Constants::canonicalizeGroupName("ZaduRoute", "ZaduRoute"), "ZaduLpm", "Tcam");
  EXPECT_TRUE(ZaduLpmLib::TcamConstants::configPantryPath(0).starts_with(base));
  EXPECT_FALSE(ZaduLpmLib::TcamConstants::tableEntryLogPantryPath().starts_with(base));
}

// Mounts a pantry entity of type T as the writer, under a fresh root.
class PantryMountTest : public ::testing::Test {
 protected:
  void SetUp() override { setenv("ZADU_SHM_ROOT", scratch.path().c_str(), 1); }
  void TearDown() override { unsetenv("ZADU_SHM_ROOT"); }

  template <class T>
  Vesk::Ptr<T> mount(std::string const& path, char const* collection, std::uint64_t size) {
    auto manager = QuorSharedMem::EntityManager::getEntityManager(
        ::testing::UnitTest::GetInstance()->current_test_info()->name(), true);
    QuorPantry::MountInfo info;
    info.collectionInfoIs(QuorPantry::CollectionInfo{collection, size, 0});
    auto group = manager->getMountGroup();
    group->mount(path, T::typeName, info);
    group->doClose();
    return Vesk::dynamicPtrCast<T>(manager->getEntity(path));
  }

  ScratchDirectory scratch;
};

TEST_F(PantryMountTest, ConfigurationTablesMountAndAnswerReflection) {
  auto config = mount<ZaduLpmLib::TcamDataModelConfigPantry>(
      ZaduLpmLib::TcamConstants::configPantryPath(0), "swTableEntries", 65536);
  ASSERT_TRUE(config);

  ZaduLpmLib::TcamDataModelConfigPantryEntry record;
  record.logVersion = 4;
  record.logEntry.entry.key = key("10.0.0.0/8");
  record.logEntry.entry.adjacencyIndex = 12;
  config->swTableEntriesIs(record);
  EXPECT_EQ(config->swTableEntries().lookup(key("10.0.0.0/8")).record, record);

  Vesk::Value const viaReflection =
      Vesk::collectionLookup(*config, "swTableEntries", Vesk::Value("10.0.0.0/8"));
  EXPECT_EQ(viaReflection.field("logVersion"), Vesk::Value(4));
  EXPECT_EQ(viaReflection.field("logEntry").field("adjacencyIndex"), Vesk::Value(12));
  EXPECT_EQ(Vesk::collectionCount(*config, "swTableEntries"), 1u);
  EXPECT_TRUE(config->swTableEntriesDel(key("10.0.0.0/8")));
  EXPECT_FALSE(config->swTableEntriesDel(key("10.0.0.0/8")));
}

TEST_F(PantryMountTest, TheChangeLogMountsAndIsWalkedByVersion) {
  auto log = mount<ZaduLpmLib::TcamDataModelEntryLogPantry>(
      ZaduLpmLib::TcamConstants::tableEntryLogPantryPath(), "entryLogConfig", 1000000);
  ASSERT_TRUE(log);
  EXPECT_FALSE(log->collectionControl()->wiped());
  EXPECT_EQ(log->collectionControl()->scratchpad(), 0u);

  for (Zido::LogVersion version = 1; version <= 5; ++version) {
    ZaduLpmLib::TcamDataModelLogPantryEntry record;
    record.version = version;
    record.unitId = static_cast<Zido::UnitId>(version % 2);
    record.entry.key = TcamDataModelEntryKey(static_cast<std::uint32_t>(version) << 24, 8);
    record.flags = version == 5 ? ZaduLpmLib::TcamDataModelLogPantryEntry::tableDeletedBit : 0;
    log->entryLogConfigIs(record);
  }
  EXPECT_EQ(log->entryLogConfig().count(), 5u);
  EXPECT_TRUE(log->entryLogConfig().lookup(5).record.tableDeleted());
  EXPECT_FALSE(log->entryLogConfig().lookup(6).found);
  EXPECT_EQ(log->entryLogConfig().lookup(6).record.unitId, 0xFFFF);  // the default record

  // A cleanup-like walk that removes as it goes.
  std::vector<Zido::LogVersion> removed;
  for (auto record = log->entryLogConfig().first(); record;
       record = log->entryLogConfig().nextAfter(record->version)) {
    if (record->version <= 3) {
      EXPECT_TRUE(log->entryLogConfigDel(record->version));
      removed.push_back(record->version);
    }
  }
  EXPECT_EQ(removed, (std::vector<Zido::LogVersion>{1, 2, 3}));
  EXPECT_EQ(Vesk::collectionCount(*log, "entryLogConfig"), 2u);
  EXPECT_EQ(Vesk::collectionLookup(*log, "entryLogConfig", Vesk::Value(4)).field("unitId"),
            Vesk::Value(0));
}

}  // namespace
}  // namespace ZaduTest
