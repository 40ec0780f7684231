#include "Pantry/Segment.h"

#include "Quor/Assert.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>
#include <vector>

namespace Pantry {

namespace {

[[noreturn]] void systemError(std::string const& what, std::string const& path) {
  throw Vesk::Exception(fmt::format("{} {}: {}", what, path, std::strerror(errno)));
}

Format::Fingerprint fingerprintOf(SegmentGeometry const& geometry) {
  if (Format::slotWordsFor(geometry.recordBytes) > Format::maxSlotWords) {
    throw Vesk::Exception(fmt::format("records of {} bytes are too large for a pantry segment",
                                      geometry.recordBytes));
  }
  Format::Fingerprint fingerprint;
  std::memset(&fingerprint, 0, sizeof(fingerprint));
  fingerprint.formatVersion = Format::formatVersion;
  fingerprint.kind = static_cast<std::uint32_t>(geometry.kind);
  fingerprint.recordBytes = geometry.recordBytes;
  fingerprint.keyBytes = geometry.keyBytes;
  fingerprint.capacity = geometry.capacity;
  fingerprint.slotCount = geometry.slotCount;
  fingerprint.tailSlots = geometry.tailSlots;
  fingerprint.slotWords = Format::slotWordsFor(geometry.recordBytes);
  fingerprint.undoSlots = geometry.undoSlots;
  std::strncpy(fingerprint.typeName, geometry.typeName.c_str(), Format::typeNameBytes - 1);
  std::strncpy(fingerprint.collectionName, geometry.collectionName.c_str(),
               Format::collectionNameBytes - 1);
  return fingerprint;
}

}  // namespace

bool Segment::ReaderWait::wait() {
  if (spins_ == 0) {
    since_ = std::chrono::steady_clock::now();
  }
  if (++spins_ < 1024) {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
    return true;
  }
  std::this_thread::yield();
  return std::chrono::steady_clock::now() - since_ < readerPatience;
}

Segment::Segment(std::string path, int fd, bool writable)
    : path_(std::move(path)), fd_(fd), writable_(writable) {}

Segment::~Segment() {
  if (mapping_ != nullptr) {
    munmap(mapping_, mappedBytes_);
  }
  close(fd_);
}

std::unique_ptr<Segment> Segment::openWriter(std::string const& filePath,
                                             SegmentGeometry const& geometry, bool heldBefore,
                                             unsigned fileMode) {
  int const fd = open(filePath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, fileMode);
  if (fd < 0) {
    systemError("cannot open pantry segment", filePath);
  }
  std::unique_ptr<Segment> segment(new Segment(filePath, fd, true));
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK) {
      systemError("cannot lock pantry segment", filePath);
    }
    std::uint64_t holder = 0;
    [[maybe_unused]] auto const bytes =
        pread(fd, &holder, sizeof(holder), offsetof(Format::Header, writerPid));
    throw WriterConflictError(fmt::format(
        "pantry segment {} is already mounted by a live writer (pid {})", filePath, holder));
  }
  struct stat status {};
  if (fstat(fd, &status) != 0) {
    systemError("cannot stat pantry segment", filePath);
  }
  if (!S_ISREG(status.st_mode)) {
    throw Vesk::Exception(fmt::format("pantry segment {} is not a regular file", filePath));
  }
  if (status.st_uid != geteuid()) {
    throw Vesk::Exception(fmt::format("pantry segment {} belongs to uid {}, not to uid {}",
                                      filePath, status.st_uid, geteuid()));
  }

  auto const fileSize = static_cast<std::size_t>(status.st_size);
  if (fileSize == 0) {
    segment->createFresh(geometry, heldBefore);
    segment->outcome_ = heldBefore ? MountOutcome::recreated : MountOutcome::created;
  } else if (!segment->validates(geometry, fileSize)) {
    char found[sizeof(Format::magic)] = {};
    [[maybe_unused]] auto const bytes = pread(fd, found, sizeof(found), 0);
    bool const heldData = heldBefore || std::memcmp(found, Format::magic, sizeof(found)) == 0;
    segment->replaceFile(geometry, heldData, fileMode);
    segment->outcome_ = heldData ? MountOutcome::recreated : MountOutcome::created;
  } else {
    segment->map(fileSize);
    segment->layOut();
    segment->repair();
    segment->outcome_ = MountOutcome::mounted;
  }
  segment->store(segment->header_->writerPid, static_cast<std::uint64_t>(getpid()));
  return segment;
}

std::unique_ptr<Segment> Segment::openReader(std::string const& filePath,
                                             SegmentGeometry const& geometry) {
  int const fd = open(filePath.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    systemError("cannot open pantry segment", filePath);
  }
  std::unique_ptr<Segment> segment(new Segment(filePath, fd, false));
  struct stat status {};
  if (fstat(fd, &status) != 0) {
    systemError("cannot stat pantry segment", filePath);
  }
  if (!S_ISREG(status.st_mode) ||
      !segment->validates(geometry, static_cast<std::size_t>(status.st_size))) {
    throw Vesk::Exception(
        fmt::format("pantry segment {} is not a valid {} segment of collection {}", filePath,
                    geometry.typeName, geometry.collectionName));
  }
  segment->map(static_cast<std::size_t>(status.st_size));
  segment->layOut();
  return segment;
}

