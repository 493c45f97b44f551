// A tiny compound-file writer for tests: builds a container with a fixed,
// known layout so that tests can damage chosen bytes of it (a FAT entry, a
// directory field, a DIFAT link) and check how a reader copes.
//
// Layout: header sector, FAT sectors, DIFAT sectors, directory, mini FAT,
// mini stream, then each regular stream in order. The root's tree is a
// right-leaning list of the streams in the order given, so an in-order walk
// yields that order.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace testing_support {

struct CfbTestStream {
  std::string name;  // ASCII
  std::vector<std::uint8_t> data;
};

struct CfbTestFile {
  std::vector<std::uint8_t> bytes;
  std::uint32_t sectorSize = 512;
  std::vector<std::uint32_t> fatSectors;
  std::vector<std::uint32_t> difatSectors;
  std::uint32_t dirStart = 0;
  std::uint32_t miniFatStart = 0xFFFFFFFE;
  std::uint32_t miniStreamStart = 0xFFFFFFFE;
  std::vector<std::uint32_t> streamStart;  // first sector (or mini sector) of each stream
  std::vector<bool> streamIsMini;

  // Byte offset of sector `s`, of directory entry `i`, of FAT entry `s`.
  std::size_t SectorOffset(std::uint32_t s) const { return (std::size_t{s} + 1) * sectorSize; }
  std::size_t DirEntryOffset(std::uint32_t i) const {
    const std::uint32_t perSector = sectorSize / 128;
    return SectorOffset(dirStart + i / perSector) + (i % perSector) * 128;
  }
  std::size_t FatEntryOffset(std::uint32_t s) const {
    const std::uint32_t per = sectorSize / 4;
    return SectorOffset(fatSectors[s / per]) + (s % per) * 4;
  }
  std::size_t MiniFatEntryOffset(std::uint32_t s) const { return SectorOffset(miniFatStart) + s * 4; }

  void Put32(std::size_t at, std::uint32_t v) { for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(v >> (8 * i)); }
  void Put16(std::size_t at, std::uint16_t v) { bytes[at] = static_cast<std::uint8_t>(v), bytes[at + 1] = static_cast<std::uint8_t>(v >> 8); }
};

struct CfbTestOptions {
  unsigned sectorShift = 9;       // 9 (version 3) or 12 (version 4)
  std::uint32_t minFatSectors = 0;  // pad the FAT to force DIFAT sectors
};

