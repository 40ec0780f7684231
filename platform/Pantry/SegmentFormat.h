// The format of a pantry segment: one shared-memory collection in one file.
//
// This header is the single description of the format; the writer and every
// reader use it, in this process and in others (the hardware side, the
// examining tools). A segment file is laid out as
//
//   [ Header, padded to 4096 bytes ]
//   [ occupancy bitmap: one bit per slot, in whole 64-byte lines ]
//   [ undo area: undoSlots slot images ]
//   [ slot area: slotCount + tailSlots slots ]
//
// and every slot is slotWords 64-bit words:
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
//  5. The undo record carries a checksum over its header words, and each
//     saved image its slot checksum; a mount that finds an armed record that
//     fails them does not roll back, and marks the segment wiped.
//  6. Repair only moves sequences forward (an odd one to the next even value,
//     a restored slot's past every value it had), so a reader that straddles
//     a writer's death and the next mount sees a change and retries.
//  4. A new segment is sized and initialised before its magic is written;
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

// Immutable after creation; identifies what the segment holds.
struct Fingerprint {
  std::uint32_t formatVersion;
  std::uint32_t kind;  // Kind
  std::uint32_t recordBytes;
  std::uint32_t keyBytes;
  std::uint64_t capacity;   // records the collection accepts
  std::uint64_t slotCount;  // hash map: home slots (a power of two); ring: slots
  std::uint64_t tailSlots;  // hash map: overflow slots after the home slots
  std::uint32_t slotWords;
  std::uint32_t undoSlots;
  char typeName[typeNameBytes];
  char collectionName[collectionNameBytes];
};

struct Header {
  char magic[8];
  Fingerprint fingerprint;
  std::uint64_t fingerprintChecksum;

  // Writer-owned words, shared with readers; accessed through atomic_ref.
  alignas(64) std::uint64_t structureSequence;  // odd while records move
  std::uint64_t count;                          // records held
  std::uint64_t low;                            // ring: lowest key held
  std::uint64_t high;                           // ring: highest key held
  std::uint64_t scratchpad;                     // the collection's persistent word
  std::uint64_t wiped;                          // 1: recreated after data was lost
  std::uint64_t writerPid;                      // pid of the last writer mount

  // Undo journal (crash invariant 1).
  alignas(64) std::uint64_t undoArmed;
  std::uint64_t undoFirstSlot;
  std::uint64_t undoSlotCount;
  std::uint64_t undoCount;
  std::uint64_t undoLow;
  std::uint64_t undoHigh;
  std::uint64_t undoChecksum;  // undoHeaderChecksum of the words above
};

static_assert(sizeof(Header) <= headerBytes);
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
