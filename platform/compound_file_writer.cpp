#include "platform/compound_file_writer.h"

#include <algorithm>
#include <cstring>
#include <functional>

#include "platform/compound_file.h"

namespace platform {
namespace {

using namespace cfb;

constexpr std::uint32_t kSectorSize = 512;
constexpr std::uint32_t kPerSector = kSectorSize / 4;  // 32-bit entries in a FAT or DIFAT sector
constexpr std::uint32_t kEntriesPerSector = kSectorSize / kDirEntrySize;

void Put16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint32_t Units(std::uint64_t bytes, std::uint32_t unit) {
  return static_cast<std::uint32_t>((bytes + unit - 1) / unit);
}

// UTF-8 to UTF-16 for entry names (characters of the basic plane only).
std::u16string NameToUtf16(const std::string& name) {
  std::u16string out;
  for (std::size_t i = 0; i < name.size();) {
    const auto c = static_cast<unsigned char>(name[i]);
    std::uint32_t cp = 0;
    std::size_t len = 0;
    if (c < 0x80) cp = c, len = 1;
    else if ((c & 0xE0) == 0xC0) cp = c & 0x1F, len = 2;
    else if ((c & 0xF0) == 0xE0) cp = c & 0x0F, len = 3;
    else throw CompoundFileError("Compound file: stream name \"" + name + "\" is not valid UTF-8 of the basic plane");
    if (i + len > name.size()) throw CompoundFileError("Compound file: stream name \"" + name + "\" is not valid UTF-8");
    for (std::size_t k = 1; k < len; ++k) {
      const auto d = static_cast<unsigned char>(name[i + k]);
      if ((d & 0xC0) != 0x80) throw CompoundFileError("Compound file: stream name \"" + name + "\" is not valid UTF-8");
      cp = (cp << 6) | (d & 0x3F);
    }
    out.push_back(static_cast<char16_t>(cp));
    i += len;
  }
  return out;
}

std::u16string Upper(std::u16string s) {
  for (auto& c : s)
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
  return s;
}

// Directory order of sibling entries: shorter names first, then by the
// upper-cased code units.
bool NameLess(const std::u16string& a, const std::u16string& b) {
  if (a.size() != b.size()) return a.size() < b.size();
  return Upper(a) < Upper(b);
}

}  // namespace

void CompoundFileWriter::AddStream(const std::string& name, std::vector<std::uint8_t> data) {
  std::u16string wide = NameToUtf16(name);
  if (wide.empty() || wide.size() > 31) {
    throw CompoundFileError("Compound file: stream name \"" + name + "\" must have 1 to 31 characters");
  }
  for (const auto& s : streams_) {
    if (Upper(s.name) == Upper(wide)) throw CompoundFileError("Compound file: stream \"" + name + "\" exists already");
  }
  if (data.size() > 0x7FFFFFFF) throw CompoundFileError("Compound file: stream \"" + name + "\" is too large");
  streams_.push_back({std::move(wide), std::move(data)});
}

std::vector<std::uint8_t> CompoundFileWriter::Build() const {
  // Sector plan: regular streams, the mini stream, the mini FAT, the
  // directory, the FAT, then DIFAT sectors if the header's 109 FAT entries
  // are not enough.
  const std::size_t n = streams_.size();
  std::vector<std::uint32_t> start(n, kEndOfChain);
  std::uint32_t next = 0;
  std::vector<std::uint32_t> miniStart(n, kEndOfChain);
  std::uint32_t miniSectors = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const auto size = static_cast<std::uint32_t>(streams_[i].data.size());
    if (size >= kMiniStreamCutoff) {
      start[i] = next;
      next += Units(size, kSectorSize);
    } else if (size > 0) {
      miniStart[i] = miniSectors;
      miniSectors += Units(size, kMiniSectorSize);
    }
  }
  const std::uint32_t miniStreamFirst = miniSectors > 0 ? next : kEndOfChain;
  const std::uint32_t miniStreamSectors = Units(std::uint64_t{miniSectors} * kMiniSectorSize, kSectorSize);
  next += miniStreamSectors;
  const std::uint32_t miniFatSectors = Units(std::uint64_t{miniSectors} * 4, kSectorSize);
  const std::uint32_t miniFatFirst = miniFatSectors > 0 ? next : kEndOfChain;
  next += miniFatSectors;
  const std::uint32_t dirFirst = next;
  const std::uint32_t dirSectors = Units(n + 1, kEntriesPerSector);
  next += dirSectors;
  std::uint32_t fatSectors = 0, difatSectors = 0;
  for (;;) {
    const std::uint32_t total = next + fatSectors + difatSectors;
    const std::uint32_t needFat = Units(total, kPerSector);
    const std::uint32_t needDifat = needFat > kHeaderDifatEntries ? Units(needFat - kHeaderDifatEntries, kPerSector - 1) : 0;
    if (needFat == fatSectors && needDifat == difatSectors) break;
    fatSectors = needFat;
    difatSectors = needDifat;
  }
  const std::uint32_t fatFirst = next;
  const std::uint32_t difatFirst = fatFirst + fatSectors;
  const std::uint32_t total = difatFirst + difatSectors;

