// Formula decoding: turns the parsed formula of a cell (BIFF "ptg" tokens in
// reverse Polish order) back into the text a spreadsheet shows, without the
// leading "=": references in A1 style ($B$3, Sheet2!A1:B4), functions as
// NAME(arguments), operators between their operands, parentheses only where
// the file stores them.
//
// One pass over the tokens with a stack of text pieces. An unsupported token
// ends decoding with the marker "Unknown ptg[XX]", a token whose data runs
// past the token bytes with "Truncated ptg[XX]"; an operator without
// operands pushes "<Val missing>"; an empty stack at the end gives "[ERROR]".
// A parenthesis or function that needs more operands than the stack holds,
// and a name, external name or sheet index outside its list, raise Exception
// "List index out of bounds (N)".
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace xls {

// One entry of a BIFF8 EXTERNSHEET record: a SUPBOOK and a range of its sheets.
struct ExternSheetEntry {
  std::uint16_t SupBook = 0;
  std::uint16_t FirstSheet = 0;  // 0xFFFE: the workbook itself, 0xFFFF: deleted
  std::uint16_t LastSheet = 0;
};

// A BIFF8 SUPBOOK record and the EXTERNNAME records behind it.
struct SupBook {
  enum Kind { sbInternal, sbAddIn, sbExternal };
  Kind Type = sbInternal;
  std::string Book;                 // external workbook's name as stored (UTF-8)
  std::vector<std::string> Sheets;  // external workbook's sheet names
  std::vector<std::string> Names;   // its external names, in file order
};

// What decoding needs of the workbook, kept up to date by the reader.
struct FormulaContext {
  int Version = 0;  // workbook version code 1..6 (token layout)
  char FuncArgSeparator = ',';
  std::string StrTRUE = "TRUE";
  std::string StrFALSE = "FALSE";
  int Codepage = 1252;  // 8-bit text before BIFF8
  std::vector<std::string> Names = {"<Np0>"};        // defined names, 1-based
  std::vector<std::string> ExternNames = {"<Ep0>"};  // external names, 1-based
  std::vector<std::string> Sheets;                   // sheet names, BOUNDSHEET order
  std::vector<ExternSheetEntry> ExternSheets;        // BIFF8
  std::vector<SupBook> SupBooks;                     // BIFF8
};

// Decodes the tokens of one formula. `data` starts at the first token; its
// first `tokenCount` bytes are the tokens, and what follows them (up to the
// end of `data`) is the formula's additional data, where array constants
// are read. baseCol and baseRow are the cell a shared formula is expanded
// for (references relative to it), 0 for ordinary formulas.
std::string DecodeFormula(std::span<const std::uint8_t> data, std::size_t tokenCount, int baseCol, int baseRow,
                          const FormulaContext& context);

// The text of a shared or array formula with holes where its references
// relative to the cell go: built once from the tokens, then only the holes
// are written for each cell.
struct FormulaTemplate {
  struct Segment {
    std::uint32_t length = 0;  // literal text before the hole
    std::int32_t hole = -1;    // token position of the relative reference, -1: none
    bool area = false;
  };
  bool built = false;
  bool reusable = false;  // false when the text depends on more than the cell (names, sheets)
  int version = 0, codepage = 0;
  std::string text;
  std::vector<Segment> segments;
};

// DecodeFormula for a cell of a shared or array formula, through `cache`
// (kept with the tokens, emptied when they change): the same text.
std::string DecodeSharedFormula(std::span<const std::uint8_t> data, std::size_t tokenCount, int baseCol, int baseRow,
                                const FormulaContext& context, FormulaTemplate& cache);

// A1-style text of a cell: column letters (A..Z, AA.., as many as needed),
// row + 1, "$" before an absolute part.
std::string CellRefText(int col, int row, bool colAbsolute, bool rowAbsolute);
void AppendCellRef(std::string& out, int col, int row, bool colAbsolute, bool rowAbsolute);

// A sheet name as formula text: kept as it is when it is a plain word
// (letters, digits, "_", ".", not starting with a digit, not a cell
// reference), otherwise in single quotes with an apostrophe doubled.
std::string QuoteSheetName(const std::string& name);

}  // namespace xls
