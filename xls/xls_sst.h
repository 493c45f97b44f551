// Shared string table of BIFF8 workbooks: the SST record and the CONTINUE
// records that carry the rest of its data. Text cells (LABELSST) refer to
// entries by index.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace xls {

// Formatting runs of a rich-text string: entry 0 holds the run count n in its
// upper 16 bits; entries 1..n hold the first character index of a run (lower
// 16 bits) and its font index (upper 16 bits).
using RunBlock = std::vector<std::uint32_t>;

struct SstEntry {
  std::string text;  // UTF-8
  RunBlock runs;     // empty unless the string is rich text
};

class SharedStrings {
 public:
  // Parses the SST body (segments[0]) and the bodies of the CONTINUE records
  // that follow it (segments[1..]) and appends the strings to the table.
  //
  // A string may be cut by a CONTINUE anywhere. When its characters are cut,
  // the continuation starts with its own option byte, which decides whether
  // the rest of the characters are 8-bit or 16-bit; a cut between strings, in
  // a string's header, its formatting runs or its phonetic data carries no
  // such byte. Parsing stops quietly where the data ends (a table whose count
  // promises more strings than its data holds keeps the strings read, the
  // last one possibly cut short). A string with option bits outside 0x0D
  // raises Exception "Unhandled string in SST (<offset>)", offset counted from
  // the start of the SST body; the strings before it stay in the table.
  void Parse(std::span<const std::span<const std::uint8_t>> segments);

  std::size_t Count() const { return entries_.size(); }
  // Raises Exception "List index out of bounds (<index>)" outside the table.
  const SstEntry& At(std::int64_t index) const;
  void Clear() { entries_.clear(); }

 private:
  std::vector<SstEntry> entries_;
};

}  // namespace xls
