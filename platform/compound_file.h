// Reader of the Compound File Binary Format (structured storage): the
// container of BIFF5-BIFF8 workbooks. Every sector number, chain and size is
// checked against the file before anything is allocated or read; chain loops
// are detected. Damage raises CompoundFileError with a clear message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "platform/sysutils.h"

namespace platform {

// Layout of the container, shared by everything that reads or writes one.
namespace cfb {

inline constexpr std::uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

// Header (the first 512 bytes; with 4096-byte sectors the rest of the first
// sector is zero). Offsets of its fields:
inline constexpr std::size_t kHeaderSize = 512;
inline constexpr std::size_t kOffMinorVersion = 0x18;    // u16, 0x003E
inline constexpr std::size_t kOffMajorVersion = 0x1A;    // u16, 3 (512-byte sectors) or 4 (4096)
inline constexpr std::size_t kOffByteOrder = 0x1C;       // u16, 0xFFFE
inline constexpr std::size_t kOffSectorShift = 0x1E;     // u16, 9 or 12
inline constexpr std::size_t kOffMiniSectorShift = 0x20; // u16, 6
inline constexpr std::size_t kOffNumDirSectors = 0x28;   // u32, 0 in version 3
inline constexpr std::size_t kOffNumFatSectors = 0x2C;   // u32
inline constexpr std::size_t kOffFirstDirSector = 0x30;  // u32
inline constexpr std::size_t kOffMiniCutoff = 0x38;      // u32, 4096
inline constexpr std::size_t kOffFirstMiniFat = 0x3C;    // u32
inline constexpr std::size_t kOffNumMiniFat = 0x40;      // u32
inline constexpr std::size_t kOffFirstDifat = 0x44;      // u32
inline constexpr std::size_t kOffNumDifat = 0x48;        // u32
inline constexpr std::size_t kOffDifat = 0x4C;           // 109 x u32: the first FAT sectors
inline constexpr std::size_t kHeaderDifatEntries = 109;

// Special sector numbers in FAT, mini FAT and DIFAT entries.
inline constexpr std::uint32_t kMaxRegSect = 0xFFFFFFFA;
inline constexpr std::uint32_t kDifSect = 0xFFFFFFFC;
inline constexpr std::uint32_t kFatSect = 0xFFFFFFFD;
inline constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
inline constexpr std::uint32_t kFreeSect = 0xFFFFFFFF;
inline constexpr std::uint32_t kNoStream = 0xFFFFFFFF;  // empty sibling or child link

// Directory entry (128 bytes). Offsets of its fields:
inline constexpr std::size_t kDirEntrySize = 128;
inline constexpr std::size_t kOffName = 0x00;        // 32 UTF-16LE units, NUL-terminated
inline constexpr std::size_t kOffNameLength = 0x40;  // u16, bytes including the terminator
inline constexpr std::size_t kOffType = 0x42;        // u8, see EntryType
inline constexpr std::size_t kOffColor = 0x43;       // u8, 0 red, 1 black
inline constexpr std::size_t kOffLeft = 0x44;        // u32 sibling
inline constexpr std::size_t kOffRight = 0x48;       // u32 sibling
inline constexpr std::size_t kOffChild = 0x4C;       // u32, root of a storage's own tree
inline constexpr std::size_t kOffStartSector = 0x74; // u32
inline constexpr std::size_t kOffStreamSize = 0x78;  // u64 (version 3: only the low 32 bits count)

enum EntryType : std::uint8_t { kUnused = 0, kStorage = 1, kStream = 2, kRoot = 5 };

inline constexpr std::uint32_t kMiniSectorSize = 64;
inline constexpr std::uint32_t kMiniStreamCutoff = 4096;

}  // namespace cfb

class CompoundFileError : public Exception {
 public:
  using Exception::Exception;
};

class CompoundFile {
 public:
  struct Element {
    std::string name;    // UTF-8
    std::uint64_t size;  // stream size in bytes (0 for storages), at most what the file can hold
    int type;            // 1 storage, 2 stream (directory entry type)
  };

