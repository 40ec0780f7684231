// The reader of the agent's shared memory in this process: reads that meet a
// change under them start again from nothing, reads that keep meeting changes
// are reported, and StoreFiles finds units and refuses files it cannot use.
#include "ZaduRead/Reader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "ZaduLpm/AdjacencyTable.h"
#include "support/TcamTableFixture.h"

namespace ZaduTest {
namespace {

using ZaduLpmLib::AdjacencyKey;
using ZaduLpmLib::NextHopPath;
using ZaduRead::ReadError;

// Makes the `at`-th slot read of a reader mount of `Map` (1 for the first)
// fail as a slot torn by a writer does, `times` times in a row; 0 times never.
template <class Map>
class TornSlot {
 public:
  TornSlot(int at, int times) {
    at_ = at;
    times_ = times;
    reads_ = 0;
    Map::afterReaderSlotRead = [](std::uint64_t slot) {
      if (++reads_ >= at_ && times_ > 0) {
        --times_;
        reads_ = 0;
        throw Vesk::CorruptionDetectedException("slot " + std::to_string(slot) +
                                                " changed under the read");
      }
    };
  }
  ~TornSlot() { Map::afterReaderSlotRead = nullptr; }
  TornSlot(TornSlot const&) = delete;
  TornSlot& operator=(TornSlot const&) = delete;

  static int left() { return times_; }

