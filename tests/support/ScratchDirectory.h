// A fresh directory for one test, removed with everything in it afterwards;
// and the damage tests do to files in it.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace ZaduTest {

class ScratchDirectory {
 public:
  ScratchDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zadu-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
  }
  ~ScratchDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDirectory(ScratchDirectory const&) = delete;
  ScratchDirectory& operator=(ScratchDirectory const&) = delete;

  std::filesystem::path const& path() const { return path_; }
  std::string file(std::string const& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// Overwrites the bytes of the file at `path` from `offset` on.
inline void patchFile(std::string const& path, std::size_t offset, std::string const& bytes) {
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  if (!file.seekp(static_cast<std::streamoff>(offset))
           .write(bytes.data(), static_cast<std::streamsize>(bytes.size()))) {
    throw std::runtime_error("cannot patch " + path);
  }
}

// Damages one byte of the record words (`at` bytes into the slot) of the
// home slot of `key` in the file of the shared-memory map `map`: that
// record, or a neighbour in its run, which a lookup of `key` reads too.
template <class Map, class Key>
void damageHomeSlot(Map const& map, Key const& key, std::size_t at = 2 * 8 + 5) {
  patchFile(map.path(), map.segment().slotFileOffset(map.homeOf(key)) + at, "\x5A");
}

// Copies the whole image of slot `from` of the collection `source` (a mount
// of its file) over slot `to` of the file at `target`, of the same geometry:
// a record valid in itself (its checksum holds) where it does not belong.
template <class Collection>
void copySlotImage(Collection const& source, std::uint64_t from, std::string const& target,
                   std::uint64_t to) {
  std::string image(std::size_t{source.segment().slotWords()} * 8, '\0');
  std::ifstream(source.path(), std::ios::binary)
      .seekg(static_cast<std::streamoff>(source.segment().slotFileOffset(from)))
      .read(image.data(), static_cast<std::streamsize>(image.size()));
  patchFile(target, source.segment().slotFileOffset(to), image);
}

}  // namespace ZaduTest
