// The format of a pantry segment: one shared-memory collection in one file.
//
// This header is the single description of the format; the writer and every
// reader use it, in this process and in others (the hardware side, the
// examining tools).
//
// Byte order: the host's (little-endian on the x86-64 hosts the project is
// built and tested on). Every word and every record is stored as the host
// holds it in memory, and a file is read only on the host that wrote it (it
// lives in shared memory, under the root). Nothing in the format depends on
// which order that is. A file carried to a host of the other byte order
// fails validation (its format version and fingerprint read differently)
// and is never trusted; reading one there would take a conversion and
// another format version.
//
// Layout, in file order (offsets in bytes, pinned by the static_asserts
// below the structs):
//
//   0      magic                 "ZADUPNTY"; written last when a segment is
//                                made (crash invariant 6)
//   8      fingerprint           what the segment holds, fixed when it is
//                                made (Fingerprint):
//   8        formatVersion       formatVersion of this header
//   12       kind                Kind: 1 hash map, 2 ring
//   16       recordBytes         bytes of one record
//   20       keyBytes            bytes of its key
//   24       capacity            records the collection accepts
//   32       slotCount           hash map: home slots (a power of two);
//                                ring: slots (a power of two)
//   40       tailSlots           hash map: overflow slots after the home
//                                slots, so that probe sequences never wrap;
//                                ring: 0
//   48       slotWords           64-bit words of one slot
//                                (slotWordsFor(recordBytes))
//   52       undoSlots           slot images the undo area holds
//   56       typeName            the record type's name, zero padded
//                                (typeNameBytes, the last one always 0)
//   152      collectionName      the collection's name, zero padded
//                                (collectionNameBytes, the last one always 0)
//   200    fingerprintChecksum   fingerprintChecksum(fingerprint)
//
//   Writer-owned words, shared with readers, in two groups that each start
//   a 64-byte line (the bytes between the fields are zero):
//   256    structureSequence     odd while records move (a ring never moves
//                                them)
//   264    count                 records held
//   272    low                   ring: lowest key held
//   280    high                  ring: highest key held
//   288    scratchpad            the collection's persistent word
//   296    wiped                 1: data was lost (the file was made afresh,
//                                or a mount dropped records) and no one has
//                                cleared the mark since
//   304    writerPid             pid of the last writer mount
//   320    undoArmed             1 while the undo record is valid (crash
//                                invariant 1)
//   328    undoFirstSlot         the slot the first saved image belongs to
//   336    undoSlotCount         saved images
//   344    undoCount             count, low and high before the change
//   352    undoLow
//   360    undoHigh
//   368    undoChecksum          undoHeaderChecksum of the five words above
//          (zero up to headerBytes)
//
//   4096   occupancy bitmap      bit i % 64 of word i / 64 set: slot i may be
//                                occupied; bitmapWords words (whole 64-byte
//                                lines)
//   then   undo area             undoSlots slot images
//   then   slot area             slotCount + tailSlots slots
//
// Every slot, and every image in the undo area, is slotWords 64-bit words:
//
//   word 0                 sequence: even when stable, odd while being written
//   word 1                 state: 0 empty; a hash map stores home slot + 1, a
//                          ring stores 1
//   words 2 .. 2+R-1       the record's bytes (R = recordWords), zero padded
//   last word              checksum of words 1 .. 2+R-1 (slotChecksum)
//
// Every shared word is read and written through std::atomic_ref, so a reader
// in another process that races the writer has defined behaviour.
//
// Reader protocol (a seqlock, as Boehm describes for C++): load the sequence
// with acquire; if it is odd the slot is being written, try again; load the
// other words relaxed; acquire fence; load the sequence again; equal means the
// copy is consistent. A consistent copy whose checksum does not match is
// corrupt. Readers bound their retries: a writer killed mid-write leaves an
// odd sequence that only the next writer mount evens out, so a reader that
// sees the same odd sequence for too long reports corruption instead of
// spinning forever.
//
// Writer protocol: store sequence+1 (relaxed), release fence, store the
// words (relaxed), store sequence+2 (release).
//
// Records move only in a hash map (Robin Hood insertion and backward-shift
// deletion). While records move, the header's structureSequence is odd; a
// reader's lookup or walk step loads it before and after (acquire / fence +
// relaxed) and starts again when it changed, so a move can never make a
// present key look absent. A ring never moves records.
//
// Crash invariants (the writer may be killed at any instruction; the kernel
// keeps the file's pages, and stores made before the kill are all in them):
//  1. Before changing slots [first, first+n) or the header's count, low or
//     high words, the writer saves the slots' images and those words in the
//     undo area, then sets undoArmed. It clears undoArmed after the change is
//     complete. A writer mount that finds undoArmed set copies the images
//     back: the interrupted change is rolled back, whatever state it left.
//  2. Slots outside an armed undo range are never being written, so after
//     the rollback every sequence is even (the mount evens any odd one that a
//     foreign corruption left, and checks every checksum).
//  3. count, low, high and the occupancy bitmap are derived: the writer mount
//     recomputes them from the slots. The scratchpad is one aligned 64-bit
//     store. To readers the bitmap is a hint for walks (a set bit: the slot
//     may be occupied); they confirm every slot they use with its seqlock.
//     To the writer it is exact from the end of its mount on: a new file is
//     all zero, and every mount of an existing one recomputes the bitmap
//     after its rollback and repair, so the writer's own checks skip the
//     slots whose bit is clear.
//  4. The undo record carries a checksum over its header words, and each
//     saved image its slot checksum; a mount that finds an armed record that
//     fails them does not roll back, and marks the segment wiped.
//  5. Repair only moves sequences forward (an odd one to the next even value,
//     a restored slot's past every value it had), so a reader that straddles
//     a writer's death and the next mount sees a change and retries.
//  6. A new segment is sized and initialised before its magic is written;
//     a file without the magic never held data.
//
// Validation: a mount checks the file's size before touching its pages, then
// the magic, the format version, the fingerprint (kind, record and key size,
// capacity, slot geometry, type and collection names) and its checksum. A
// file that fails is never trusted.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace Pantry::Format {