  std::vector<std::uint8_t> out((std::size_t{total} + 1) * kSectorSize, 0);
  auto sector = [&](std::uint32_t s) { return out.data() + (std::size_t{s} + 1) * kSectorSize; };

  // FAT: chains of the regular streams, the mini stream, the mini FAT and
  // the directory; FAT and DIFAT sectors marked as such; the rest free.
  std::vector<std::uint32_t> fat(std::size_t{fatSectors} * kPerSector, kFreeSect);
  auto chain = [&](std::uint32_t first, std::uint32_t count) {
    for (std::uint32_t k = 0; k < count; ++k) fat[first + k] = k + 1 < count ? first + k + 1 : kEndOfChain;
  };
  for (std::size_t i = 0; i < n; ++i) {
    if (start[i] != kEndOfChain) chain(start[i], Units(streams_[i].data.size(), kSectorSize));
  }
  if (miniStreamSectors > 0) chain(miniStreamFirst, miniStreamSectors);
  if (miniFatSectors > 0) chain(miniFatFirst, miniFatSectors);
  chain(dirFirst, dirSectors);
  for (std::uint32_t k = 0; k < fatSectors; ++k) fat[fatFirst + k] = kFatSect;
  for (std::uint32_t k = 0; k < difatSectors; ++k) fat[difatFirst + k] = kDifSect;
  for (std::uint32_t k = 0; k < fatSectors; ++k) {
    for (std::uint32_t j = 0; j < kPerSector; ++j) Put32(sector(fatFirst + k) + 4 * j, fat[k * kPerSector + j]);
  }

  // Stream contents and the mini stream with its mini FAT.
  std::vector<std::uint32_t> miniFat(std::size_t{miniFatSectors} * kPerSector, kFreeSect);
  for (std::size_t i = 0; i < n; ++i) {
    const auto& data = streams_[i].data;
    if (data.empty()) continue;
    if (start[i] != kEndOfChain) {
      std::memcpy(sector(start[i]), data.data(), data.size());
    } else {
      std::memcpy(sector(miniStreamFirst) + std::size_t{miniStart[i]} * kMiniSectorSize, data.data(), data.size());
      const std::uint32_t count = Units(data.size(), kMiniSectorSize);
      for (std::uint32_t k = 0; k < count; ++k) {
        miniFat[miniStart[i] + k] = k + 1 < count ? miniStart[i] + k + 1 : kEndOfChain;
      }
    }
  }
  for (std::uint32_t j = 0; j < miniFat.size(); ++j) Put32(sector(miniFatFirst) + 4 * j, miniFat[j]);

