// Text dump of what the reader reports about a workbook, in the layout of
// the xlrd-made oracle files of the test corpus:
//
//   #biff   CODE                       our version code 0-6
//   #sheet  INDEX  NAME  NROWS  NCOLS  per worksheet, NAME JSON-quoted
//   SHEET   ROW    COL   TYPE  VALUE   per number, text, bool and error cell
//
// Cells come sheet by sheet, row-major; a later record for the same cell
// replaces an earlier one. NROWS/NCOLS are one more than the highest row and
// column that holds such a cell. Used by the xls-dump tool and the corpus test.
//
// The formula dump (xls-dump --formulas) has the same #biff and #sheet lines,
// then one line per formula cell, sorted like the cells:
//
//   SHEET   ROW    COL   formula  TEXT   TEXT without "=", JSON-quoted
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class TXLSRead;

namespace xls {

// Python's repr() of a float: shortest round-trip digits, fixed notation for
// decimal exponents -4..15 (3.0, 0.1, 123456789.0), else 1e-05, 1e+16.
std::string PyFloatRepr(double value);
// Python's json.dumps() of a UTF-8 text (ensure_ascii: \uXXXX escapes).
std::string JsonQuote(const std::string& utf8);

struct DumpResult {
  std::string text;         // the dump's lines, each ending in "\n"
  std::string formulaText;  // the formula cells' lines, to follow the header lines
  std::vector<std::string> messages;  // errors the reader met (read went on)
  // `text` as lines (without their "\n").
  std::vector<std::string> Lines() const;
};

// Reads the workbook file (all worksheets) and dumps it. Open failures raise
// the reader's exception; errors inside the record loop are collected in
// `messages` and reading goes on.
DumpResult DumpWorkbookFile(const std::string& path);
DumpResult DumpWorkbookMemory(std::vector<std::uint8_t> file);

// Dumps what `read` reports through the events of the reader it is given
// (set up for the dump); `read` returns the dump's first line ("#biff\t6",
// "#format\txlsx"). Number cells reported with TXLSRead::kDateFormat are
// dumped as "date" cells.
DumpResult DumpEvents(const std::function<std::string(TXLSRead&)>& read);

// The formula dump: the header lines of `text`, then `formulaText`.
std::string FormulaDump(const DumpResult& dump);

}  // namespace xls
