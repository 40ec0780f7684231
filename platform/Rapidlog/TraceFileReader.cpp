#include "Rapidlog/TraceFileReader.h"

#include <fmt/args.h>
#include <fmt/format.h>

#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>

#include "Rapidlog/TraceFileFormat.h"

namespace Rapidlog {

namespace {

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
  std::uint64_t offset = header.messageAreaOffset;
  std::uint64_t const end = header.messageAreaOffset + header.messageAreaUsed;
  for (std::uint32_t id = 1; id <= header.messageCount; ++id) {
    auto const entry = readAt<MessageEntryHeader>(bytes, offset, "a message entry");
    if (entry.messageId != id || entry.entrySize < sizeof(entry) + 5 ||
        entry.entrySize % alignment != 0 || offset + entry.entrySize > end) {
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

std::string render(Message const& message, std::string const& bytes, std::uint64_t offset,
                   std::uint64_t argumentBytes, std::uint64_t where) {
  fmt::dynamic_format_arg_store<fmt::format_context> arguments;
  std::uint64_t used = 0;
  for (char code : message.formatCodes) {
    std::size_t const size = argumentSize(code);
    if (used + size > argumentBytes) {
      throw DecodeError(fmt::format("trace file: the record at ring byte {} is too short", where));
    }
    std::uint64_t value = 0;
    std::memcpy(&value, bytes.data() + offset + used, size);  // little-endian
    arguments.push_back(value);
    used += size;
  }
  try {
    return fmt::vformat(message.text, arguments);
  } catch (fmt::format_error const& error) {
    throw DecodeError(fmt::format("trace file: message text \"{}\" does not format: {}",
                                  message.text, error.what()));
  }
}

}  // namespace

std::vector<DecodedRecord> readTraceFile(std::string const& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    throw DecodeError("cannot open " + path);
  }
  std::string const bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  auto const header = readAt<FileHeader>(bytes, 0, "the header");
  if (std::memcmp(header.magic, fileMagic, sizeof(fileMagic)) != 0) {
    throw DecodeError(path + " is not a Rapidlog trace file");
  }
  if (header.formatVersion != formatVersion || header.headerSize != sizeof(FileHeader)) {
    throw DecodeError(fmt::format("{}: trace file format {} is not the one this reader knows ({})",
                                  path, header.formatVersion, formatVersion));
  }
  std::uint64_t const size = bytes.size();
  if (header.messageAreaOffset != sizeof(FileHeader) ||
      header.messageAreaUsed > header.messageAreaSize ||
      header.ringOffset != header.messageAreaOffset + header.messageAreaSize ||
      header.ringSize < 256 || header.ringSize % alignment != 0 || header.ringOffset > size ||
      size - header.ringOffset < header.ringSize || header.head < header.tail ||
      header.head - header.tail > header.ringSize || header.tail % alignment != 0) {
    throw DecodeError(path + ": the header's sizes and positions do not hold together");
  }
  std::vector<Message> const messages = readMessages(bytes, header);
  std::vector<DecodedRecord> records;
  std::uint64_t position = header.tail;
  while (position < header.head) {
    std::uint64_t const offset = position % header.ringSize;
    std::uint64_t const physical = header.ringOffset + offset;
    auto const size = readAt<std::uint32_t>(bytes, physical, "a record");
    if (size == wrapMarker) {
      position += header.ringSize - offset;
      continue;
    }
    auto const record = readAt<RecordHeader>(bytes, physical, "a record");
    if (size < sizeof(RecordHeader) || size % alignment != 0 || offset + size > header.ringSize ||
        position + size > header.head) {
      throw DecodeError(
          fmt::format("{}: the record at ring byte {} has a bad size {}", path, offset, size));
    }
    if (record.messageId == 0 || record.messageId > messages.size()) {
      throw DecodeError(fmt::format("{}: the record at ring byte {} names unknown message {}", path,
                                    offset, record.messageId));
    }
    Message const& message = messages[record.messageId - 1];
    records.push_back({record.timestampNs, message.sourceFile, message.classLabel, message.function,
                       render(message, bytes, physical + sizeof(RecordHeader),
                              size - sizeof(RecordHeader), offset)});
    position += size;
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
