#include "platform/compound_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "platform/codepage.h"

namespace platform {
namespace {

using namespace cfb;

// Workbooks are far smaller; anything above this is refused rather than read
// into memory.
constexpr std::uint64_t kMaxFileSize = std::uint64_t{1} << 30;

std::uint16_t U16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

std::uint32_t U32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::uint64_t U64(const std::uint8_t* p) {
  return static_cast<std::uint64_t>(U32(p)) | (static_cast<std::uint64_t>(U32(p + 4)) << 32);
}

[[noreturn]] void Fail(const std::string& message) { throw CompoundFileError("Compound file: " + message); }

std::string Quoted(const std::string& name) { return "stream \"" + name + "\""; }

// Closes a file descriptor when it goes out of scope.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

bool CompoundFile::HasSignature(const std::uint8_t* data, std::size_t size) {
  return size >= sizeof kSignature && std::memcmp(data, kSignature, sizeof kSignature) == 0;
}

bool CompoundFile::IsStorageFile(const std::string& path) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return false;
  std::uint8_t head[sizeof kSignature];
  std::size_t got = 0;
  while (got < sizeof head) {
    ssize_t n = ::read(fd.get(), head + got, sizeof head - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    got += static_cast<std::size_t>(n);
  }
  return HasSignature(head, got);
}

CompoundFile CompoundFile::Open(const std::string& path) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) throw Exception("Cannot open file \"" + path + "\": " + std::strerror(errno));
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) throw Exception("Cannot read file \"" + path + "\": " + std::strerror(errno));
  if (!S_ISREG(st.st_mode)) throw Exception("Cannot read file \"" + path + "\": not a regular file");
  if (static_cast<std::uint64_t>(st.st_size) > kMaxFileSize) Fail("the file is larger than 1 GiB");
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(st.st_size));
  std::size_t got = 0;
  while (got < bytes.size()) {
    ssize_t n = ::read(fd.get(), bytes.data() + got, bytes.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw Exception("Cannot read file \"" + path + "\": " + std::strerror(errno));
    if (n == 0) break;  // the file shrank while we read it
    got += static_cast<std::size_t>(n);
  }
  bytes.resize(got);
  return CompoundFile(std::move(bytes));
}

CompoundFile::CompoundFile(std::vector<std::uint8_t> bytes) : owned_(std::move(bytes)), bytes_(owned_) { Parse(); }

CompoundFile::CompoundFile(std::span<const std::uint8_t> bytes) : bytes_(bytes) { Parse(); }

void CompoundFile::Parse() {
  if (bytes_.size() > kMaxFileSize) Fail("the file is larger than 1 GiB");
  ReadHeaderAndFat();
  ReadDirectory();
  ReadMiniStructures();
  WalkRootTree();
}

// Sectors follow the header sector; a last sector cut short counts (it is
// read as if padded with zeros).
std::uint32_t CompoundFile::SectorCount() const {
  if (bytes_.size() <= sectorSize_) return 0;
  return static_cast<std::uint32_t>((bytes_.size() - sectorSize_ + sectorSize_ - 1) / sectorSize_);
}

void CompoundFile::CopyFromSector(std::uint32_t sector, std::uint32_t offset, std::uint32_t count,
                                  std::uint8_t* out) const {
  const std::uint64_t begin = (static_cast<std::uint64_t>(sector) + 1) * sectorSize_ + offset;
  std::size_t present = 0;
  if (begin < bytes_.size()) present = static_cast<std::size_t>(std::min<std::uint64_t>(count, bytes_.size() - begin));
  if (present > 0) std::memcpy(out, bytes_.data() + begin, present);
  std::memset(out + present, 0, count - present);
}

