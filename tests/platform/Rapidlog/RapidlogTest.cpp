// The Rapidlog trace file: records written and decoded, message registration
// once per file, the ring's wrap-around, a killed writer's file, and damaged
// files refused with a clear error.
#include <fmt/format.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "Rapidlog/RapidlogHandle.h"
#include "Rapidlog/TraceFileReader.h"
#include "support/ChildProcess.h"
#include "support/ScratchDirectory.h"

namespace ZaduTest {
namespace {

Rapidlog::MessageDescriptor const unitMessage{"RapidlogTest", "Probe", "clear", " Clearing unit {}",
                                              "s"};
Rapidlog::MessageDescriptor const countMessage{"RapidlogTest", "Probe", "restore",
                                               " Restored {} of {} (id {})", "ils"};

std::vector<std::string> messagesOf(std::string const& path) {
  std::vector<std::string> messages;
  for (auto const& record : Rapidlog::readTraceFile(path)) {
    messages.push_back(record.message);
  }
  return messages;
}

class RapidlogTest : public ::testing::Test {
 protected:
  std::string path() const { return scratch.file("trace.rlog"); }
  std::string bytes() const {
    std::ifstream file(path(), std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  }
  void writeBytes(std::string const& contents) const {
    std::ofstream(path(), std::ios::binary | std::ios::trunc) << contents;
  }
  ScratchDirectory scratch;
};

TEST_F(RapidlogTest, RecordsDecodeToTheirTextsWithTheirOriginAndTheRingKeepsTheNewest) {
  {
    Rapidlog::RapidlogHandle handle(path());
    handle.record(unitMessage, std::uint16_t{3});
    handle.record(countMessage, std::uint32_t{5}, std::uint64_t{1} << 40, std::uint16_t{65535});
    handle.record(unitMessage, std::uint16_t{4});
  }
  auto const records = Rapidlog::readTraceFile(path());
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].message, " Clearing unit 3");
  EXPECT_EQ(records[1].message, " Restored 5 of 1099511627776 (id 65535)");
  EXPECT_EQ(records[0].sourceFile, "RapidlogTest");
  EXPECT_EQ(records[0].classLabel, "Probe");
  EXPECT_EQ(records[1].function, "restore");
  EXPECT_LE(records[0].timestampNs, records[2].timestampNs);
  EXPECT_THAT(Rapidlog::formatTimestamp(records[0].timestampNs),
              ::testing::MatchesRegex("20[0-9][0-9]-[0-9][0-9]-[0-9][0-9] "
                                      "[0-9][0-9]:[0-9][0-9]:[0-9][0-9]\\.[0-9]{6}"));
  // Registered once: the message area holds two entries.
  std::string const file = bytes();
  Rapidlog::FileHeader header;
  std::memcpy(&header, file.data(), sizeof(header));
  EXPECT_EQ(header.messageCount, 2u);

  // The ring keeps the newest whole records.
  {
    Rapidlog::RapidlogHandle handle(scratch.file("ring.rlog"), 256);
    for (std::uint16_t n = 0; n < 100; ++n) {
      handle.record(unitMessage, n);
    }
  }
  std::vector<std::string> const messages = messagesOf(scratch.file("ring.rlog"));
  ASSERT_FALSE(messages.empty());
  EXPECT_LE(messages.size(), 256u / 24);
  EXPECT_EQ(messages.back(), " Clearing unit 99");
  for (std::size_t i = 1; i < messages.size(); ++i) {
    EXPECT_EQ(messages[i], fmt::format(" Clearing unit {}", 100 - messages.size() + i));
  }
}

TEST_F(RapidlogTest, AKilledWritersFileDecodesUpToItsLastRecord) {
  ChildProcess writer([&](int reportFd) {
    Rapidlog::RapidlogHandle handle(path(), 4096);
    for (std::uint16_t n = 0; n < 50; ++n) {
      handle.record(unitMessage, n);
    }
    sendMessage(reportFd, 1);
    pause();
    return 0;
  });
  EXPECT_EQ(writer.readOne<int>(), 1);
  writer.killNow();
  std::vector<std::string> const messages = messagesOf(path());
  ASSERT_EQ(messages.size(), 50u);
  EXPECT_EQ(messages.back(), " Clearing unit 49");
}

TEST_F(RapidlogTest, DamagedFilesAreRefusedWithAClearError) {
  {
    Rapidlog::RapidlogHandle handle(path(), 1024);
    handle.record(unitMessage, std::uint16_t{1});
    handle.record(countMessage, std::uint32_t{1}, std::uint64_t{2}, std::uint16_t{3});
  }
  std::string const good = bytes();
  Rapidlog::FileHeader header;
  std::memcpy(&header, good.data(), sizeof(header));
  // The good file with `with` over its bytes from `offset` on.
  auto const patched = [&](std::size_t offset, std::string const& with) {
    std::string damaged = good;
    return damaged.replace(offset, with.size(), with);
  };
  auto const asBytes = [](auto const& value) {
    return std::string(reinterpret_cast<char const*>(&value), sizeof(value));
  };
  // Positions near 2^64, which a careless bounds test would let wrap.
  Rapidlog::FileHeader nearTheEnd = header;
  nearTheEnd.tail = ~std::uint64_t{0} - 255;
  nearTheEnd.head = nearTheEnd.tail + 248;
  Rapidlog::FileHeader hugeArea = header;
  hugeArea.messageAreaSize = ~std::uint64_t{0} - 127;
  hugeArea.messageAreaUsed = hugeArea.messageAreaSize - 128;
  std::size_t const text = good.find(" Clearing unit {}");
  std::vector<std::pair<char const*, std::string>> const cases{
      {"not a trace file", patched(0, "NOTATRACE")},
      {"format 7", patched(8, std::string("\x07\0\0\0", 4))},
      {"positions near 2^64", patched(0, asBytes(nearTheEnd))},
      {"message area beyond the file", patched(0, asBytes(hugeArea))},
      {"truncated", good.substr(0, 100)},
      {"empty", ""},
      {"record size", patched(header.ringOffset, asBytes(std::uint32_t{0x7FFFFFF0}))},
      {"message id", patched(header.ringOffset + 4, asBytes(std::uint32_t{9}))},
      {"format code", patched(good.find(std::string("ils\0", 4)), "x")},
      {"placeholder", patched(text + 15, "}{")},
      {"width from the file", patched(text + 10, "{:999}")}};
  for (auto const& [what, contents] : cases) {
    writeBytes(contents);
    EXPECT_THROW(Rapidlog::readTraceFile(path()), Rapidlog::DecodeError) << what;
  }
  // Random damage: refused or decoded, never a crash.
  std::mt19937 random(7);
  for (int round = 0; round < 300; ++round) {
    std::string damaged = good;
    for (int flips = 0; flips < 4; ++flips) {
      damaged[random() % damaged.size()] ^= static_cast<char>(1 + random() % 255);
    }
    writeBytes(damaged);
    try {
      Rapidlog::readTraceFile(path());
    } catch (Rapidlog::DecodeError const&) {
    }
  }
}

}  // namespace
}  // namespace ZaduTest
