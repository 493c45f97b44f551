#include "xls/xls_sst.h"

#include <algorithm>

#include "platform/codepage.h"
#include "platform/sysutils.h"
#include "xls/biff_records.h"

namespace xls {

namespace {

// Walks the SST body and its continuations as one byte sequence, but lets
// the string parser see where a continuation begins. Raw reads (headers,
// runs, phonetic data) cross segment ends transparently; character data is
// taken segment by segment.
class SegmentCursor {
 public:
  explicit SegmentCursor(std::span<const std::span<const std::uint8_t>> segments) : segs_(segments) {}

  bool AtEnd() const {
    std::size_t s = seg_, p = pos_;
    while (s < segs_.size() && p >= segs_[s].size()) {
      ++s;
      p = 0;
    }
    return s >= segs_.size();
  }
  // Offset from the start of the first segment.
  std::size_t Offset() const { return base_ + pos_; }
  // Bytes left in the current segment (0 at its end).
  std::size_t LeftInSegment() const { return seg_ < segs_.size() ? segs_[seg_].size() - pos_ : 0; }
  const std::uint8_t* Here() const { return segs_[seg_].data() + pos_; }

  bool Byte(std::uint8_t& b) {
    Settle();
    if (seg_ >= segs_.size()) return false;
    b = segs_[seg_][pos_++];
    return true;
  }
  bool U16(std::uint16_t& v) {
    std::uint8_t lo = 0, hi = 0;
    if (!Byte(lo) || !Byte(hi)) return false;
    v = static_cast<std::uint16_t>(lo | hi << 8);
    return true;
  }
  bool U32(std::uint32_t& v) {
    std::uint16_t lo = 0, hi = 0;
    if (!U16(lo) || !U16(hi)) return false;
    v = lo | static_cast<std::uint32_t>(hi) << 16;
    return true;
  }
  // Passes over n bytes; false when the data ends first.
  bool Skip(std::uint64_t n) {
    while (n > 0) {
      Settle();
      if (seg_ >= segs_.size()) return false;
      const std::size_t step = static_cast<std::size_t>(std::min<std::uint64_t>(n, LeftInSegment()));
      pos_ += step;
      n -= step;
    }
    return true;
  }
  // Takes n bytes of the current segment (n <= LeftInSegment()).
  void Advance(std::size_t n) { pos_ += n; }
  // Moves to the start of the next segment; false when there is none.
  bool NextSegment() {
    if (seg_ >= segs_.size()) return false;
    base_ += segs_[seg_].size();
    ++seg_;
    pos_ = 0;
    return seg_ < segs_.size();
  }

 private:
  // Steps over used-up segments before a raw read.
  void Settle() {
    while (seg_ < segs_.size() && pos_ >= segs_[seg_].size()) NextSegment();
  }

  std::span<const std::span<const std::uint8_t>> segs_;
  std::size_t seg_ = 0;
  std::size_t pos_ = 0;
  std::size_t base_ = 0;
};

}  // namespace

const SstEntry& SharedStrings::At(std::int64_t index) const {
  if (index < 0 || static_cast<std::uint64_t>(index) >= entries_.size()) {
    throw Exception("List index out of bounds (" + std::to_string(index) + ")");
  }
  return entries_[static_cast<std::size_t>(index)];
}

void SharedStrings::Parse(std::span<const std::span<const std::uint8_t>> segments) {
  SegmentCursor in(segments);
  std::uint32_t total = 0, count = 0;
  if (!in.U32(total) || !in.U32(count)) return;
  const auto declared = static_cast<std::int32_t>(count);
  if (declared <= 0) return;

  // Never reserve more entries than the data can hold (3 bytes per string).
  std::size_t bytes = 0;
  for (const auto& s : segments) bytes += s.size();
  entries_.reserve(entries_.size() + std::min<std::size_t>(static_cast<std::size_t>(declared), bytes / 3));

  std::vector<std::uint8_t> utf16;  // characters of the string in progress
  for (std::int32_t i = 0; i < declared && !in.AtEnd(); ++i) {
    // String header: character count, option flags, [run count], [ext size].
    const std::size_t start = in.Offset();
    std::uint16_t chars = 0;
    std::uint8_t flags = 0;
    if (!in.U16(chars) || !in.Byte(flags)) return;
    if ((flags & ~(biff::kStrHighByte | biff::kStrExtended | biff::kStrRich)) != 0) {
      throw Exception("Unhandled string in SST (" + std::to_string(start) + ")");
    }
    std::uint16_t runCount = 0;
    std::uint32_t extSize = 0;
    if ((flags & biff::kStrRich) && !in.U16(runCount)) return;
    if ((flags & biff::kStrExtended) && !in.U32(extSize)) return;

    // Characters: a continuation that cuts them starts with an option byte
    // of its own (8-bit or 16-bit for the rest of this string).
    utf16.clear();
    bool wide = (flags & biff::kStrHighByte) != 0;
    std::size_t got = 0;
    bool cut = false;
    while (true) {
      const std::size_t unit = wide ? 2 : 1;
      const std::size_t avail = in.LeftInSegment() / unit;
      const std::size_t take = std::min<std::size_t>(chars - got, avail);
      if (take > 0) {
        const std::uint8_t* p = in.Here();
        if (wide) {
          utf16.insert(utf16.end(), p, p + 2 * take);
        } else {
          for (std::size_t k = 0; k < take; ++k) {
            utf16.push_back(p[k]);
            utf16.push_back(0);
          }
        }
        in.Advance(take * unit);
        got += take;
      }
      if (got == chars) break;
      std::uint8_t option = 0;
      if (!in.NextSegment() || !in.Byte(option)) {
        cut = true;
        break;
      }
      wide = (option & biff::kStrHighByte) != 0;
    }

    SstEntry entry;
    entry.text = platform::Utf16LeToUtf8(utf16.data(), utf16.size() / 2);
    if (cut) {
      entries_.push_back(std::move(entry));
      return;
    }
    // Formatting runs (4 bytes each, copied unchanged), then phonetic data.
    if (flags & biff::kStrRich) {
      entry.runs.reserve(1u + runCount);
      entry.runs.push_back(static_cast<std::uint32_t>(runCount) << 16);
      for (std::uint16_t r = 0; r < runCount; ++r) {
        std::uint32_t run = 0;
        if (!in.U32(run)) {
          entry.runs.front() = static_cast<std::uint32_t>(entry.runs.size() - 1) << 16;
          entries_.push_back(std::move(entry));
          return;
        }
        entry.runs.push_back(run);
      }
    }
    entries_.push_back(std::move(entry));
    if (!in.Skip(extSize)) return;
  }
}

}  // namespace xls