void Segment::map(std::size_t bytes) {
  int const protection = writable_ ? PROT_READ | PROT_WRITE : PROT_READ;
  // The writer maps every page at mount (allocating a new file's pages), so
  // that its commits never stop on a page fault; a reader maps on demand.
  int const flags = writable_ ? MAP_SHARED | MAP_POPULATE : MAP_SHARED;
  void* mapping = mmap(nullptr, bytes, protection, flags, fd_, 0);
  if (mapping == MAP_FAILED) {
    systemError("cannot map pantry segment", path_);
  }
  mapping_ = mapping;
  mappedBytes_ = bytes;
  header_ = static_cast<Format::Header*>(mapping);
}

void Segment::layOut() {
  Format::Fingerprint const& fingerprint = header_->fingerprint;
  slotWords_ = fingerprint.slotWords;
  undoSlots_ = fingerprint.undoSlots;
  slotTotal_ = fingerprint.slotCount + fingerprint.tailSlots;
  std::uint64_t const empty[Format::maxSlotWords] = {};
  emptyChecksum_ = Format::slotChecksum(empty, slotWords_);
  auto* base = static_cast<char*>(mapping_);
  bitmap_ = reinterpret_cast<std::uint64_t*>(base + Format::headerBytes);
  undo_ = bitmap_ + Format::bitmapWords(fingerprint);
  slots_ = undo_ + std::size_t{undoSlots_} * slotWords_;
}

bool Segment::validates(SegmentGeometry const& geometry, std::size_t fileSize) const {
  Format::Fingerprint const expected = fingerprintOf(geometry);
  if (fileSize != Format::fileBytes(expected)) {
    return false;
  }
  Format::Header found;
  if (pread(fd_, &found, sizeof(found), 0) != static_cast<ssize_t>(sizeof(found))) {
    return false;
  }
  return std::memcmp(found.magic, Format::magic, sizeof(Format::magic)) == 0 &&
         std::memcmp(&found.fingerprint, &expected, sizeof(expected)) == 0 &&
         found.fingerprintChecksum == Format::fingerprintChecksum(expected);
}

void Segment::createFresh(SegmentGeometry const& geometry, bool wiped) {
  Format::Fingerprint const fingerprint = fingerprintOf(geometry);
  std::size_t const bytes = Format::fileBytes(fingerprint);
  if (ftruncate(fd_, static_cast<off_t>(bytes)) != 0) {
    systemError("cannot size pantry segment", path_);
  }
  map(bytes);
  header_->fingerprint = fingerprint;
  header_->fingerprintChecksum = Format::fingerprintChecksum(fingerprint);
  layOut();
  store(header_->wiped, wiped ? 1 : 0);
  // The magic goes last: a file without it never held data (crash invariant 6).
  std::atomic_thread_fence(std::memory_order_release);
  std::memcpy(header_->magic, Format::magic, sizeof(Format::magic));
}

void Segment::replaceFile(SegmentGeometry const& geometry, bool wiped, unsigned fileMode) {
  std::string const temporary = path_ + ".new";
  int const fd =
      open(temporary.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, fileMode);
  if (fd < 0) {
    systemError("cannot create pantry segment", temporary);
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int const saved = errno;
    close(fd);
    errno = saved;
    systemError("cannot lock pantry segment", temporary);
  }
  close(fd_);  // releases the lock on the old file
  fd_ = fd;
  createFresh(geometry, wiped);
  if (rename(temporary.c_str(), path_.c_str()) != 0) {
    systemError("cannot rename pantry segment into place at", path_);
  }
}

void Segment::rollBack() {
  Format::Header& header = *header_;
  std::uint64_t const first = load(header.undoFirstSlot);
  std::uint64_t const count = load(header.undoSlotCount);
  bool trusted = count <= undoSlots_ && first + count <= slotTotal_ &&
                 load(header.undoChecksum) ==
                     Format::undoHeaderChecksum(first, count, load(header.undoCount),
                                                load(header.undoLow), load(header.undoHigh));
  for (std::uint64_t i = 0; trusted && i < count; ++i) {
    std::uint64_t const* image = undoSlot(i);
    trusted = image[1] == Format::stateEmpty ||
              Format::slotChecksum(image, slotWords_) == image[slotWords_ - 1];
  }
  if (!trusted) {
    store(header.wiped, 1);
    return;
  }
  for (std::uint64_t i = 0; i < count; ++i) {
    std::uint64_t* target = slot(first + i);
    std::uint64_t const* image = undoSlot(i);
    for (std::uint32_t word = 1; word < slotWords_; ++word) {
      storeWord(target[word], image[word]);
    }
    // Past every value the slot had, so a reader that read it before the
    // kill sees a change.
    storeWord(target[0], (std::max(target[0], image[0]) | 1) + 1);
  }
  store(header.count, load(header.undoCount));
  store(header.low, load(header.undoLow));
  store(header.high, load(header.undoHigh));
}

