// TXLSWrite: writes a workbook cell by cell, as a single-sheet BIFF4
// worksheet (a plain record file, xls40) or a BIFF5 workbook with any number
// of sheets in the "Book" stream of a compound document (xls50).
//
// The host sets the properties, calls OpenFile, writes cells into the
// current sheet, moves on with NextSheet (BIFF5) and ends with CloseFile.
// The records are collected in memory and the file is filled in at
// CloseFile; OpenFile already creates it, so a path that cannot be written
// fails at once. Texts are UTF-8 and are stored in code page 1252; a
// character that code page cannot hold is refused. Every failure is an
// Exception with the message texts documented at each operation; a failed
// cell leaves the file open.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/output_file.h"
#include "platform/sysutils.h"
#include "xlswrite/encode_formula.h"

enum TXLSVersion { xls40, xls50, xls97 };
enum TTextFormat { tfGeneral, tf2Dec, tf0Dec1000, tf2Dec1000, tfPercent, tfCurrency0Dec, tfCurrency2Dec, tfDate, tfTime, tfText };
// Colour values 0..63 (xcBlack = 0, xc1 ... xc38, xcWhite = 39, xc40 ...
// xc63) and xcNoColor; a colour is stored as the index of its position in
// the reader's colour map (xls::XlsFormats), 8 for xcBlack, 9 for xcWhite,
// 64 for xcNoColor.
enum TExcelColor : std::uint8_t { xcBlack = 0, xcWhite = 39, xcNoColor = 64 };
enum TSubSuperScript { xssNone, xssSuperscript, xssSubscript };
enum TUnderline { xulNone, xulSingle, xulDouble, xulSingleAccount, xulDoubleAccount };
enum THorizAlignment { chaGeneral, chaLeft, chaCenter, chaRight, chaFill, chaJustify, chaCenterAcross };
enum TVertAlignment { cvaBottom, cvaTop, cvaCenter, cvaJustify };
// Sets, as bit masks.
enum TExcelFontStyle : unsigned { xfsBold = 1, xfsItalic = 2, xfsStrikeOut = 4 };
enum TCellProtection : unsigned { cpLocked = 1, cpHidden = 2 };
enum TCellBorder : unsigned { cbLeft = 1, cbTop = 2, cbRight = 4, cbBottom = 8, cbDiag = 16 };
enum TSheetOption : unsigned { soGridlines = 1, soRowColHeadings = 2, soProtected = 4 };

struct TExcelFont {
  std::uint8_t Charset = 0;
  TExcelColor Color = xcBlack;
  std::string Name = "Arial";
  int Size = 10;  // points
  unsigned Style = 0;  // TExcelFontStyle bits
  TSubSuperScript SubSuperScript = xssNone;
  TUnderline Underline = xulNone;

  bool operator==(const TExcelFont&) const = default;
};

struct TCellFormat {
  TExcelFont Font;
  TTextFormat TextFormat = tfGeneral;
  bool WrapText = false;
  TExcelColor CellColor = xcNoColor;
  unsigned Protection = cpLocked;  // TCellProtection bits
  THorizAlignment HorizAlignment = chaGeneral;
  TVertAlignment VertAlignment = cvaBottom;
  unsigned Border = 0;  // TCellBorder bits
};

class TXLSWrite {
 public:
  // Called before each record is written with its id, its body length and
  // the body (a buffer of MaxRecordSize bytes); all three may be changed.
  using TRecordEvent = std::function<void(TXLSWrite& Sender, std::uint16_t& ID, int& Length, std::uint8_t* Data)>;

  TXLSWrite();
  // Runs CloseFile when a file is open (errors are swallowed here).
  ~TXLSWrite();
  TXLSWrite(const TXLSWrite&) = delete;
  TXLSWrite& operator=(const TXLSWrite&) = delete;

  // Raises "Version can not be changed while file is open" and, for xls97,
  // "Excel 97 files not supported yet".
  void SetXLSVersion(TXLSVersion version);
  TXLSVersion XLSVersion() const { return version_; }

