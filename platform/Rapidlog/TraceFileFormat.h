// The layout of a Rapidlog trace file, shared by the writer (RapidlogHandle)
// and the reader (TraceFileReader).
//
// A trace file is one memory-mapped file of three parts:
//
//   header        FileHeader, at offset 0.
//   message area  the messages registered on this file, appended in id order
//                 (ids from 1): MessageEntryHeader, then five NUL-terminated
//                 strings (source file, class label, function, text, format
//                 codes), padded to 8 bytes.
//   ring          the binary records, a ring buffer of ringSize bytes. A
//                 record is RecordHeader, then its arguments packed at their
//                 natural sizes in the order of the message's format codes,
//                 padded to 8 bytes. A record never wraps: when it does not
//                 fit before the ring's end, a wrap marker (a record size of
//                 wrapMarker) fills the rest and the record starts at offset 0.
//
// Positions. head and tail count bytes ever written to the ring (the physical
// offset is the position modulo ringSize): records live in [tail, head).
// The writer stores a record's bytes before it advances head, and moves tail
// past the records a new one overwrites before it writes, so a file left by a
// killed process decodes up to its last whole record.
//
// Format codes, one per argument: 'c' 8 bits, 's' 16 bits, 'i' 32 bits, 'l'
// 64 bits, all unsigned; the text's "{}" placeholders take the arguments in
// order.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Rapidlog {

inline constexpr char fileMagic[8] = {'Z', 'R', 'A', 'P', 'L', 'O', 'G', '1'};
inline constexpr std::uint32_t formatVersion = 1;
inline constexpr std::uint32_t wrapMarker = 0xFFFFFFFFu;
inline constexpr std::size_t alignment = 8;

struct FileHeader {
  char magic[8];
  std::uint32_t formatVersion;
  std::uint32_t headerSize;
  std::uint64_t messageAreaOffset;
  std::uint64_t messageAreaSize;
  std::uint64_t ringOffset;
  std::uint64_t ringSize;
  std::uint64_t messageAreaUsed;  // bytes of the message area in use
  std::uint32_t messageCount;     // ids 1 .. messageCount
  std::uint32_t reserved;
  std::uint64_t head;  // written by the writer with release order, last
  std::uint64_t tail;
  std::uint64_t padding[6];
};
static_assert(sizeof(FileHeader) == 128);

struct MessageEntryHeader {
  std::uint32_t entrySize;  // header, strings and padding
  std::uint32_t messageId;
};
static_assert(sizeof(MessageEntryHeader) == 8);

struct RecordHeader {
  std::uint32_t recordSize;  // header, arguments and padding; or wrapMarker
  std::uint32_t messageId;
  std::uint64_t timestampNs;  // UTC, nanoseconds since the epoch
};
static_assert(sizeof(RecordHeader) == 16);

// The size of one argument of format code `code`; 0 for an unknown code.
constexpr std::size_t argumentSize(char code) noexcept {
  switch (code) {
    case 'c':
      return 1;
    case 's':
      return 2;
    case 'i':
      return 4;
    case 'l':
      return 8;
    default:
      return 0;
  }
}

constexpr std::size_t padded(std::size_t size) noexcept {
  return (size + alignment - 1) & ~(alignment - 1);
}

}  // namespace Rapidlog