  // True when the file exists and starts with the compound-file signature.
  static bool IsStorageFile(const std::string& path);
  // True when the bytes start with the compound-file signature.
  static bool HasSignature(const std::uint8_t* data, std::size_t size);

  // Opens a file read-only; raises CompoundFileError (or Exception for an
  // unreadable file).
  static CompoundFile Open(const std::string& path);
  // Parses a container held in memory.
  explicit CompoundFile(std::vector<std::uint8_t> bytes);
  // Parses a container whose bytes the caller keeps (a mapped file) for as
  // long as this object and the views it hands out live.
  explicit CompoundFile(std::span<const std::uint8_t> bytes);
  CompoundFile(CompoundFile&&) = default;
  CompoundFile(const CompoundFile&) = delete;
  CompoundFile& operator=(const CompoundFile&) = delete;

  // The root storage's elements, in the storage's own order (in-order walk of
  // the root's directory tree).
  const std::vector<Element>& Elements() const { return elements_; }

  // The whole content of the root stream with that exact name; raises
  // CompoundFileError when there is none or its chain is damaged. A stream
  // whose chain falls short of its size by less than one sector yields what
  // the chain holds.
  std::vector<std::uint8_t> ReadStream(const std::string& name) const;
  // The same content handed to `sink` piece by piece (a sector at a time),
  // so that a large stream need not be held.
  void ReadStream(const std::string& name, const std::function<void(const std::uint8_t*, std::size_t)>& sink) const;
  // The same content without a copy: the stream's bytes inside the
  // container, when they lie there in one piece (regular sectors that follow
  // one another, wholly inside the file, as workbook writers store them).
  // Empty when not; ReadStream then assembles it.
  std::span<const std::uint8_t> StreamView(const std::string& name) const;

  // 512 or 4096.
  std::uint32_t SectorSize() const { return sectorSize_; }

 private:
  struct Entry {
    std::string name;
    std::uint8_t type = 0;
    std::uint32_t left = cfb::kNoStream, right = cfb::kNoStream, child = cfb::kNoStream;
    std::uint32_t start = 0;
    std::uint64_t size = 0;
  };

  std::uint32_t SectorCount() const;
  // Sector numbers of the chain starting at `start` in `table`, as many as
  // `bytes` bytes need (units of `unitSize` bytes, `limit` of them exist);
  // stops early at an end-of-chain mark. `what` names the chain and `area`
  // what holds its sectors, in messages.
  std::vector<std::uint32_t> Chain(const std::vector<std::uint32_t>& table, std::uint32_t start,
                                   std::uint64_t bytes, std::uint32_t unitSize, std::uint32_t limit,
                                   const std::string& what, const char* area) const;
  void ReadHeaderAndFat();
  void ReadDirectory();
  void WalkRootTree();
  void ReadMiniStructures();
  // Copies `count` bytes of regular sector `sector` from `offset` on into `out`.
  void CopyFromSector(std::uint32_t sector, std::uint32_t offset, std::uint32_t count,
                      std::uint8_t* out) const;

  void Parse();
  const Entry& StreamEntry(const std::string& name) const;

  std::vector<std::uint8_t> owned_;        // the container, when held here
  std::span<const std::uint8_t> bytes_;    // the container's bytes
  std::vector<Element> elements_;
  std::vector<std::uint32_t> elementEntry_;  // directory index of each element
  std::vector<Entry> entries_;
  std::vector<std::uint32_t> fat_;
  std::vector<std::uint32_t> miniFat_;
  std::vector<std::uint32_t> miniStreamSectors_;  // regular sectors that hold the mini stream
  std::uint64_t miniStreamSize_ = 0;
  std::string miniError_;  // why small streams cannot be read, if they cannot
  std::uint32_t majorVersion_ = 3;
  std::uint32_t sectorSize_ = 512;
  std::uint32_t miniCutoff_ = cfb::kMiniStreamCutoff;
};

}  // namespace platform
