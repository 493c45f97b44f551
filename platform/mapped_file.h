// A file mapped read-only into memory: its bytes are paged in from the file
// as they are read, so opening a large file costs nothing until it is read,
// and pages read already can be let go again to keep the process small.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace platform {

class MappedFile {
 public:
  MappedFile() = default;
  // Maps a regular file; raises Exception "Cannot open file ..." or
  // "Cannot read file ...". An empty file maps to no bytes.
  explicit MappedFile(const std::string& path);
  ~MappedFile();
  MappedFile(MappedFile&& other) noexcept;
  MappedFile& operator=(MappedFile&& other) noexcept;
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  std::span<const std::uint8_t> Bytes() const { return {data_, size_}; }

  // Drops the whole pages inside [begin, end) of a range of Bytes() from the
  // process's memory; reading them again pages them in from the file anew.
  void Release(const std::uint8_t* begin, const std::uint8_t* end) const;

 private:
  const std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace platform
