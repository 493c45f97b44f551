// A file mapped read-only into memory: its bytes are paged in from the file
// as they are read, so opening a large file costs nothing until it is read,
// and pages read already can be let go again to keep the process small.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

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

  // True when the file was cut short by someone else after it was mapped and
  // a page beyond its new end was read. Such a read gives zeros instead of
  // the bus error that would end the process, so a reader checks this once
  // it is done and treats what it read as damaged.
  bool Truncated() const;

 private:
  void Register();
  void Unregister();

  friend class ScratchFile;
  // Maps `size` bytes of an open file (the descriptor stays the caller's).
  MappedFile(int fd, std::size_t size, const std::string& what);

  const std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  int slot_ = -1;  // in the table of mappings the bus error handler knows
};

// A private scratch file without a name (gone when closed, even after a
// crash), written piece by piece and then mapped read-only: large derived
// data that should live in the page cache, not in the process's memory. It
// lies in $TMPDIR (else /tmp), or in memory where no such folder takes one.
class ScratchFile {
 public:
  // Raises Exception "No scratch file can be made ..." when neither works.
  ScratchFile();
  ~ScratchFile();
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  // Raises Exception "Cannot write the scratch file: ..." (a full disk).
  void Append(const std::uint8_t* data, std::size_t size);
  // What was appended, mapped; the scratch file itself may go then.
  MappedFile Map();

 private:
  void Flush();
  int fd_ = -1;
  std::size_t size_ = 0;
  std::vector<std::uint8_t> buffer_;
};

}  // namespace platform
