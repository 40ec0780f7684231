// The fuzz targets' shared vocabulary: a reader over the fuzzer's bytes that
// never runs past them, a scratch directory per process, and files made of
// the bytes, whole or as patches over a valid template.
//
// Patch input: after the target's own leading bytes, repeated
//   [u32 offset][u8 length][length bytes]
// each written at offset % file size (cut at the end of the file).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace ZaduFuzz {

class FuzzInput {
 public:
  FuzzInput(std::uint8_t const* data, std::size_t size) : data_(data), size_(size) {}

  bool empty() const noexcept { return offset_ >= size_; }
  std::uint8_t byte() { return empty() ? 0 : data_[offset_++]; }
  std::uint32_t word() {
    std::uint32_t value = 0;
    for (int shift = 0; shift < 32; shift += 8) {
      value |= std::uint32_t{byte()} << shift;
    }
    return value;
  }
  // Up to `count` bytes, fewer at the end of the input.
  std::vector<std::uint8_t> bytes(std::size_t count) {
    std::size_t const taken = std::min(count, size_ - std::min(offset_, size_));
    std::vector<std::uint8_t> out(data_ + offset_, data_ + offset_ + taken);
    offset_ += taken;
    return out;
  }
  std::vector<std::uint8_t> rest() { return bytes(size_); }

 private:
  std::uint8_t const* data_;
  std::size_t size_;
  std::size_t offset_ = 0;
};

// A directory of this process, made once, under /dev/shm when it exists,
// and removed with everything in it when the process exits through exit()
// (it stays when a crash, a timeout or a memory limit ends the process, with
// the files it left).
inline std::filesystem::path scratchDirectory() {
  struct Directory {
    std::filesystem::path path;
    ~Directory() {
      std::error_code ignored;
      std::filesystem::remove_all(path, ignored);
    }
  };
  static Directory const directory{[] {
    std::filesystem::path const base =
        std::filesystem::exists("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
    std::filesystem::path made = base / ("zadulpm-fuzz-" + std::to_string(getpid()));
    std::filesystem::create_directories(made);
    return made;
  }()};
  return directory.path;
}

inline std::vector<std::uint8_t> readFile(std::filesystem::path const& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeFile(std::filesystem::path const& path, std::vector<std::uint8_t> const& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<char const*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

// Applies one patch from `input` to `file`; false when the input is used up.
inline bool applyPatch(FuzzInput& input, std::vector<std::uint8_t>& file) {
  if (input.empty() || file.empty()) {
    return false;
  }
  std::size_t const offset = input.word() % file.size();
  std::vector<std::uint8_t> const patch = input.bytes(input.byte());
  std::size_t const length = std::min(patch.size(), file.size() - offset);
  if (length != 0) {
    std::memcpy(file.data() + offset, patch.data(), length);
  }
  return true;
}

}  // namespace ZaduFuzz
