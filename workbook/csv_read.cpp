#include "workbook/csv_read.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <vector>

#include "platform/codepage.h"
#include "platform/sysutils.h"
#include "workbook/format_readers.h"

namespace workbook {
namespace {

constexpr std::size_t kSniffBytes = 64 * 1024;  // what separator and encoding are judged on
constexpr int kSniffRecords = 16;
// A field of more bytes than this holds more than kCsvMaxFieldChars
// characters in either encoding.
constexpr std::size_t kMaxFieldBytes = 4 * kCsvMaxFieldChars;

// Length of the valid UTF-8 sequence at s[i] (0 when invalid; overlong
// forms, surrogates and code points above U+10FFFF are invalid). `cut` is
// set when the bytes end inside an otherwise valid sequence.
std::size_t Utf8SequenceLength(const std::uint8_t* s, std::size_t n, std::size_t i, bool& cut) {
  const std::uint8_t b = s[i];
  cut = false;
  if (b < 0x80) return 1;
  std::size_t len = 0;
  std::uint8_t lo = 0x80, hi = 0xBF;  // bounds of the second byte
  if (b >= 0xC2 && b <= 0xDF) {
    len = 2;
  } else if (b >= 0xE0 && b <= 0xEF) {
    len = 3;
    if (b == 0xE0) lo = 0xA0;
    if (b == 0xED) hi = 0x9F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    len = 4;
    if (b == 0xF0) lo = 0x90;
    if (b == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  for (std::size_t k = 1; k < len; ++k) {
    if (i + k >= n) {
      cut = true;
      return 0;
    }
    const std::uint8_t c = s[i + k];
    if (k == 1 ? (c < lo || c > hi) : (c < 0x80 || c > 0xBF)) return 0;
  }
  return len;
}

// True when the bytes are valid UTF-8; with `allowCut`, a sequence cut off
// by the end of the bytes counts as valid.
bool IsUtf8(const std::uint8_t* s, std::size_t n, bool allowCut) {
  for (std::size_t i = 0; i < n;) {
    bool cut = false;
    const std::size_t len = Utf8SequenceLength(s, n, i, cut);
    if (len == 0) return cut && allowCut;
    i += len;
  }
  return true;
}

std::size_t CountUtf8Chars(std::string_view s) {
  return static_cast<std::size_t>(
      std::count_if(s.begin(), s.end(), [](char c) { return (static_cast<std::uint8_t>(c) & 0xC0) != 0x80; }));
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The fields of one record, split as the reader splits them, for the
// separator count of the sniffing pass: how many `;` and `,` lie outside
// quotes. Returns the position after the record, or npos when the record
// does not end within the bytes.
struct SeparatorCount {
  int semicolons = 0;
  int commas = 0;
  bool empty = true;
};
std::size_t CountRecord(const std::uint8_t* s, std::size_t n, std::size_t pos, SeparatorCount& count) {
  bool quoted = false;
  while (pos < n) {
    const std::uint8_t c = s[pos++];
    if (quoted) {
      if (c == '"') quoted = false;  // a doubled quote re-opens at once
      continue;
    }
    if (c == '"') {
      quoted = true;
    } else if (c == '\n') {
      return pos;
    } else if (c == '\r') {
      return pos < n && s[pos] == '\n' ? pos + 1 : pos;
    } else if (c == ';') {
      ++count.semicolons;
    } else if (c == ',') {
      ++count.commas;
    }
    count.empty = false;
  }
  return std::string_view::npos;
}

}  // namespace

bool LooksLikeText(std::span<const std::uint8_t> file) {
  const std::size_t n = std::min(file.size(), kSniffBytes);
  return std::memchr(file.data(), 0, n) == nullptr;
}

CsvDialect DetectCsvDialect(std::span<const std::uint8_t> file) {
  CsvDialect dialect;
  const std::uint8_t* s = file.data();
  if (file.size() >= 3 && s[0] == 0xEF && s[1] == 0xBB && s[2] == 0xBF) dialect.bodyStart = 3;
  const std::size_t end = std::min(file.size(), dialect.bodyStart + kSniffBytes);
  const bool whole = end == file.size();
  if (dialect.bodyStart == 0) dialect.utf8 = IsUtf8(s, end, !whole);

  // Records wholly inside the window; the last one counts when the window
  // holds the whole file.
  std::vector<SeparatorCount> records;
  std::size_t pos = dialect.bodyStart;
  while (pos < end && static_cast<int>(records.size()) < kSniffRecords) {
    SeparatorCount count;
    std::size_t next = CountRecord(s, end, pos, count);
    if (next == std::string_view::npos) {
      if (!whole) break;
      next = end;
    }
    if (!count.empty) records.push_back(count);
    pos = next;
  }
  if (records.empty()) return dialect;
  const bool sameSemicolons = std::all_of(records.begin(), records.end(), [&](const SeparatorCount& r) {
    return r.semicolons == records.front().semicolons;
  });
  if ((sameSemicolons && records.front().semicolons > 0) ||
      (records.front().semicolons > 0 && records.front().commas == 0)) {
    dialect.separator = ';';
  }
  return dialect;
}

std::optional<double> CsvNumber(std::string_view field, char separator) {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!field.empty() && blank(field.front())) field.remove_prefix(1);
  while (!field.empty() && blank(field.back())) field.remove_suffix(1);
  if (field.empty() || field.size() > 400) return std::nullopt;
  std::string text;  // the number in from_chars' form: '.' as the mark, no '+'
  std::size_t i = 0;
  bool negative = false;
  if (field[i] == '+' || field[i] == '-') negative = field[i++] == '-';
  int digits = 0;
  bool mark = false;
  for (; i < field.size(); ++i) {
    const char c = field[i];
    if (IsDigit(c)) {
      ++digits;
      text.push_back(c);
    } else if (!mark && (c == '.' || (c == ',' && separator == ';'))) {
      mark = true;
      text.push_back('.');
    } else {
      break;
    }
  }
  if (digits == 0) return std::nullopt;
  if (i < field.size() && (field[i] == 'e' || field[i] == 'E')) {
    text.push_back('e');
    ++i;
    if (i < field.size() && (field[i] == '+' || field[i] == '-')) text.push_back(field[i++]);
    const std::size_t expStart = i;
    while (i < field.size() && IsDigit(field[i])) text.push_back(field[i++]);
    if (i == expStart) return std::nullopt;
  }
  if (i != field.size()) return std::nullopt;
  double value = 0;
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || ptr != text.data() + text.size() || !std::isfinite(value)) return std::nullopt;
  return negative ? -value : value;
}

void ReadCsvFields(std::span<const std::uint8_t> file, const CsvDialect& dialect, const CsvFieldSink& sink,
                   int lastRow) {
  const std::uint8_t* s = file.data();
  const std::size_t n = file.size();
  const std::uint8_t sep = static_cast<std::uint8_t>(dialect.separator);
  std::string field;
  std::string decoded;
  std::size_t pos = std::min(dialect.bodyStart, n);
  int row = 0;
  int col = 0;

  const auto append = [&](std::size_t from, std::size_t to) {
    if (field.size() + (to - from) > kMaxFieldBytes) {
      throw Exception("CSV field in row " + std::to_string(row + 1) + ", column " + std::to_string(col + 1) +
                      " holds more than " + std::to_string(kCsvMaxFieldChars) + " characters");
    }
    field.append(reinterpret_cast<const char*>(s + from), to - from);
  };
  // Hands the field just read to the sink; false when the sink wants no more.
  const auto emit = [&]() {
    if (field.empty()) return true;
    std::string_view text = field;
    if (!dialect.utf8 || !IsUtf8(reinterpret_cast<const std::uint8_t*>(field.data()), field.size(), false)) {
      decoded = platform::CodepageToUtf8(field, 1252);
      text = decoded;
    }
    if (text.size() > kCsvMaxFieldChars && CountUtf8Chars(text) > kCsvMaxFieldChars) {
      throw Exception("CSV field in row " + std::to_string(row + 1) + ", column " + std::to_string(col + 1) +
                      " holds more than " + std::to_string(kCsvMaxFieldChars) + " characters");
    }
    return sink(row, col, text);
  };

  while (pos < n) {
    if (row >= kCsvMaxRows) throw Exception("CSV file has more than " + std::to_string(kCsvMaxRows) + " rows");
    if (s[pos] == '\n' || s[pos] == '\r') {  // an empty record: a row without cells
      pos += s[pos] == '\r' && pos + 1 < n && s[pos + 1] == '\n' ? 2 : 1;
      if (row == lastRow) return;
      ++row;
      continue;
    }
    col = 0;
    bool recordEnds = false;
    while (!recordEnds) {
      if (col >= kCsvMaxColumns) {
        throw Exception("CSV row " + std::to_string(row + 1) + " has more than " + std::to_string(kCsvMaxColumns) +
                        " columns");
      }
      field.clear();
      if (pos < n && s[pos] == '"') {
        // Quoted: up to the quote that is not doubled; what follows it up to
        // the separator is kept too (a lenient reading of a stray quote).
        ++pos;
        for (;;) {
          const void* q = std::memchr(s + pos, '"', n - pos);
          const std::size_t quote = q ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(q) - s) : n;
          append(pos, quote);
          pos = quote;
          if (pos >= n) break;
          ++pos;
          if (pos < n && s[pos] == '"') {
            append(pos, pos + 1);
            ++pos;
            continue;
          }
          break;
        }
      }
      const std::size_t start = pos;
      while (pos < n && s[pos] != sep && s[pos] != '\r' && s[pos] != '\n') ++pos;
      append(start, pos);
      if (!emit()) return;
      ++col;
      if (pos >= n) {
        recordEnds = true;
      } else if (s[pos] == sep) {
        ++pos;
        if (pos >= n) recordEnds = true;  // a trailing separator: one more empty field
      } else {
        if (s[pos] == '\r' && pos + 1 < n && s[pos + 1] == '\n') ++pos;
        ++pos;
        recordEnds = true;
      }
    }
    if (row == lastRow) return;
    ++row;
  }
}

std::string CsvSheetName(std::string_view path) {
  const std::size_t slash = path.find_last_of("/\\");
  std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.find_last_of('.');
  if (dot != std::string_view::npos && dot > 0) name = name.substr(0, dot);
  if (name.empty()) return "Sheet1";
  if (IsUtf8(reinterpret_cast<const std::uint8_t*>(name.data()), name.size(), false)) return std::string(name);
  return platform::CodepageToUtf8(name, 1252);
}

}  // namespace workbook

namespace workbook {

void ReadCsvWorkbook(TXLSRead& events, std::span<const std::uint8_t> file, const std::string& path,
                     const ReadLimits& limits) {
  events.BeginEventRead();
  bool readIt = true;
  if (events.OnSheet) events.OnSheet(events, CsvSheetName(path), 0, readIt);
  if (!readIt || events.StopRequested()) return;
  const CsvDialect dialect = DetectCsvDialect(file);
  const int lastRow = limits.rowLimit > 0 ? limits.rowLimit - 1 : -1;
  ReadCsvFields(
      file, dialect,
      [&](int row, int col, std::string_view text) {
        if (const auto number = CsvNumber(text, dialect.separator)) {
          if (events.OnNumberCell) events.OnNumberCell(events, col, row, -1, *number, false);
        } else if (events.OnStringCell) {
          events.OnStringCell(events, col, row, -1, std::string(text), false);
        }
        return !events.StopRequested();
      },
      lastRow);
}

}  // namespace workbook