void Segment::repair() {
  Format::Header& header = *header_;
  if (load(header.undoArmed) != 0) {
    rolledBack_ = true;
    rollBack();
    store(header.undoArmed, 0);
    // Records may have moved back: readers that overlapped must retry.
    std::uint64_t const sequence = load(header.structureSequence);
    store(header.structureSequence, (sequence | 1) + 1, std::memory_order_release);
  } else if ((load(header.structureSequence) & 1) != 0) {
    store(header.structureSequence, load(header.structureSequence) + 1, std::memory_order_release);
  }

  // The occupancy bitmap is recomputed aside and only the words that differ
  // are stored, inside a structure change: readers walking the map while a
  // new writer mounts it never see an occupied slot's bit cleared.
  std::uint64_t const checksumWord = slotWords_ - 1;
  std::vector<std::uint64_t> occupancy(static_cast<std::size_t>(undo_ - bitmap_), 0);
  for (std::uint64_t index = 0; index < slotTotal_; ++index) {
    std::uint64_t* words = slot(index);
    if ((words[0] & 1) != 0) {
      storeWord(words[0], words[0] + 1);
    }
    if (words[1] == Format::stateEmpty) {
      continue;
    }
    if (Format::slotChecksum(words, slotWords_) != words[checksumWord]) {
      storeWord(words[0], words[0] + 1);
      for (std::uint32_t word = 1; word < slotWords_; ++word) {
        storeWord(words[word], 0);
      }
      storeWord(words[0], words[0] + 1);
      ++slotsDropped_;
      continue;
    }
    occupancy[index / 64] |= std::uint64_t{1} << (index % 64);
  }
  if (!std::equal(occupancy.begin(), occupancy.end(), bitmap_)) {
    structureChangeBegin();
    for (std::size_t word = 0; word < occupancy.size(); ++word) {
      if (bitmap_[word] != occupancy[word]) {
        storeWord(bitmap_[word], occupancy[word]);
      }
    }
    structureChangeEnd();
  }
  if (slotsDropped_ > 0) {
    store(header.wiped, 1);
  }
}

bool Segment::readSlotRetrying(std::uint64_t index, std::uint64_t* image) const {
  ReaderWait pace;
  while (pace.wait()) {
    ReadResult const result = tryReadSlot(slot(index), image, slotWords_);
    if (result != ReadResult::inconsistent) {
      return result == ReadResult::occupied;
    }
  }
  corrupt(fmt::format("slot {} stayed inconsistent while being read", index));
}

void Segment::corruptSlot(std::uint64_t index) const {
  corrupt(fmt::format("slot {} fails its checksum", index));
}

void Segment::writeSlot(std::uint64_t index, std::uint64_t* image) noexcept {
  writeSlot(index, image, slotWords_);
}

void Segment::clearSlot(std::uint64_t index) noexcept {
  clearSlot(index, slotWords_);
}

void Segment::armUndo(std::uint64_t first, std::uint64_t count) noexcept {
  armUndo(first, count, slotWords_);
}

void Segment::moveSlot(std::uint64_t from, std::uint64_t to) noexcept {
  std::uint64_t const* source = slot(from);
  std::uint64_t* target = slot(to);
  std::uint64_t const sequence = target[0];
  std::atomic_ref<std::uint64_t>(target[0]).store(sequence + 1, std::memory_order_relaxed);
  std::atomic_thread_fence(std::memory_order_release);
  for (std::uint32_t i = 1; i < slotWords_; ++i) {
    std::atomic_ref<std::uint64_t>(target[i]).store(source[i], std::memory_order_relaxed);
  }
  std::atomic_ref<std::uint64_t>(target[0]).store(sequence + 2, std::memory_order_release);
  occupancyIs(to, source[1] != Format::stateEmpty);
}

void Segment::disarmUndo() noexcept {
  store(header_->undoArmed, 0, std::memory_order_release);
}

void Segment::structureChangeBegin() noexcept {
  std::uint64_t const sequence = load(header_->structureSequence);
  store(header_->structureSequence, sequence + 1);
  std::atomic_thread_fence(std::memory_order_release);
}

void Segment::structureChangeEnd() noexcept {
  store(header_->structureSequence, load(header_->structureSequence) + 1,
        std::memory_order_release);
}

void Segment::corrupt(std::string const& what) const {
  throw Vesk::CorruptionDetectedException(fmt::format("pantry segment {}: {}", path_, what));
}

}  // namespace Pantry