inline constexpr char magic[8] = {'Z', 'A', 'D', 'U', 'P', 'N', 'T', 'Y'};
inline constexpr std::uint32_t formatVersion = 1;
inline constexpr std::size_t headerBytes = 4096;
inline constexpr std::size_t typeNameBytes = 96;
inline constexpr std::size_t collectionNameBytes = 48;

enum class Kind : std::uint32_t { hashMap = 1, ring = 2 };

// The fields of Fingerprint and Header are described above, in file order.
struct Fingerprint {
  std::uint32_t formatVersion;
  std::uint32_t kind;
  std::uint32_t recordBytes;
  std::uint32_t keyBytes;
  std::uint64_t capacity;
  std::uint64_t slotCount;
  std::uint64_t tailSlots;
  std::uint32_t slotWords;
  std::uint32_t undoSlots;
  char typeName[typeNameBytes];
  char collectionName[collectionNameBytes];
};

struct Header {
  char magic[8];
  Fingerprint fingerprint;
  std::uint64_t fingerprintChecksum;

  alignas(64) std::uint64_t structureSequence;
  std::uint64_t count;
  std::uint64_t low;
  std::uint64_t high;
  std::uint64_t scratchpad;
  std::uint64_t wiped;
  std::uint64_t writerPid;

  alignas(64) std::uint64_t undoArmed;
  std::uint64_t undoFirstSlot;
  std::uint64_t undoSlotCount;
  std::uint64_t undoCount;
  std::uint64_t undoLow;
  std::uint64_t undoHigh;
  std::uint64_t undoChecksum;
};

// The layout described above. A change to it is a new formatVersion.
static_assert(sizeof(Fingerprint) == 192);
static_assert(offsetof(Fingerprint, formatVersion) == 0);
static_assert(offsetof(Fingerprint, kind) == 4);
static_assert(offsetof(Fingerprint, recordBytes) == 8);
static_assert(offsetof(Fingerprint, keyBytes) == 12);
static_assert(offsetof(Fingerprint, capacity) == 16);
static_assert(offsetof(Fingerprint, slotCount) == 24);
static_assert(offsetof(Fingerprint, tailSlots) == 32);
static_assert(offsetof(Fingerprint, slotWords) == 40);
static_assert(offsetof(Fingerprint, undoSlots) == 44);
static_assert(offsetof(Fingerprint, typeName) == 48);
static_assert(offsetof(Fingerprint, collectionName) == 144);

