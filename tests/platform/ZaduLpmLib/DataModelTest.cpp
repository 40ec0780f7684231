#include <gtest/gtest.h>

#include "ZaduLpmLib/TcamDataModelCodecs.h"
#include "Zido/NeededEntry.h"

namespace ZaduTest {
namespace {

using ZaduLpmLib::TcamDataModelEntry;
using ZaduLpmLib::TcamDataModelEntryKey;

TcamDataModelEntryKey key(char const* text) {
  return Vesk::Codec<TcamDataModelEntryKey>::decode(Vesk::Value(text));
}

TEST(DataModelTest, KeysAndEntriesRoundTripThroughTheirCodecsAndTracedValuesPrint) {
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

  TcamDataModelEntry const entry{{key("192.168.4.0/22"), 77, ZaduLpmLib::TcamAction::trapToCpu, 3},
                                 9};
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

  // Traced values have their text forms.
  Vesk::Ptr<Zido::NeededEntry> needed(new Zido::NeededEntry());
  Vesk::Ptr<Zido::NeededEntry const> const none;
  EXPECT_EQ(fmt::format("{} {}", Vesk::Ptr<Zido::NeededEntry const>(needed), none), "{} null");
  needed->add(Zido::TableVersion(Zido::SwTableId(0x02010809), 5));
  needed->add(Zido::TableVersion(Zido::SwTableId(0x02010809), 3));  // the higher one stays
  EXPECT_EQ(fmt::format("{}", needed), "{02:01:0809@5}");
  ZaduLpmLib::TcamDataModelLogEntry traced;
  traced.entry.key = key("10.0.0.0/8");
  EXPECT_EQ(fmt::format("{}", traced),
            "{entry: {key: 10.0.0.0/8, adjacencyIndex: 0, action: 0, classId: 0}, rsrcKeys: {}}");
}

}  // namespace
}  // namespace ZaduTest