 private:
  static inline int at_ = 0;
  static inline int times_ = 0;
  static inline int reads_ = 0;
};

using TornConfig = TornSlot<ZaduLpmLib::TcamDataModelConfigMap>;
using TornAdjacency = TornSlot<ZaduLpmLib::AdjacencyConfigMap>;
using TornLog = TornSlot<ZaduLpmLib::TcamDataModelLogRing>;

class ReaderTest : public TcamTableFixture {
 protected:
  void SetUp() override {
    TcamTableFixture::SetUp();
    entryLog->mountPantryConfig(1, 0);
    for (std::uint32_t n = 0; n < 5; ++n) {
      logWrite(n, 0);  // versions 1 to 5 on unit 0
    }
    logWrite(7, 1);                            // version 6 on unit 1
    entryLog->entryDel(keyOf(1), nullptr, 0);  // version 7
  }
  ZaduRead::Reader reader() { return ZaduRead::Reader(scratch.path().string(), central->name()); }
};

TEST_F(ReaderTest, AReadThatMeetsAChangeStartsAgainFromNothing) {
  // Undisturbed first, then with one read torn after some records were
  // taken: every answer must be the undisturbed one, nothing counted twice.
  ZaduRead::Status const status = reader().status();
  ASSERT_EQ(status.units.size(), 2u);
  EXPECT_EQ(status.units[0].live, 4u);
  EXPECT_EQ(status.units[0].inDeletion, 1u);
  for (int at : {2, 3, 5}) {
    SCOPED_TRACE("torn at slot read " + std::to_string(at));
    {
      TornConfig torn(at, 1);
      ZaduRead::Status const again = reader().status();
      EXPECT_EQ(TornConfig::left(), 0);
      ASSERT_EQ(again.units.size(), 2u);
      for (std::size_t unit = 0; unit < 2; ++unit) {
        EXPECT_EQ(again.units[unit].live, status.units[unit].live);
        EXPECT_EQ(again.units[unit].inDeletion, status.units[unit].inDeletion);
      }
    }
    {
      auto const undisturbed = reader().entries(0, std::nullopt, false);
      TornConfig torn(at, 1);
      auto const entries = reader().entries(0, std::nullopt, false);
      EXPECT_EQ(TornConfig::left(), 0);
      ASSERT_EQ(entries.size(), undisturbed.size());
      for (std::size_t each = 0; each < entries.size(); ++each) {
        EXPECT_EQ(entries[each].entry.key, undisturbed[each].entry.key);
      }
    }
  }
  // The change log's walk.
  auto const undisturbedLog = reader().log(0, ~std::uint64_t{0}, 0);
  {
    TornLog torn(3, 1);
    auto const log = reader().log(0, ~std::uint64_t{0}, 0);
    EXPECT_EQ(TornLog::left(), 0);
    ASSERT_EQ(log.size(), undisturbedLog.size());
    for (std::size_t each = 0; each < log.size(); ++each) {
      EXPECT_EQ(log[each].version, undisturbedLog[each].version);
    }
  }
  // A lookup reads a slot or two: the first read is torn.
  TornConfig torn(1, 1);
  auto const match = reader().routeGet(0, keyOf(3).prefix | 1);
  EXPECT_EQ(TornConfig::left(), 0);
  ASSERT_TRUE(match.has_value());
  EXPECT_EQ(match->entry.key, keyOf(3));
}

TEST_F(ReaderTest, AdjacencyReadsStartAgainToo) {
  Vesk::Ptr<ZaduLpm::AdjacencyTable> const adjacencies =
      new ZaduLpm::AdjacencyTable(central, group, nullptr);
  for (std::uint32_t gateway = 1; gateway <= 4; ++gateway) {
    adjacencies->adjacencyWrite(AdjacencyKey::of(NextHopPath{0x0A000000 + gateway, 1}));
  }
  commitAll();
  TornAdjacency torn(2, 1);
  auto const listed = reader().adjacencies(false);
  EXPECT_EQ(TornAdjacency::left(), 0);
  ASSERT_EQ(listed.size(), 4u);
  for (std::uint32_t each = 0; each < 4; ++each) {
    EXPECT_EQ(listed[each].index, each + 1);
  }
}

TEST_F(ReaderTest, AReadThatKeepsMeetingChangesIsReportedAsDamaged) {
  TornConfig torn(1, 1000);
  try {
    reader().entries(0, std::nullopt, false);
    FAIL() << "a read torn every time was answered";
  } catch (ReadError const& error) {
    EXPECT_EQ(error.code(), ReadError::damaged);
    EXPECT_NE(std::string(error.what()).find("changed under the read"), std::string::npos)
        << error.what();
  }
}

TEST_F(ReaderTest, StoreFilesFindUnitsAndRefuseFilesTheyCannotUse) {
  ZaduRead::StoreFiles const files(scratch.path().string(), central->name());
  std::filesystem::path const configs =
      std::filesystem::path(files.filePath(ZaduLpmLib::TcamConstants::configPantryPath(0)))
          .parent_path();
  // Files beside the units' that are no unit's configuration are not units.
  std::ofstream(configs / "unit3.tmp") << "x";
  std::ofstream(configs / "notaunit.pantry") << "x";
  EXPECT_EQ(files.units(), (std::vector<Zido::UnitId>{0, 1}));

  EXPECT_EQ(files.config(9), nullptr);          // no file: not there (yet)
  EXPECT_EQ(files.adjacencyConfig(), nullptr);  // the agent has no adjacency table
  EXPECT_NE(files.changeLog(), nullptr);

  // A file that is not a segment of the expected collection.
  std::ofstream(files.filePath(ZaduLpmLib::TcamConstants::configPantryPath(5))) << "not a segment";
  try {
    files.config(5);
    FAIL() << "a foreign file was mounted";
  } catch (ReadError const& error) {
    EXPECT_EQ(error.code(), ReadError::damaged);
  }
  // A directory on the way that is a link leads nowhere.
  std::filesystem::path const moved = scratch.path() / "moved";
  std::filesystem::rename(configs, moved);
  std::filesystem::create_directory_symlink(moved, configs);
  try {
    files.config(0);
    FAIL() << "a configuration behind a link was mounted";
  } catch (ReadError const& error) {
    EXPECT_EQ(error.code(), ReadError::permission);
  }
}

}  // namespace
}  // namespace ZaduTest