static_assert(sizeof(Header) == 384 && sizeof(Header) <= headerBytes);
static_assert(offsetof(Header, magic) == 0);
static_assert(offsetof(Header, fingerprint) == 8);
static_assert(offsetof(Header, fingerprintChecksum) == 200);
static_assert(offsetof(Header, structureSequence) == 256);
static_assert(offsetof(Header, count) == 264);
static_assert(offsetof(Header, low) == 272);
static_assert(offsetof(Header, high) == 280);
static_assert(offsetof(Header, scratchpad) == 288);
static_assert(offsetof(Header, wiped) == 296);
static_assert(offsetof(Header, writerPid) == 304);
static_assert(offsetof(Header, undoArmed) == 320);
static_assert(offsetof(Header, undoFirstSlot) == 328);
static_assert(offsetof(Header, undoSlotCount) == 336);
static_assert(offsetof(Header, undoCount) == 344);
static_assert(offsetof(Header, undoLow) == 352);
static_assert(offsetof(Header, undoHigh) == 360);
static_assert(offsetof(Header, undoChecksum) == 368);

static_assert(std::atomic_ref<std::uint64_t>::is_always_lock_free,
              "shared words must be lock-free to be safe across processes");
static_assert(std::atomic_ref<std::uint64_t>::required_alignment <= alignof(std::uint64_t));

inline constexpr std::uint32_t maxSlotWords = 72;     // records of up to 552 bytes
inline constexpr std::uint32_t slotHeaderWords = 2;   // sequence, state
inline constexpr std::uint32_t slotTrailerWords = 1;  // checksum
inline constexpr std::uint64_t stateEmpty = 0;
inline constexpr std::uint64_t stateRingOccupied = 1;

constexpr std::uint32_t recordWordsFor(std::size_t recordBytes) {
  return static_cast<std::uint32_t>((recordBytes + 7) / 8);
}
constexpr std::uint32_t slotWordsFor(std::size_t recordBytes) {
  return slotHeaderWords + recordWordsFor(recordBytes) + slotTrailerWords;
}

// A 64-bit mix of one word into a running hash (the splitmix64 finalizer).
constexpr std::uint64_t mix(std::uint64_t hash, std::uint64_t word) {
  std::uint64_t z = hash ^ (word + 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// Checksum of a slot image: the state word and the record words. One
// multiply per word: it catches torn and damaged records, not adversaries.
inline std::uint64_t slotChecksum(std::uint64_t const* slot, std::uint32_t slotWords) {
  std::uint64_t hash = 0x5A4455504E545931ull;
  for (std::uint32_t i = 1; i + slotTrailerWords < slotWords; ++i) {
    hash = (hash ^ slot[i]) * 0x9E3779B97F4A7C15ull;
    hash ^= hash >> 29;
  }
  return hash;
}

inline std::uint64_t fingerprintChecksum(Fingerprint const& fingerprint) {
  std::uint64_t words[(sizeof(Fingerprint) + 7) / 8] = {};
  std::memcpy(words, &fingerprint, sizeof(Fingerprint));
  std::uint64_t hash = 0x464E475250524E54ull;
  for (std::uint64_t word : words) {
    hash = mix(hash, word);
  }
  return hash;
}

// Words of the occupancy bitmap: one bit per slot, rounded up to whole
// 64-byte lines.
inline std::size_t bitmapWords(Fingerprint const& fingerprint) {
  std::size_t const slots = static_cast<std::size_t>(fingerprint.slotCount + fingerprint.tailSlots);
  return (slots + 511) / 512 * 8;
}

inline std::size_t fileBytes(Fingerprint const& fingerprint) {
  std::size_t const slotBytes = std::size_t{fingerprint.slotWords} * 8;
  return headerBytes + bitmapWords(fingerprint) * 8 +
         std::size_t{fingerprint.undoSlots} * slotBytes +
         static_cast<std::size_t>(fingerprint.slotCount + fingerprint.tailSlots) * slotBytes;
}

// Checksum of the undo record's header words (one multiply per word, as
// slotChecksum).
inline std::uint64_t undoHeaderChecksum(std::uint64_t first, std::uint64_t slots,
                                        std::uint64_t count, std::uint64_t low,
                                        std::uint64_t high) {
  std::uint64_t hash = 0x554E444F;
  for (std::uint64_t word : {first, slots, count, low, high}) {
    hash = (hash ^ word) * 0x9E3779B97F4A7C15ull;
    hash ^= hash >> 29;
  }
  return hash;
}

}  // namespace Pantry::Format