std::vector<std::uint32_t> CompoundFile::Chain(const std::vector<std::uint32_t>& table, std::uint32_t start,
                                               std::uint64_t bytes, std::uint32_t unitSize, std::uint32_t limit,
                                               const std::string& what, const char* area) const {
  const std::uint64_t needed = bytes / unitSize + (bytes % unitSize != 0 ? 1 : 0);
  std::vector<std::uint32_t> chain;
  std::vector<bool> seen(limit, false);
  std::uint32_t sector = start;
  while (chain.size() < needed && sector != kEndOfChain) {
    if (sector > kMaxRegSect) Fail("sector chain of " + what + " runs into a free or reserved sector mark");
    if (sector >= limit) {
      Fail("sector chain of " + what + " leaves " + area + " at sector " + std::to_string(sector));
    }
    if (seen[sector]) Fail("sector chain of " + what + " loops");
    seen[sector] = true;
    chain.push_back(sector);
    if (chain.size() == needed) break;
    if (sector >= table.size()) {
      Fail("sector " + std::to_string(sector) + " of " + what + " has no allocation table entry");
    }
    sector = table[sector];
  }
  return chain;
}

// Header: signature, sector sizes, the FAT sector list (109 entries in the
// header, the rest in the DIFAT chain), then the FAT itself.
void CompoundFile::ReadHeaderAndFat() {
  if (bytes_.size() < kHeaderSize) Fail("the file is shorter than its 512-byte header");
  const std::uint8_t* h = bytes_.data();
  if (!HasSignature(h, bytes_.size())) Fail("the signature is missing");
  const unsigned shift = U16(h + kOffSectorShift);
  if (shift != 9 && shift != 12) Fail("sector shift " + std::to_string(shift) + " is neither 9 nor 12");
  sectorSize_ = 1u << shift;
  const unsigned miniShift = U16(h + kOffMiniSectorShift);
  if (miniShift != 6) Fail("mini sector shift " + std::to_string(miniShift) + " is not 6");
  majorVersion_ = U16(h + kOffMajorVersion);
  miniCutoff_ = U32(h + kOffMiniCutoff);

  const std::uint32_t sectors = SectorCount();
  const std::uint32_t numFat = U32(h + kOffNumFatSectors);
  if (numFat > sectors) {
    Fail("the header lists " + std::to_string(numFat) + " FAT sectors but the file holds only " +
         std::to_string(sectors) + " sectors");
  }

  // Collect the FAT sector numbers. A free or end mark before the count is
  // reached ends the list: what it covers is all there is.
  std::vector<std::uint32_t> fatSectors;
  fatSectors.reserve(numFat);
  bool listEnded = false;
  auto take = [&](std::uint32_t sector) {
    if (listEnded || fatSectors.size() >= numFat) return;
    if (sector == kFreeSect || sector == kEndOfChain) {
      listEnded = true;
      return;
    }
    if (sector >= sectors) Fail("FAT sector " + std::to_string(sector) + " lies beyond the end of the file");
    fatSectors.push_back(sector);
  };
  for (std::size_t i = 0; i < kHeaderDifatEntries; ++i) take(U32(h + kOffDifat + 4 * i));

  const std::uint32_t perDifat = sectorSize_ / 4 - 1;  // the last entry links to the next DIFAT sector
  std::vector<std::uint8_t> sector(sectorSize_);
  std::vector<bool> seen(sectors, false);
  std::uint32_t difat = U32(h + kOffFirstDifat);
  while (!listEnded && fatSectors.size() < numFat && difat != kEndOfChain && difat != kFreeSect) {
    if (difat >= sectors) Fail("DIFAT sector " + std::to_string(difat) + " lies beyond the end of the file");
    if (seen[difat]) Fail("the DIFAT chain loops");
    seen[difat] = true;
    CopyFromSector(difat, 0, sectorSize_, sector.data());
    for (std::uint32_t i = 0; i < perDifat; ++i) take(U32(sector.data() + 4 * i));
    difat = U32(sector.data() + 4 * perDifat);
  }

  const std::uint32_t perFat = sectorSize_ / 4;
  fat_.resize(static_cast<std::size_t>(fatSectors.size()) * perFat);
  for (std::size_t i = 0; i < fatSectors.size(); ++i) {
    CopyFromSector(fatSectors[i], 0, sectorSize_, sector.data());
    for (std::uint32_t j = 0; j < perFat; ++j) fat_[i * perFat + j] = U32(sector.data() + 4 * j);
  }
}

