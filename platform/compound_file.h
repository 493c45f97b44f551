// Reader of the Compound File Binary Format (structured storage): the
// container of BIFF5-BIFF8 workbooks. Every sector number, chain and size is
// checked against the file before anything is allocated or read; chain loops
// are detected. Damage raises CompoundFileError with a clear message.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/sysutils.h"

namespace platform {

class CompoundFileError : public Exception {
 public:
  using Exception::Exception;
};

class CompoundFile {
 public:
  struct Element {
    std::string name;    // UTF-8
    std::uint64_t size;  // stream size in bytes (0 for storages)
    int type;            // 1 storage, 2 stream (directory entry type)
  };

  // True when the file exists and starts with the compound-file signature.
  static bool IsStorageFile(const std::string& path);

  // Opens a file read-only; raises CompoundFileError (or Exception for an
  // unreadable file).
  static CompoundFile Open(const std::string& path);
  // Parses a container held in memory.
  explicit CompoundFile(std::vector<std::uint8_t> bytes);

  // The root storage's elements, in the storage's own order (in-order walk of
  // the root's directory tree).
  const std::vector<Element>& Elements() const { return elements_; }

  // The whole content of the root stream with that exact name; raises
  // CompoundFileError when there is none or its chain is damaged.
  std::vector<std::uint8_t> ReadStream(const std::string& name) const;

 private:
  std::vector<std::uint8_t> bytes_;
  std::vector<Element> elements_;
  // Parsed header, FAT, mini FAT and directory live in the implementation.
  struct Impl;
  std::vector<std::uint32_t> fat_;
  std::vector<std::uint32_t> miniFat_;
  std::vector<std::uint8_t> miniStream_;
  std::vector<std::uint32_t> elementStart_;  // first sector of each element
  std::uint32_t sectorSize_ = 512;
  std::uint32_t miniCutoff_ = 4096;
};

}  // namespace platform
