#include <gtest/gtest.h>

#include "ZaduLpmLib/Ipv4Text.h"
#include "ZaduLpmLib/TcamDataModelCodecs.h"
#include "Zido/NeededEntry.h"

namespace ZaduTest {
namespace {

using ZaduLpmLib::TcamDataModelEntry;
using ZaduLpmLib::TcamDataModelEntryKey;

TcamDataModelEntryKey key(char const* text) {
  return Vesk::Codec<TcamDataModelEntryKey>::decode(Vesk::Value(text));
}

// Whether the TCAM can hold a key is decided in one place; the codec reads a
// key as written (reads must find nothing under a bad one, not fail), and
// the text parser and the writers' check agree with it.
TEST(DataModelTest, AKeyIsValidWithALengthUpTo32AndNoHostBitsAndAnErrorNamesItsFault) {
  struct Case {
    char const* text;
    char const* fault;
  };
  for (Case const& each : {
           Case{"0.0.0.0/0", ""},
           Case{"10.0.0.0/8", ""},
           Case{"10.1.255.255/32", ""},
           Case{"10.1.128.0/17", ""},
           Case{"10.1.0.1/16", "host bits set below the prefix length"},
           Case{"10.1.128.0/16", "host bits set below the prefix length"},
           Case{"0.0.0.1/0", "host bits set below the prefix length"},
           Case{"10.1.0.0/33", "prefix length above 32"},
           Case{"0.0.0.0/255", "prefix length above 32"},
       }) {
    SCOPED_TRACE(each.text);
    TcamDataModelEntryKey const decoded = key(each.text);
    EXPECT_EQ(fmt::format("{}", decoded), each.text);
    EXPECT_EQ(decoded.fault(), each.fault);
    EXPECT_EQ(decoded.valid(), *each.fault == '\0');
    EXPECT_EQ(ZaduLpmLib::parsePrefix(each.text).has_value(), decoded.valid());
    if (decoded.valid()) {
      EXPECT_NO_THROW(ZaduLpmLib::requireValidKey(decoded));
    } else {
      try {
        ZaduLpmLib::requireValidKey(decoded);
        ADD_FAILURE() << "accepted";
      } catch (ZaduLpmLib::InvalidKeyError const& error) {
        EXPECT_EQ(error.what(), std::string(each.text) + ": " + each.fault);
      }
    }
  }
  static_assert(TcamDataModelEntryKey(0x0A010000, 16).valid());
  static_assert(!TcamDataModelEntryKey(0x0A010001, 16).valid());
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
       {"10.1.0/16", "10.1.0.0", "10.1.0.0/256", "256.1.0.0/8", "a.b.c.d/1", "10.1.0.0/16x"}) {
    EXPECT_THROW(key(bad), Vesk::TypeMismatchError) << bad;
  }
  EXPECT_THROW(Vesk::Codec<TcamDataModelEntryKey>::decode(
                   Vesk::Value::Record{{"prefix", Vesk::Value(0u)}, {"length", Vesk::Value(256u)}}),
               Vesk::TypeMismatchError);

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
