#include "Rapidlog/TraceFileReader.h"

#include <fmt/format.h>

#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>

#include "Rapidlog/TraceFileFormat.h"

namespace Rapidlog {

namespace {

// Far above any ring a handle makes; a bigger file is not a trace file.
constexpr std::uint64_t maximumFileSize = std::uint64_t{1} << 30;

struct Message {
  std::string sourceFile;
  std::string classLabel;
  std::string function;
  std::string text;
  std::string formatCodes;
};

template <class T>
T readAt(std::string const& bytes, std::uint64_t offset, char const* what) {
  if (offset > bytes.size() || bytes.size() - offset < sizeof(T)) {
    throw DecodeError(fmt::format("trace file: {} at byte {} lies beyond the file ({} bytes)", what,
                                  offset, bytes.size()));
  }
  T value;
  std::memcpy(&value, bytes.data() + offset, sizeof(T));
  return value;
}

std::vector<Message> readMessages(std::string const& bytes, FileHeader const& header) {
  std::vector<Message> messages;
  // The header's check bounds the area within the file.
  std::uint64_t offset = header.messageAreaOffset;
  std::uint64_t const end = header.messageAreaOffset + header.messageAreaUsed;
  for (std::uint32_t id = 1; id <= header.messageCount; ++id) {
    auto const entry = readAt<MessageEntryHeader>(bytes, offset, "a message entry");
    if (entry.messageId != id || entry.entrySize < sizeof(entry) + 5 ||
        entry.entrySize % alignment != 0 || offset > end || entry.entrySize > end - offset) {
      throw DecodeError(
          fmt::format("trace file: message entry {} at byte {} is malformed", id, offset));
    }
    std::string_view strings(bytes.data() + offset + sizeof(entry),
                             entry.entrySize - sizeof(entry));
    std::string fields[5];
    for (std::string& field : fields) {
      std::size_t const nul = strings.find('\0');
      if (nul == std::string_view::npos) {
        throw DecodeError(fmt::format("trace file: message entry {} lacks a field", id));
      }
      field.assign(strings.substr(0, nul));
      strings.remove_prefix(nul + 1);
    }
    for (char code : fields[4]) {
      if (argumentSize(code) == 0) {
        throw DecodeError(
            fmt::format("trace file: message {} has an unknown format code '{}'", id, code));
      }
    }
    messages.push_back({fields[0], fields[1], fields[2], fields[3], fields[4]});
    offset += entry.entrySize;
  }
  return messages;
}

// The text with each "{}" replaced by the next argument, in decimal. Only
// bare placeholders are formatted: the text comes from the file.
std::string render(Message const& message, std::string const& bytes, std::uint64_t offset,
                   std::uint64_t argumentBytes, std::uint64_t where) {
  std::vector<std::uint64_t> arguments;
  std::uint64_t used = 0;
  for (char code : message.formatCodes) {
    std::size_t const size = argumentSize(code);
    if (size > argumentBytes - used) {
      throw DecodeError(fmt::format("trace file: the record at ring byte {} is too short", where));
    }
    std::uint64_t value = 0;
    std::memcpy(&value, bytes.data() + offset + used, size);  // little-endian
    arguments.push_back(value);
    used += size;
  }
  std::string text;
  std::size_t next = 0;
  for (std::size_t at = 0; at < message.text.size(); ++at) {
    if (message.text.compare(at, 2, "{}") == 0) {
      if (next == arguments.size()) {
        throw DecodeError(
            fmt::format("trace file: message text \"{}\" has more placeholders "
                        "than format codes",
                        message.text));
      }
      text += fmt::format("{}", arguments[next++]);
      ++at;
    } else {
      text += message.text[at];
    }
  }
  if (next != arguments.size()) {
    throw DecodeError(fmt::format(
        "trace file: message text \"{}\" has fewer placeholders than format codes", message.text));
  }
  return text;
}

}  // namespace

std::vector<DecodedRecord> readTraceFile(std::string const& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    throw DecodeError("cannot open " + path);
  }
  std::string bytes;
  char chunk[1 << 16];
  while (bytes.size() <= maximumFileSize && file.read(chunk, sizeof(chunk)).gcount() > 0) {
    bytes.append(chunk, static_cast<std::size_t>(file.gcount()));
  }
  if (bytes.size() > maximumFileSize) {
    throw DecodeError(
        fmt::format("{} is larger than a trace file can be ({} bytes)", path, maximumFileSize));
  }
  auto const header = readAt<FileHeader>(bytes, 0, "the header");
  if (std::memcmp(header.magic, fileMagic, sizeof(fileMagic)) != 0) {
    throw DecodeError(path + " is not a Rapidlog trace file");
  }
  if (header.formatVersion != formatVersion || header.headerSize != sizeof(FileHeader)) {
    throw DecodeError(fmt::format("{}: trace file format {} is not the one this reader knows ({})",
                                  path, header.formatVersion, formatVersion));
  }
  // Every comparison subtracts from what is known to be larger, so that no
  // value from the file can make a sum wrap.
  std::uint64_t const size = bytes.size();
  std::uint64_t const afterHeader = size - sizeof(FileHeader);
  bool const consistent =
      header.messageAreaOffset == sizeof(FileHeader) && header.messageAreaSize <= afterHeader &&
      header.messageAreaUsed <= header.messageAreaSize &&
      header.ringOffset == sizeof(FileHeader) + header.messageAreaSize && header.ringSize >= 256 &&
      header.ringSize % alignment == 0 && header.ringSize <= afterHeader - header.messageAreaSize &&
      header.tail <= header.head && header.head - header.tail <= header.ringSize &&
      header.tail % alignment == 0;
  if (!consistent) {
    throw DecodeError(path + ": the header's sizes and positions do not hold together");
  }
  std::vector<Message> const messages = readMessages(bytes, header);
  std::vector<DecodedRecord> records;
  std::uint64_t position = header.tail;
  while (position < header.head) {
    std::uint64_t const left = header.head - position;
    std::uint64_t const offset = position % header.ringSize;
    std::uint64_t const physical = header.ringOffset + offset;
    auto const recordSize = readAt<std::uint32_t>(bytes, physical, "a record");
    if (recordSize == wrapMarker) {
      if (header.ringSize - offset >= left) {
        break;  // nothing whole after the marker
      }
      position += header.ringSize - offset;
      continue;
    }
    auto const record = readAt<RecordHeader>(bytes, physical, "a record");
    if (recordSize < sizeof(RecordHeader) || recordSize % alignment != 0 ||
        recordSize > header.ringSize - offset || recordSize > left) {
      throw DecodeError(fmt::format("{}: the record at ring byte {} has a bad size {}", path,
                                    offset, recordSize));
    }
    if (record.messageId == 0 || record.messageId > messages.size()) {
      throw DecodeError(fmt::format("{}: the record at ring byte {} names unknown message {}", path,
                                    offset, record.messageId));
    }
    Message const& message = messages[record.messageId - 1];
    records.push_back({record.timestampNs, message.sourceFile, message.classLabel, message.function,
                       render(message, bytes, physical + sizeof(RecordHeader),
                              recordSize - sizeof(RecordHeader), offset)});
    position += recordSize;
  }
  return records;
}

std::string formatTimestamp(std::uint64_t timestampNs) {
  std::time_t const seconds = static_cast<std::time_t>(timestampNs / 1000000000u);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[32];
  std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S", &utc);
  return fmt::format("{}.{:06}", text, (timestampNs % 1000000000u) / 1000u);
}

}  // namespace Rapidlog
