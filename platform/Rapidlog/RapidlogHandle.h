// Rapidlog::RapidlogHandle: writes binary trace records to a memory-mapped
// ring-buffer trace file (layout in TraceFileFormat.h).
//
// A message is described once, statically (MessageDescriptor: source file,
// class label, function, text with "{}" placeholders, one format code per
// argument). The first record of a message on a file registers the message
// there and gets its id; every record then holds only the id, a timestamp
// and the binary arguments, so a record costs a clock read and a few stores.
// A decoder (TraceFileReader, the rapidlog_decode tool) turns the file back
// into text.
//
// The process's default handle (defaultRapidlogHandle) writes to the file
// named by the environment variable ZADU_RAPIDLOG_FILE; without it there is no
// default handle and no record is written. A record that cannot be written
// (the message area is full) is counted in droppedRecords; tracing never
// raises into the caller.
//
// Thread safety: one handle is used by one thread (the agent's).
#pragma once

#include <absl/container/flat_hash_map.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>

#include "Quor/Assert.h"
#include "Rapidlog/TraceFileFormat.h"

namespace Rapidlog {

struct MessageDescriptor {
  char const* sourceFile;
  char const* classLabel;
  char const* function;
  char const* text;
  char const* formatCodes;  // one code per argument, for example "is"
};

class RapidlogHandle {
 public:
  static constexpr std::uint64_t defaultRingSize = 1u << 20;
  static constexpr std::uint64_t defaultMessageAreaSize = 64u << 10;

  // Creates (or replaces) the trace file at `path`. Raises Vesk::Exception
  // when the file cannot be made.
  explicit RapidlogHandle(std::string path, std::uint64_t ringSize = defaultRingSize,
                          std::uint64_t messageAreaSize = defaultMessageAreaSize);
  ~RapidlogHandle();
  RapidlogHandle(RapidlogHandle const&) = delete;
  RapidlogHandle& operator=(RapidlogHandle const&) = delete;

  std::string const& path() const noexcept { return path_; }
  std::uint64_t droppedRecords() const noexcept { return droppedRecords_; }

  // Writes one record of `message` with `arguments` (unsigned integers whose
  // sizes match the message's format codes; a mismatch is a fatal assertion).
  template <class... Args>
  void record(MessageDescriptor const& message, Args... arguments) {
    static_assert((std::is_unsigned_v<Args> && ...), "arguments are unsigned integers");
    std::uint32_t const id = messageId(message);
    if (id == 0) {
      ++droppedRecords_;
      return;
    }
    constexpr std::size_t argumentBytes = (sizeof(Args) + ... + 0);
    QUOR_ASSERT_MSG(std::strlen(message.formatCodes) == sizeof...(Args),
                    "one argument per format code");
    unsigned char* out = startMessage(id, argumentBytes);
    std::size_t index = 0;
    auto const put = [&](auto value) {
      QUOR_ASSERT_MSG(argumentSize(message.formatCodes[index]) == sizeof(value),
                      "argument size matches its format code");
      ++index;
      std::memcpy(out, &value, sizeof(value));
      out += sizeof(value);
    };
    (put(arguments), ...);
    endMessage();
  }

 private:
  // The message's id on this file, registering it first; 0 when the message
  // area has no room.
  std::uint32_t messageId(MessageDescriptor const& message);
  std::uint32_t registerMessage(MessageDescriptor const& message);
  // Reserves a record for `argumentBytes` of arguments; returns where they go.
  unsigned char* startMessage(std::uint32_t id, std::size_t argumentBytes);
  void endMessage();
  FileHeader& header() const noexcept { return *reinterpret_cast<FileHeader*>(map_); }
  unsigned char* ring() const noexcept { return map_ + header().ringOffset; }

  std::string path_;
  unsigned char* map_ = nullptr;
  std::size_t mapSize_ = 0;
  absl::flat_hash_map<MessageDescriptor const*, std::uint32_t> ids_;
  std::uint64_t pendingHead_ = 0;  // head once the open record ends
  std::uint64_t droppedRecords_ = 0;
};

// The process's default handle, or null. Made on first use from
// ZADU_RAPIDLOG_FILE; a file that cannot be made leaves no handle (reported
// once on standard error).
RapidlogHandle* defaultRapidlogHandle();
// Replaces the default handle (null: none); for tests and for agents that
// choose the file themselves.
void defaultRapidlogHandleIs(std::unique_ptr<RapidlogHandle> handle);

}  // namespace Rapidlog