// The directory: a chain of 128-byte entries; entry 0 is the root storage,
// whose chain is the mini stream.
void CompoundFile::ReadDirectory() {
  const std::uint32_t first = U32(bytes_.data() + kOffFirstDirSector);
  const auto chain = Chain(fat_, first, std::numeric_limits<std::uint64_t>::max(), sectorSize_, SectorCount(),
                           "the directory", "the file");
  if (chain.empty()) Fail("the directory is empty");
  const std::uint32_t perSector = sectorSize_ / kDirEntrySize;
  entries_.reserve(chain.size() * perSector);
  std::vector<std::uint8_t> sector(sectorSize_);
  for (std::uint32_t s : chain) {
    CopyFromSector(s, 0, sectorSize_, sector.data());
    for (std::uint32_t i = 0; i < perSector; ++i) {
      const std::uint8_t* e = sector.data() + i * kDirEntrySize;
      Entry entry;
      // The name length counts bytes with the terminator; damaged lengths
      // are clamped to the field and the name ends at its first NUL.
      std::size_t units = std::min<std::size_t>(U16(e + kOffNameLength) / 2, 32);
      for (std::size_t u = 0; u < units; ++u) {
        if (U16(e + kOffName + 2 * u) == 0) {
          units = u;
          break;
        }
      }
      entry.name = Utf16LeToUtf8(e + kOffName, units);
      entry.type = e[kOffType];
      entry.left = U32(e + kOffLeft);
      entry.right = U32(e + kOffRight);
      entry.child = U32(e + kOffChild);
      entry.start = U32(e + kOffStartSector);
      // Version 3 writers may leave garbage in the high half of the size.
      entry.size = majorVersion_ >= 4 ? U64(e + kOffStreamSize) : U32(e + kOffStreamSize);
      entries_.push_back(std::move(entry));
    }
  }
  if (entries_[0].type != kRoot) Fail("the first directory entry is not the root storage");
}

// The mini stream (the root entry's chain) and the mini FAT. Damage here
// matters only to small streams, so it is kept and reported when one of them
// is read.
void CompoundFile::ReadMiniStructures() {
  try {
    const Entry& root = entries_[0];
    if (root.size == 0) return;
    miniStreamSectors_ = Chain(fat_, root.start, root.size, sectorSize_, SectorCount(), "the mini stream", "the file");
    miniStreamSize_ = std::min<std::uint64_t>(root.size, std::uint64_t{sectorSize_} * miniStreamSectors_.size());

    const std::uint32_t numMiniFat = U32(bytes_.data() + kOffNumMiniFat);
    const std::uint32_t firstMiniFat = U32(bytes_.data() + kOffFirstMiniFat);
    const auto chain = Chain(fat_, firstMiniFat, std::uint64_t{numMiniFat} * sectorSize_, sectorSize_,
                             SectorCount(), "the mini FAT", "the file");
    const std::uint32_t perSector = sectorSize_ / 4;
    miniFat_.resize(chain.size() * perSector);
    std::vector<std::uint8_t> sector(sectorSize_);
    for (std::size_t i = 0; i < chain.size(); ++i) {
      CopyFromSector(chain[i], 0, sectorSize_, sector.data());
      for (std::uint32_t j = 0; j < perSector; ++j) miniFat_[i * perSector + j] = U32(sector.data() + 4 * j);
    }
  } catch (const CompoundFileError& e) {
    miniError_ = e.what();
    miniStreamSectors_.clear();
    miniFat_.clear();
    miniStreamSize_ = 0;
  }
}

// The root's elements: an in-order walk of its red-black tree (left
// sibling, entry, right sibling), which is the order the storage lists them.
void CompoundFile::WalkRootTree() {
  const std::uint64_t fileCapacity = std::uint64_t{sectorSize_} * SectorCount();
  std::vector<bool> seen(entries_.size(), false);
  seen[0] = true;
  std::vector<std::uint32_t> stack;
  auto check = [&](std::uint32_t from, std::uint32_t to) {
    if (to >= entries_.size()) {
      Fail("directory entry " + std::to_string(from) + " links to entry " + std::to_string(to) +
           ", beyond the directory");
    }
    if (seen[to]) Fail("the directory tree loops at entry " + std::to_string(to));
    seen[to] = true;
  };
  std::uint32_t parent = 0;
  std::uint32_t current = entries_[0].child;
  for (;;) {
    while (current != kNoStream) {
      check(parent, current);
      if (entries_[current].type != kStorage && entries_[current].type != kStream) {
        // A link to an unused or unknown entry is taken as no link: writers
        // and damage leave such entries behind without harm to the rest.
        current = kNoStream;
        break;
      }
      stack.push_back(current);
      parent = current;
      current = entries_[current].left;
    }
    if (stack.empty()) break;
    const std::uint32_t index = stack.back();
    stack.pop_back();
    const Entry& entry = entries_[index];
    const std::uint64_t size = entry.type == kStream ? std::min(entry.size, fileCapacity) : 0;
    elements_.push_back(Element{entry.name, size, entry.type});
    elementEntry_.push_back(index);
    parent = index;
    current = entry.right;
  }
}