  // Creates FileName and writes everything before the first cell. Raises
  // "File is allready open", "Filename is missing", "Cannot create file ..."
  // and, for a sheet name that code page 1252 cannot hold, that is empty,
  // longer than 31 characters or used twice, "Sheet name ...".
  void OpenFile();
  // BIFF5: ends the current sheet and starts the next one of Sheets.
  // Raises "Call to NextSheet without OpenFile", "Sheet index out of range",
  // "Too many external names defined".
  void NextSheet();
  // Writes the remaining (empty) sheets and the final records and fills in
  // the file. When the file cannot be written it is removed and "Cannot
  // write file ..." raised. Does nothing when no file is open.
  void CloseFile();
  bool IsOpen() const { return open_; }

  // Cell writers: column and row 0-based, FormatIndex -1 for the default
  // format or an index into Formats. All raise "Can not write cells when
  // file is closed".
  void WriteNumber(int Col, int Row, double Value, int FormatIndex = -1);
  // Raises "Cell R%d,C%d: String length more than 255 bytes" (row and column
  // 0-based) for a text longer than 255 bytes in code page 1252, and
  // "Cell R%d,C%d: Character "X" is not in code page 1252".
  void WriteString(int Col, int Row, const std::string& Text, int FormatIndex = -1);
  void WriteBoolean(int Col, int Row, bool Value, int FormatIndex = -1);
  // Formula text without "="; raises the encoder's errors (EncodeFormulaError).
  void WriteFormula(int Col, int Row, const std::string& Formula, int FormatIndex = -1);

  std::string FileName;
  std::vector<std::string> Sheets{"Sheet1"};
  bool WriteGlobalData = false;  // kept with the settings; writing does not consult it
  char FuncArgSeparator = ',';
  bool RecalcFormulas = true;
  std::vector<TCellFormat> Formats;
  TExcelFont Font;
  unsigned Options = soGridlines | soRowColHeadings;  // TSheetOption bits
  std::string StrTRUE = "TRUE";
  std::string StrFALSE = "FALSE";
  TRecordEvent OnWriteData;

  static constexpr int MaxRecordSize = 2080;

  // Entry of the font list (the distinct fonts of Formats, in first-use
  // order, made at OpenFile). Raises "Font index out of range".
  const TExcelFont& FontList(int Index) const;

  // The writer's version list, as the loader form offers it: "Excel 4.0",
  // "Excel 5.0/95", "Excel 97" for xls40, xls50, xls97.
  static const std::vector<std::string>& VersionNames();

 private:
  struct UsedRange {
    int firstRow = -1, lastRow = -1, firstCol = -1, lastCol = -1;
    void Add(int col, int row);
  };

  // Record writer: id and length with the body in buf_.
  void WriteRecord(std::uint16_t id, int length);
  void WriteRecord16(std::uint16_t id, std::uint16_t value);
  void WriteBytes(std::uint16_t id, std::initializer_list<std::uint8_t> body);
  void Put16(int at, unsigned value);
  void Put32(int at, std::uint32_t value);

  void OpenBiff4();
  void OpenBiff5();
  void WriteFont(const TExcelFont& font);
  void WriteUserXf(const TCellFormat& format);
  void EndSheet();
  void StartSheet();
  void WriteDimensions(std::size_t at, const UsedRange& range);
  void InsertExternNames();
  void InsertNames();
  int FontIndex(const TExcelFont& font) const;
  void CheckCell(int col, int row, int formatIndex);
  std::uint16_t CellXf(int formatIndex) const;
  std::string ToCodepage(const std::string& text, const std::string& what) const;

  TXLSVersion version_ = xls50;
  int versionCode_ = 4;
  bool open_ = false;
  std::unique_ptr<platform::OutputFile> file_;
  std::vector<std::uint8_t> stream_;  // the record stream being built
  std::uint8_t buf_[MaxRecordSize]{};
  std::vector<std::string> sheetNames_;     // Sheets in code page 1252
  std::vector<std::size_t> boundSheetPos_;  // stream offset of each BOUNDSHEET record
  std::size_t namesPos_ = 0;                // where the globals' NAME records go
  int sheet_ = 0;                           // sheets started so far
  bool firstSheet_ = true;
  UsedRange used_;
  std::size_t dimensionsPos_ = 0;    // stream offset of the current sheet's DIMENSIONS record
  std::size_t externCountPos_ = 0;   // ... of its EXTERNCOUNT record
  std::size_t externNamesPos_ = 0;   // where its external-name records go
  std::vector<TExcelFont> fonts_;           // font list: distinct fonts of Formats
  std::vector<std::string> externNames_;    // external functions of the current sheet
  std::vector<std::string> names_;          // defined names used by formulas
  TEncodeFormula encoder_;
};
