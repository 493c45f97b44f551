// OpenDocument spreadsheet reading: the tables of an .ods package's
// content.xml, or of a flat .fods document, as sheets and cells.
//
// OdsContent takes the XML elements of that document as a streaming parser
// reports them (namespace URI and local name, never a prefix) and reports
// each table and each non-empty cell, row by row:
//  - tables in document order, hidden ones too;
//  - rows and cells repeated by table:number-rows-repeated and
//    table:number-columns-repeated are counted, and only a repeated cell that
//    holds a value is reported once per repetition (bounded below), so a
//    million empty repeated rows cost nothing;
//  - a covered cell (hidden under a merged one) is a cell like others: it
//    takes its column, and is reported when it holds a value (which
//    LibreOffice keeps when cells with content are merged);
//  - office:value-type float, percentage and currency are numbers, date and
//    time are dates (days since 1899-12-30; a time is a fraction of a day),
//    boolean is a boolean, string (or none) is the text: office:string-value,
//    else the cell's paragraphs joined with "\n" (white space collapsed as
//    ODF says, text:s as spaces, text:tab, text:line-break; annotations,
//    notes and ruby text left out); a cell with an Excel error text as
//    calcext:value-type "error" is an error.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "workbook/xml_stream.h"

namespace workbook {

inline constexpr int kOdsMaxRows = 1048576;
inline constexpr int kOdsMaxColumns = 16384;
inline constexpr std::size_t kOdsMaxCellChars = 32767;
// Cells that repetition adds beyond those written out, in a whole document.
inline constexpr std::int64_t kOdsMaxRepeatedCells = 1000000;

namespace odf_ns {
inline constexpr std::string_view kOffice = "urn:oasis:names:tc:opendocument:xmlns:office:1.0";
inline constexpr std::string_view kTable = "urn:oasis:names:tc:opendocument:xmlns:table:1.0";
inline constexpr std::string_view kText = "urn:oasis:names:tc:opendocument:xmlns:text:1.0";
inline constexpr std::string_view kCalcExt = "urn:org:documentfoundation:names:experimental:calc:xmlns:calcext:1.0";
}  // namespace odf_ns

// The mimetype of an OpenDocument spreadsheet package.
inline constexpr std::string_view kOdsMimeType = "application/vnd.oasis.opendocument.spreadsheet";

// What a cell holds.
struct OdsValue {
  enum class Kind { Empty, Number, Date, Bool, Text, Error };
  Kind kind = Kind::Empty;
  double number = 0;  // Number, Date; Bool as 0/1; Error as Excel's code
  std::string text;   // Text
  std::string formula;  // table:formula as the file holds it, when there is one
};

// office:date-value ("2024-01-31", "2024-01-31T12:00:00", optional zone,
// which is not applied) as days since 1899-12-30 with the time of day as a
// fraction; nullopt when malformed.
std::optional<double> OdsDateSerial(std::string_view value);
// office:time-value, an xsd:duration ("PT12H30M00S", "-P1DT6H"), in days.
std::optional<double> OdsTimeSerial(std::string_view value);
// A table:formula's text without its namespace prefix and "="
// ("of:=SUM([.A1:.B1])" -> "SUM([.A1:.B1])").
std::string OdsFormulaText(std::string_view formula);
// Excel's code of an error text ("#DIV/0!" 0x07, "#N/A" 0x2a, ...); -1 when
// the text is none of them.
int OdsErrorCode(std::string_view text);

// The content document's handler: give it to an XmlStream over content.xml
// (or over the flat document).
class OdsContent : public XmlHandler {
 public:
  // A table starts: its 0-based index and name. Return false and its cells
  // are passed over.
  std::function<bool(int index, const std::string& name)> OnTable;
  // The table being read has ended (also when its cells were passed over).
  std::function<void(int index)> OnTableEnd;
  // A non-empty cell of a table being read (0-based). Return false to end
  // the whole read.
  std::function<bool(int row, int col, const OdsValue& value)> OnCell;

  // Rows wanted of a table being read (0: all): the read ends after them.
  int RowLimit = 0;
  // The stream to stop once the read has what it wants (may stay null).
  XmlStream* Stream = nullptr;

  // The parser's events. Raise Exception for a document beyond the bounds:
  //   "ODF table N has a cell beyond row 1048576"
  //   "ODF table N has a cell beyond column 16384"
  //   "ODF cell in table N, row R, column C holds more than 32767 characters"
  //   "ODF repeated rows and columns add more than 1000000 cells"
  // (N, R and C counted from 1).
  void OnStart(const XmlName& name, const XmlAttributes& attributes) override;
  void OnEnd(const XmlName& name) override;
  void OnText(std::string_view text) override;

  // Ends the read (from a handler that has what it wants): later events are
  // passed over.
  void Stop() {
    stopped_ = true;
    if (Stream) Stream->Stop();
  }
  // True once the read was ended; the parser should stop.
  bool Stopped() const { return stopped_; }
  // Tables seen so far.
  int Tables() const { return tableIndex_ + 1; }

 private:
  enum class Kind : std::uint8_t {
    Other, Spreadsheet, Table, SkippedTable, RowContainer, Row, Cell, ParaHolder, List, Para, Inline, Ignored
  };
  struct RepeatedCell {
    int col;
    std::int64_t repeat;
    OdsValue value;
  };

  Kind Classify(Kind parent, std::string_view uri, std::string_view local) const;
  void StartTable(const XmlAttributes& attributes);
  void StartRow(const XmlAttributes& attributes);
  void StartCell(const XmlAttributes& attributes);
  void EndCell();
  void EndRow();
  void EmitRepeatedRow(std::int64_t first);
  void AddText(std::string_view text);
  void CheckCellText();
  bool Emit(std::int64_t row, int col, const OdsValue& value);
  void AddRepeated(std::int64_t cells);
  [[noreturn]] void CellTooLong() const;

  std::vector<Kind> open_;  // kinds of the open elements, outermost first
  bool spreadsheetSeen_ = false;
  bool stopped_ = false;
  int tableIndex_ = -1;
  std::int64_t row_ = 0;     // row of the table-row being read
  std::int64_t rowRepeat_ = 1;
  std::int64_t col_ = 0;     // column of the cell being read
  std::vector<RepeatedCell> rowCells_;  // the cells of a repeated row, kept until it ends
  std::size_t rowCellBytes_ = 0;
  std::int64_t repeatedCells_ = 0;

  // The cell being read.
  std::int64_t cellRepeat_ = 1;
  OdsValue cellValue_;         // from its attributes (Empty when it needs its text)
  bool cellWantsText_ = false; // string or no value type: value from the paragraphs
  bool cellMaybeError_ = false;
  bool cellHasStringValue_ = false;
  std::string cellText_;       // paragraphs so far, joined with "\n"
  std::string cellFormula_;
  bool firstPara_ = true;
  bool prevSpace_ = true;      // white-space state of the paragraph being read
};

}  // namespace workbook
