// CSV reading: a comma- or semicolon-separated text file read as a workbook
// of one sheet.
//
// The text follows RFC 4180: records end with CRLF, LF or a lone CR; a field
// that starts with a double quote runs to the matching quote, holding
// separators and line breaks as they are, a doubled quote standing for one.
// Text is UTF-8 when the file starts with a byte order mark or its first
// 64 KiB are valid UTF-8, else Windows-1252 (a field that is not valid UTF-8
// in a UTF-8 file is read as Windows-1252 too). The separator is `;` when it
// splits each of the first records into the same number (above one) of
// fields, else `,`; with `;` the decimal mark may be a comma ("1,5"), as in
// German exports. A field that is a decimal number becomes a number cell,
// any other non-empty field a text cell, an empty field no cell.
//
// Bounds: at most 1,048,576 rows and 16,384 columns, 32,767 characters a
// field; one field is held in memory at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace workbook {

inline constexpr int kCsvMaxRows = 1048576;
inline constexpr int kCsvMaxColumns = 16384;
inline constexpr std::size_t kCsvMaxFieldChars = 32767;

// How a CSV file is written, as far as reading it needs to know.
struct CsvDialect {
  char separator = ',';
  bool utf8 = true;          // else Windows-1252
  std::size_t bodyStart = 0; // offset after a UTF-8 byte order mark
  bool operator==(const CsvDialect&) const = default;
};

// Separator, encoding and byte order mark of the file (looks at its first
// 64 KiB at most).
CsvDialect DetectCsvDialect(std::span<const std::uint8_t> file);

// True when the bytes can be a text file: no NUL byte in the first 64 KiB.
bool LooksLikeText(std::span<const std::uint8_t> file);

// A field's content: a number, or the text itself.
struct CsvValue {
  std::optional<double> number;
  std::string_view text;  // the field (valid while the field is)
};
// The number a field stands for: optional sign, digits with at most one
// decimal mark ('.', or ',' too when the separator is ';') and an optional
// exponent, blanks around it allowed. Anything else is no number.
std::optional<double> CsvNumber(std::string_view field, char separator);

// Receives each non-empty field in order, row-major, as UTF-8 (0-based row
// and column); returns false to end the read there.
using CsvFieldSink = std::function<bool(int row, int col, std::string_view text)>;

// Reads the records of `file` (dialect as detected) and hands every non-empty
// field to `sink`, ending after row `lastRow` (0-based) when that is not
// negative. Raises Exception for a file beyond the bounds above:
//   "CSV file has more than 1048576 rows"
//   "CSV row R has more than 16384 columns"
//   "CSV field in row R, column C holds more than 32767 characters"
// (R and C counted from 1).
void ReadCsvFields(std::span<const std::uint8_t> file, const CsvDialect& dialect, const CsvFieldSink& sink,
                   int lastRow = -1);

// The sheet name of a CSV file: its file name without extension, after the
// last "/" or "\" (a client may name an upload with either); "Sheet1" when
// that leaves nothing.
std::string CsvSheetName(std::string_view path);

}  // namespace workbook
