#include "Rapidlog/RapidlogHandle.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <system_error>

#include "Vesk/Exception.h"

namespace Rapidlog {

namespace {

std::uint64_t nowNs() noexcept {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000000000u +
         static_cast<std::uint64_t>(now.tv_nsec);
}

}  // namespace

RapidlogHandle::RapidlogHandle(std::string path, std::uint64_t ringSize,
                               std::uint64_t messageAreaSize)
    : path_(std::move(path)) {
  if (ringSize < 256 || ringSize % alignment != 0 || messageAreaSize % alignment != 0) {
    throw Vesk::Exception("Rapidlog: the ring needs at least 256 bytes, in multiples of 8");
  }
  mapSize_ = sizeof(FileHeader) + messageAreaSize + ringSize;
  // A new file renamed into place: a reader never sees it half made.
  std::string const temporary = path_ + ".new";
  int const fd = open(temporary.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0640);
  if (fd < 0) {
    throw Vesk::Exception("Rapidlog: cannot create " + temporary + ": " +
                          std::system_category().message(errno));
  }
  if (ftruncate(fd, static_cast<off_t>(mapSize_)) != 0) {
    int const error = errno;
    close(fd);
    throw Vesk::Exception("Rapidlog: cannot size " + temporary + ": " +
                          std::system_category().message(error));
  }
  void* map = mmap(nullptr, mapSize_, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  close(fd);
  if (map == MAP_FAILED) {
    throw Vesk::Exception("Rapidlog: cannot map " + temporary);
  }
  map_ = static_cast<unsigned char*>(map);
  FileHeader& fileHeader = header();
  std::memcpy(fileHeader.magic, fileMagic, sizeof(fileMagic));
  fileHeader.formatVersion = formatVersion;
  fileHeader.headerSize = sizeof(FileHeader);
  fileHeader.messageAreaOffset = sizeof(FileHeader);
  fileHeader.messageAreaSize = messageAreaSize;
  fileHeader.ringOffset = sizeof(FileHeader) + messageAreaSize;
  fileHeader.ringSize = ringSize;
  if (std::rename(temporary.c_str(), path_.c_str()) != 0) {
    munmap(map_, mapSize_);
    throw Vesk::Exception("Rapidlog: cannot rename " + temporary + " to " + path_);
  }
}

RapidlogHandle::~RapidlogHandle() {
  munmap(map_, mapSize_);
}

std::uint32_t RapidlogHandle::messageId(MessageDescriptor const& message) {
  if (auto const found = ids_.find(&message); found != ids_.end()) {
    return found->second;
  }
  std::uint32_t const id = registerMessage(message);
  if (id != 0) {
    ids_.emplace(&message, id);
  }
  return id;
}

std::uint32_t RapidlogHandle::registerMessage(MessageDescriptor const& message) {
  char const* const strings[] = {message.sourceFile, message.classLabel, message.function,
                                 message.text, message.formatCodes};
  std::size_t size = sizeof(MessageEntryHeader);
  for (char const* string : strings) {
    size += std::strlen(string) + 1;
  }
  size = padded(size);
  FileHeader& fileHeader = header();
  if (fileHeader.messageAreaUsed + size > fileHeader.messageAreaSize) {
    return 0;
  }
  unsigned char* entry = map_ + fileHeader.messageAreaOffset + fileHeader.messageAreaUsed;
  std::memset(entry, 0, size);
  MessageEntryHeader const entryHeader{static_cast<std::uint32_t>(size),
                                       fileHeader.messageCount + 1};
  std::memcpy(entry, &entryHeader, sizeof(entryHeader));
  unsigned char* out = entry + sizeof(entryHeader);
  for (char const* string : strings) {
    std::size_t const length = std::strlen(string) + 1;
    std::memcpy(out, string, length);
    out += length;
  }
  // The entry is whole before the count admits it.
  fileHeader.messageAreaUsed += size;
  std::atomic_ref<std::uint32_t>(fileHeader.messageCount)
      .store(entryHeader.messageId, std::memory_order_release);
  return entryHeader.messageId;
}

unsigned char* RapidlogHandle::startMessage(std::uint32_t id, std::size_t argumentBytes) {
  FileHeader& fileHeader = header();
  std::uint64_t const ringSize = fileHeader.ringSize;
  std::uint64_t head = fileHeader.head;
  std::uint64_t const size = padded(sizeof(RecordHeader) + argumentBytes);
  QUOR_ASSERT_MSG(size <= ringSize / 2, "a record fits the ring");
  std::uint64_t const offset = head % ringSize;
  std::uint64_t const skip = offset + size > ringSize ? ringSize - offset : 0;
  // Make room: the records the new one (and a wrap marker) overwrite go.
  while (head + skip + size - fileHeader.tail > ringSize) {
    std::uint64_t const tailOffset = fileHeader.tail % ringSize;
    std::uint32_t recordSize;
    std::memcpy(&recordSize, ring() + tailOffset, sizeof(recordSize));
    fileHeader.tail += recordSize == wrapMarker ? ringSize - tailOffset : recordSize;
  }
  if (skip != 0) {
    std::memcpy(ring() + offset, &wrapMarker, sizeof(wrapMarker));
    head += skip;
  }
  unsigned char* record = ring() + head % ringSize;
  RecordHeader const recordHeader{static_cast<std::uint32_t>(size), id, nowNs()};
  std::memcpy(record, &recordHeader, sizeof(recordHeader));
  std::memset(record + sizeof(recordHeader), 0, size - sizeof(recordHeader));
  pendingHead_ = head + size;
  return record + sizeof(recordHeader);
}

void RapidlogHandle::endMessage() {
  std::atomic_ref<std::uint64_t>(header().head).store(pendingHead_, std::memory_order_release);
}

namespace {

std::unique_ptr<RapidlogHandle>& defaultSlot() {
  static auto* slot = new std::unique_ptr<RapidlogHandle>();
  return *slot;
}

bool& defaultTried() {
  static bool tried = false;
  return tried;
}

}  // namespace

RapidlogHandle* defaultRapidlogHandle() {
  if (!defaultTried()) {
    defaultTried() = true;
    if (char const* file = std::getenv("ZADU_RAPIDLOG_FILE"); file != nullptr && *file != '\0') {
      try {
        defaultSlot() = std::make_unique<RapidlogHandle>(file);
      } catch (Vesk::Exception const& error) {
        std::fprintf(stderr, "%s; no Rapidlog records are written\n", error.what());
      }
    }
  }
  return defaultSlot().get();
}

void defaultRapidlogHandleIs(std::unique_ptr<RapidlogHandle> handle) {
  defaultTried() = true;
  defaultSlot() = std::move(handle);
}

}  // namespace Rapidlog