inline CfbTestFile BuildCfb(const std::vector<CfbTestStream>& streams, CfbTestOptions options = {}) {
  constexpr std::uint32_t kEnd = 0xFFFFFFFE, kFree = 0xFFFFFFFF, kFatSect = 0xFFFFFFFD, kDifSect = 0xFFFFFFFC;
  CfbTestFile f;
  const std::uint32_t S = 1u << options.sectorShift;
  f.sectorSize = S;
  auto ceilDiv = [](std::uint64_t a, std::uint64_t b) { return static_cast<std::uint32_t>((a + b - 1) / b); };

  // Mini streams: every non-empty stream under 4096 bytes, each padded to 64.
  std::uint32_t miniSectors = 0, regularSectors = 0;
  for (const auto& s : streams) {
    const bool mini = !s.data.empty() && s.data.size() < 4096;
    f.streamIsMini.push_back(mini);
    if (mini) miniSectors += ceilDiv(s.data.size(), 64);
    else regularSectors += ceilDiv(s.data.size(), S);
  }
  const std::uint32_t dirSectors = ceilDiv((streams.size() + 1) * 128, S);
  const std::uint32_t miniFatSectors = ceilDiv(miniSectors * 4, S);
  const std::uint32_t miniStreamSectors = ceilDiv(miniSectors * 64, S);
  const std::uint32_t data = dirSectors + miniFatSectors + miniStreamSectors + regularSectors;

  std::uint32_t fatCount = std::max<std::uint32_t>(1, options.minFatSectors);
  std::uint32_t difatCount = 0;
  for (;; ++fatCount) {  // enough FAT sectors to map everything, themselves and the DIFAT included
    difatCount = fatCount > 109 ? ceilDiv(fatCount - 109, S / 4 - 1) : 0;
    if (std::uint64_t{fatCount} * (S / 4) >= data + fatCount + difatCount) break;
  }
  const std::uint32_t total = fatCount + difatCount + data;
  std::vector<std::uint32_t> fat(std::size_t{fatCount} * (S / 4), kFree);
  std::uint32_t next = 0;
  for (std::uint32_t i = 0; i < fatCount; ++i) f.fatSectors.push_back(next), fat[next++] = kFatSect;
  for (std::uint32_t i = 0; i < difatCount; ++i) f.difatSectors.push_back(next), fat[next++] = kDifSect;
  auto chain = [&](std::uint32_t count) {
    if (count == 0) return kEnd;
    const std::uint32_t first = next;
    for (std::uint32_t i = 0; i < count; ++i, ++next) fat[next] = i + 1 < count ? next + 1 : kEnd;
    return first;
  };
  f.dirStart = chain(dirSectors);
  f.miniFatStart = chain(miniFatSectors);
  f.miniStreamStart = chain(miniStreamSectors);
  std::vector<std::uint32_t> miniFat;
  for (std::size_t i = 0; i < streams.size(); ++i) {
    if (!f.streamIsMini[i]) {
      f.streamStart.push_back(chain(ceilDiv(streams[i].data.size(), S)));
      continue;
    }
    const std::uint32_t count = ceilDiv(streams[i].data.size(), 64);
    f.streamStart.push_back(static_cast<std::uint32_t>(miniFat.size()));
    for (std::uint32_t k = 0; k < count; ++k) miniFat.push_back(k + 1 < count ? f.streamStart[i] + k + 1 : kEnd);
  }

  f.bytes.assign((std::size_t{total} + 1) * S, 0);
  // Header.
  const std::uint8_t sig[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  std::memcpy(f.bytes.data(), sig, 8);
  f.Put16(0x18, 0x3E);
  f.Put16(0x1A, options.sectorShift == 12 ? 4 : 3);
  f.Put16(0x1C, 0xFFFE);
  f.Put16(0x1E, static_cast<std::uint16_t>(options.sectorShift));
  f.Put16(0x20, 6);
  f.Put32(0x28, options.sectorShift == 12 ? dirSectors : 0);
  f.Put32(0x2C, fatCount);
  f.Put32(0x30, f.dirStart);
  f.Put32(0x38, 4096);
  f.Put32(0x3C, f.miniFatStart);
  f.Put32(0x40, miniFatSectors);
  f.Put32(0x44, difatCount > 0 ? f.difatSectors[0] : kEnd);
  f.Put32(0x48, difatCount);
  for (std::uint32_t i = 0; i < 109; ++i) f.Put32(0x4C + 4 * i, i < fatCount ? f.fatSectors[i] : kFree);
  // DIFAT sectors: FAT sector numbers beyond the first 109, the last entry links on.
  const std::uint32_t perDifat = S / 4 - 1;
  for (std::uint32_t d = 0; d < difatCount; ++d) {
    const std::size_t base = f.SectorOffset(f.difatSectors[d]);
    for (std::uint32_t i = 0; i < perDifat; ++i) {
      const std::uint32_t k = 109 + d * perDifat + i;
      f.Put32(base + 4 * i, k < fatCount ? f.fatSectors[k] : kFree);
    }
    f.Put32(base + 4 * perDifat, d + 1 < difatCount ? f.difatSectors[d + 1] : kEnd);
  }
  // FAT and mini FAT (the mini FAT's sectors are consecutive).
  for (std::uint32_t i = 0; i < fat.size(); ++i) f.Put32(f.FatEntryOffset(i), fat[i]);
  for (std::uint32_t i = 0; i < miniFatSectors * (S / 4); ++i) f.Put32(f.MiniFatEntryOffset(i), i < miniFat.size() ? miniFat[i] : kFree);
  // Directory: the root, then one entry per stream linked as a right-leaning list.
  auto entry = [&](std::uint32_t i, const std::string& name, std::uint8_t type, std::uint32_t right,
                   std::uint32_t child, std::uint32_t start, std::uint64_t size) {
    const std::size_t e = f.DirEntryOffset(i);
    for (std::size_t c = 0; c < name.size(); ++c) f.Put16(e + 2 * c, static_cast<std::uint8_t>(name[c]));
    f.Put16(e + 0x40, static_cast<std::uint16_t>(2 * (name.size() + 1)));
    f.bytes[e + 0x42] = type;
    f.bytes[e + 0x43] = 1;  // black
    f.Put32(e + 0x44, kFree);
    f.Put32(e + 0x48, right);
    f.Put32(e + 0x4C, child);
    f.Put32(e + 0x74, start);
    f.Put32(e + 0x78, static_cast<std::uint32_t>(size));
    f.Put32(e + 0x7C, static_cast<std::uint32_t>(size >> 32));
  };
  for (std::uint32_t i = static_cast<std::uint32_t>(streams.size()) + 1; i < dirSectors * (S / 128); ++i) {
    for (std::size_t link : {0x44, 0x48, 0x4C}) f.Put32(f.DirEntryOffset(i) + link, kFree);  // unused entries link nowhere
  }
  entry(0, "Root Entry", 5, kFree, streams.empty() ? kFree : 1, f.miniStreamStart, std::uint64_t{miniSectors} * 64);
  for (std::uint32_t i = 0; i < streams.size(); ++i) {
    entry(i + 1, streams[i].name, 2, i + 1 < streams.size() ? i + 2 : kFree, kFree,
          streams[i].data.empty() ? kEnd : f.streamStart[i], streams[i].data.size());
  }
  // Stream contents; the mini stream's sectors are consecutive too.
  for (std::size_t i = 0; i < streams.size(); ++i) {
    if (streams[i].data.empty()) continue;
    const std::size_t at = f.streamIsMini[i] ? f.SectorOffset(f.miniStreamStart) + std::size_t{f.streamStart[i]} * 64
                                             : f.SectorOffset(f.streamStart[i]);
    std::copy(streams[i].data.begin(), streams[i].data.end(), f.bytes.begin() + static_cast<std::ptrdiff_t>(at));
  }
  return f;
}

}  // namespace testing_support