const CompoundFile::Entry& CompoundFile::StreamEntry(const std::string& name) const {
  const auto it = std::find_if(elements_.begin(), elements_.end(), [&](const Element& e) { return e.name == name; });
  if (it == elements_.end()) Fail("there is no stream \"" + name + "\"");
  const Entry& entry = entries_[elementEntry_[static_cast<std::size_t>(it - elements_.begin())]];
  if (entry.type != kStream) Fail("\"" + name + "\" is a storage, not a stream");
  return entry;
}

std::span<const std::uint8_t> CompoundFile::StreamView(const std::string& name) const {
  const Entry& entry = StreamEntry(name);
  if (entry.size < miniCutoff_) return {};
  const auto chain = Chain(fat_, entry.start, entry.size, sectorSize_, SectorCount(), Quoted(name), "the file");
  for (std::size_t i = 1; i < chain.size(); ++i) {
    if (chain[i] != chain[i - 1] + 1) return {};
  }
  if (chain.empty()) return {};
  const std::uint64_t begin = (std::uint64_t{chain.front()} + 1) * sectorSize_;
  if (std::uint64_t{sectorSize_} * chain.size() < entry.size || begin + entry.size > bytes_.size()) return {};
  return bytes_.subspan(static_cast<std::size_t>(begin), static_cast<std::size_t>(entry.size));
}

std::vector<std::uint8_t> CompoundFile::ReadStream(const std::string& name) const {
  std::vector<std::uint8_t> out;
  out.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(StreamEntry(name).size, bytes_.size())));
  ReadStream(name, [&out](const std::uint8_t* data, std::size_t count) { out.insert(out.end(), data, data + count); });
  return out;
}

void CompoundFile::ReadStream(const std::string& name,
                              const std::function<void(const std::uint8_t*, std::size_t)>& sink) const {
  const Entry& entry = StreamEntry(name);
  const std::uint64_t size = entry.size;
  if (size == 0) return;

  const bool mini = size < miniCutoff_;
  if (mini && !miniError_.empty()) throw CompoundFileError(miniError_);
  const std::uint32_t unit = mini ? kMiniSectorSize : sectorSize_;
  const std::uint32_t limit =
      mini ? static_cast<std::uint32_t>((miniStreamSize_ + kMiniSectorSize - 1) / kMiniSectorSize) : SectorCount();
  const auto chain =
      Chain(mini ? miniFat_ : fat_, entry.start, size, unit, limit, Quoted(name), mini ? "the mini stream" : "the file");

  const std::uint64_t held = std::uint64_t{unit} * chain.size();
  if (held + unit <= size) {
    Fail(Quoted(name) + " claims " + std::to_string(size) + " bytes but its sector chain holds only " +
         std::to_string(held));
  }
  const std::uint64_t total = std::min(size, held);
  std::vector<std::uint8_t> piece(unit);
  std::uint64_t pos = 0;
  for (std::uint32_t s : chain) {
    const std::uint32_t count = static_cast<std::uint32_t>(std::min<std::uint64_t>(unit, total - pos));
    if (mini) {
      const std::uint64_t at = std::uint64_t{s} * kMiniSectorSize;
      CopyFromSector(miniStreamSectors_[static_cast<std::size_t>(at / sectorSize_)],
                     static_cast<std::uint32_t>(at % sectorSize_), count, piece.data());
    } else {
      CopyFromSector(s, 0, count, piece.data());
    }
    sink(piece.data(), count);
    pos += count;
  }
}

}  // namespace platform
