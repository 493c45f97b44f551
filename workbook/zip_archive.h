// Zip containers of today's workbooks (.xlsx, .xlsm, .ods) read through
// minizip over bytes the caller keeps mapped: the file is never copied, an
// entry is inflated chunk by chunk into a sink that may stop early, and every
// inflated byte is counted against an InflateBudget, so a hostile archive
// costs at most what the budget allows whatever its headers claim.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace workbook {

struct ZipCallbacks;

// The caps on what one read of a workbook may inflate: per entry and in all
// (one request). Sizes an archive declares are never trusted; only bytes
// actually inflated count. Charge raises Exception once a cap is passed.
class InflateBudget {
 public:
  InflateBudget(std::uint64_t perEntry, std::uint64_t perRequest) : perEntry_(perEntry), perRequest_(perRequest) {}
  // A chart request: it reads the workbook part, the styles, the selected
  // sheet up to its second row and the shared strings those rows use.
  static InflateBudget ChartRequest() { return {std::uint64_t{64} << 20, std::uint64_t{128} << 20}; }
  // The dump: every part of the workbook.
  static InflateBudget Dump() { return {std::uint64_t{1} << 30, std::uint64_t{4} << 30}; }

  // Counts `bytes` more inflated from `entry`, of which `entryTotal` have
  // been inflated now in all. Raises "Workbook part NAME inflates to more
  // than N bytes" or "Workbook inflates to more than N bytes".
  void Charge(std::string_view entry, std::uint64_t bytes, std::uint64_t entryTotal);
  std::uint64_t Used() const { return used_; }
  std::uint64_t PerEntry() const { return perEntry_; }
  std::uint64_t PerRequest() const { return perRequest_; }

 private:
  std::uint64_t perEntry_;
  std::uint64_t perRequest_;
  std::uint64_t used_ = 0;
};

class ZipArchive {
 public:
  // At most this many entries; more is refused (no workbook has them).
  static constexpr std::size_t kMaxEntries = 10000;
  // Entry names longer than this are refused.
  static constexpr std::size_t kMaxNameLength = 1024;

  struct Entry {
    std::string name;  // as stored (UTF-8 or CP437, unchanged)
    std::uint64_t declaredSize = 0;  // what the archive claims; a hint only
    std::uint64_t position = 0;  // central directory offset (minizip's own)
    std::uint64_t fileNumber = 0;
  };
  // Receives the inflated bytes of an entry chunk by chunk; returns false to
  // stop reading.
  using Sink = std::function<bool(std::span<const std::uint8_t>)>;

  // True when the bytes begin like a zip archive (a local header, or the end
  // record of an empty archive).
  static bool LooksLikeZip(std::span<const std::uint8_t> bytes);

  // Opens the archive held in `bytes` (which must stay valid and unchanged
  // while this object lives) and lists its central directory. Raises
  // Exception "Damaged zip archive: ..." or "Workbook has more than 10000 zip
  // entries".
  ZipArchive(std::span<const std::uint8_t> bytes, InflateBudget& budget);
  ~ZipArchive();
  ZipArchive(const ZipArchive&) = delete;
  ZipArchive& operator=(const ZipArchive&) = delete;

  // The entries in central directory order.
  const std::vector<Entry>& Entries() const { return entries_; }
  // The entry of an OPC part name or a zip path: letters compare without
  // case, "\" counts as "/", a leading "/" is ignored. nullptr when absent.
  const Entry* Find(std::string_view name) const;
  // Inflates the entry into `sink` in chunks of at most 64 KiB. Returns true
  // when the entry was read to its end (and its CRC checked), false when the
  // sink stopped. Raises Exception "Damaged zip entry NAME: ..." for damage,
  // an unsupported method or encryption, and the budget's refusals.
  bool Read(const Entry& entry, const Sink& sink);
  // The whole entry, when it inflates to at most `limit` bytes; raises
  // Exception "Workbook part NAME is larger than N bytes" otherwise.
  std::string ReadSmall(const Entry& entry, std::size_t limit);

  // Normal form of a part name for lookups: lower-case ASCII letters, "/"
  // for "\", no leading "/".
  static std::string NormalName(std::string_view name);

 private:
  friend struct ZipCallbacks;
  struct Source;
  std::unique_ptr<Source> source_;
  void* unz_ = nullptr;
  InflateBudget& budget_;
  std::vector<Entry> entries_;
  std::vector<std::pair<std::string, std::size_t>> index_;  // normal name -> entry, sorted
};

}  // namespace workbook