  // Directory: the root (entry 0) and one entry per stream; the streams form
  // a balanced binary tree in directory order below the root, all black.
  std::vector<std::size_t> order(n);
  for (std::size_t i = 0; i < n; ++i) order[i] = i;
  std::sort(order.begin(), order.end(),
            [&](std::size_t a, std::size_t b) { return NameLess(streams_[a].name, streams_[b].name); });
  std::vector<std::uint32_t> left(n + 1, kNoStream), right(n + 1, kNoStream);
  std::function<std::uint32_t(std::size_t, std::size_t)> subtree = [&](std::size_t lo, std::size_t hi) {
    if (lo >= hi) return kNoStream;
    const std::size_t mid = lo + (hi - lo) / 2;
    const auto id = static_cast<std::uint32_t>(order[mid] + 1);
    left[id] = subtree(lo, mid);
    right[id] = subtree(mid + 1, hi);
    return id;
  };
  const std::uint32_t rootChild = subtree(0, n);
  std::uint8_t* dir = sector(dirFirst);
  auto entry = [&](std::size_t id, const std::u16string& name, EntryType type, std::uint32_t child,
                   std::uint32_t first, std::uint32_t size) {
    std::uint8_t* e = dir + id * kDirEntrySize;
    for (std::size_t k = 0; k < name.size(); ++k) Put16(e + kOffName + 2 * k, name[k]);
    Put16(e + kOffNameLength, static_cast<std::uint32_t>(2 * (name.size() + 1)));
    e[kOffType] = type;
    e[kOffColor] = 1;
    Put32(e + kOffLeft, left[id]);
    Put32(e + kOffRight, right[id]);
    Put32(e + kOffChild, child);
    Put32(e + kOffStartSector, first);
    Put32(e + kOffStreamSize, size);
  };
  entry(0, u"Root Entry", kRoot, rootChild, miniStreamFirst, miniSectors * kMiniSectorSize);
  for (std::size_t i = 0; i < n; ++i) {
    const auto size = static_cast<std::uint32_t>(streams_[i].data.size());
    entry(i + 1, streams_[i].name, kStream, kNoStream, start[i] != kEndOfChain ? start[i] : miniStart[i], size);
  }
  for (std::size_t id = n + 1; id < std::size_t{dirSectors} * kEntriesPerSector; ++id) {
    std::uint8_t* e = dir + id * kDirEntrySize;
    Put32(e + kOffLeft, kNoStream);
    Put32(e + kOffRight, kNoStream);
    Put32(e + kOffChild, kNoStream);
  }

  // Header, with the first 109 FAT sector numbers; the DIFAT sectors hold
  // the rest, each ending with the number of the next.
  std::uint8_t* h = out.data();
  std::memcpy(h, kSignature, sizeof kSignature);
  Put16(h + kOffMinorVersion, 0x003E);
  Put16(h + kOffMajorVersion, 3);
  Put16(h + kOffByteOrder, 0xFFFE);
  Put16(h + kOffSectorShift, 9);
  Put16(h + kOffMiniSectorShift, 6);
  Put32(h + kOffNumFatSectors, fatSectors);
  Put32(h + kOffFirstDirSector, dirFirst);
  Put32(h + kOffMiniCutoff, kMiniStreamCutoff);
  Put32(h + kOffFirstMiniFat, miniFatFirst);
  Put32(h + kOffNumMiniFat, miniFatSectors);
  Put32(h + kOffFirstDifat, difatSectors > 0 ? difatFirst : kEndOfChain);
  Put32(h + kOffNumDifat, difatSectors);
  for (std::uint32_t k = 0; k < kHeaderDifatEntries; ++k) {
    Put32(h + kOffDifat + 4 * k, k < fatSectors ? fatFirst + k : kFreeSect);
  }
  for (std::uint32_t d = 0; d < difatSectors; ++d) {
    std::uint8_t* s = sector(difatFirst + d);
    for (std::uint32_t j = 0; j < kPerSector - 1; ++j) {
      const std::uint32_t k = kHeaderDifatEntries + d * (kPerSector - 1) + j;
      Put32(s + 4 * j, k < fatSectors ? fatFirst + k : kFreeSect);
    }
    Put32(s + 4 * (kPerSector - 1), d + 1 < difatSectors ? difatFirst + d + 1 : kEndOfChain);
  }
  return out;
}

}  // namespace platform
