// TXLSRead: reads a BIFF2-BIFF8 workbook (a plain record file or the "Book"
// / "Workbook" stream of a compound document) and reports its sheets and
// cells through events. It keeps no cell data itself.
//
// Every text handed to an event is UTF-8: BIFF8 text is decoded from UTF-16
// (its 8-bit "compressed" form as ISO-8859-1), BIFF2-BIFF7 text through the
// workbook's CODEPAGE record (cp1252 when there is none).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "platform/color.h"
#include "platform/compound_file.h"
#include "platform/mapped_file.h"
#include "xls/formula_decoder.h"
#include "xls/xls_formats.h"
#include "xls/xls_sst.h"

enum TXLSErrorLevel { xelException, xelMessage, xelIgnore };

class TXLSRead {
 public:
  // Event types. Col and Row are 0-based as stored in the file; FormatIndex
  // is the cell's XF index, or -1 for BIFF2 cells, which carry none.
  using TIntegerEvent = std::function<void(TXLSRead& Sender, int Value)>;
  using TRecordEvent = std::function<void(TXLSRead& Sender, std::uint16_t ID, int Length, const std::uint8_t* Data)>;
  using TBlankCellEvent = std::function<void(TXLSRead& Sender, int Col, int Row, int FormatIndex)>;
  using TNumberCellEvent =
      std::function<void(TXLSRead& Sender, int Col, int Row, int FormatIndex, double Value, bool IsFormulaValue)>;
  using TStringCellEvent = std::function<void(TXLSRead& Sender, int Col, int Row, int FormatIndex,
                                              const std::string& Value, bool IsFormulaValue)>;
  using TBoolCellEvent =
      std::function<void(TXLSRead& Sender, int Col, int Row, int FormatIndex, bool Value, bool IsFormulaValue)>;
  // Formatting: entry 0 holds the run count n in its upper 16 bits, entries
  // 1..n a run's first character (lower 16 bits) and font index (upper 16).
  // Valid only during the event.
  using TRichCellEvent = std::function<void(TXLSRead& Sender, int Col, int Row, int FormatIndex,
                                            const std::string& Value, std::span<const std::uint32_t> Formatting)>;
  using TFormulaCellEvent = std::function<void(TXLSRead& Sender, int Col, int Row, const std::string& Formula)>;
  using TColEvent = std::function<void(TXLSRead& Sender, int Col1, int Col2, int FormatIndex, int Width)>;
  using TRowEvent = std::function<void(TXLSRead& Sender, int Row, int Col1, int Col2, int FormatIndex, int Height)>;
  using TSheetEvent = std::function<void(TXLSRead& Sender, const std::string& Name, int Index, bool& ReadIt)>;
  // An error cell (BOOLERR error or a formula's error result), fired just
  // before the OnStringCell that carries its error text.
  using TErrorCellEvent =
      std::function<void(TXLSRead& Sender, int Col, int Row, int FormatIndex, int Code, bool IsFormulaValue)>;
  // A question or notice of the error policy; returns true for Yes.
  using TMessageBoxEvent = std::function<bool(const std::string& message, bool yesNo)>;

  struct SheetEntry {
    std::string Name;            // UTF-8
    std::uint32_t BofOffset = 0; // stream offset of the sheet's BOF record
    std::uint8_t Type = 0;       // 0 worksheet, 1 macro sheet, 2 chart, 6 module
  };

  TXLSRead();

  // Maps FileName, runs the record loop over it and lets go of the pages it
  // has passed (a large file is never held in memory as a whole). Open
  // failures raise Exception with "Filename is missing", "File is not a Excel
  // file", "File is not a Excel Workbook", the compound-file reader's error or
  // "Cannot open file ..."; failures inside the record loop follow ErrorLevel.
  // A Read called from an event handler during a read returns at once.
  void Read();
  // Ends the running read after the record being handled (from an event
  // handler that has what it wants, e.g. once its sheet has ended).
  void StopReading() { stop_ = true; }
  // Readers of other workbook formats deliver their sheets and cells through
  // this object's events (see workbook/sheet_events.h). BeginEventRead
  // forgets the last read (sheets, version, a stop request) before such a
  // reader starts; StopRequested tells it a handler called StopReading.
  void BeginEventRead();
  bool StopRequested() const { return stop_; }
  // FormatIndex of a date or time cell from such a reader: the value is its
  // serial day number in the workbook's own date system.
  static constexpr int kDateFormat = -2;
  // The same for a workbook file held in memory (compound document or plain
  // record file).
  void ReadMemory(std::vector<std::uint8_t> file);
  // Reads a bare record stream as a "Book" (biff8 false) or "Workbook"
  // (biff8 true) stream of a compound document holds it.
  void ReadRecordStream(std::vector<std::uint8_t> stream, bool biff8);

  // Version code of the workbook: 0 unknown, 1 BIFF2, 2 BIFF3, 3 BIFF4,
  // 4 BIFF5 plain file, 5 BIFF5/BIFF7 compound document, 6 BIFF8.
  int Version() const;
  // Background colour of a cell format (see XlsFormats::CellColor).
  TColor GetCellColor(int FormatIndex) const;

  // Workbook state of the last read (kept until the next one).
  const std::vector<SheetEntry>& Sheets() const { return sheets_; }
  const std::vector<xls::XlsFont>& Fonts() const { return formats_.Fonts(); }
  const std::vector<std::string>& Names() const { return names_; }
  const std::vector<std::string>& ExternNames() const { return externNames_; }
  // What formula decoding knows of the workbook (names, sheets, links).
  const xls::FormulaContext& FormulaState() const { return formula_; }
  int Codepage() const { return codepage_; }
  int MaxRecordSize() const { return maxRecordSize_; }
  std::size_t StreamSize() const { return stream_.size(); }

  std::string FileName;
  char FuncArgSeparator = ',';
  std::string StrTRUE = "TRUE";
  std::string StrFALSE = "FALSE";
  TXLSErrorLevel ErrorLevel = xelMessage;
  // A workbook stream that a compound document keeps in scattered sectors
  // is put together in memory up to this size, and in a scratch file (see
  // platform::ScratchFile) above it, so that a big one is never held whole.
  std::uint64_t SpillAbove = std::uint64_t{16} << 20;

  TIntegerEvent OnProgress;
  TRecordEvent OnRecord;
  TRecordEvent OnUnhandled;
  TBlankCellEvent OnBlankCell;
  TBoolCellEvent OnBoolCell;
  TNumberCellEvent OnNumberCell;
  TStringCellEvent OnStringCell;
  TRichCellEvent OnRichCell;
  TFormulaCellEvent OnFormulaCell;
  TColEvent OnCol;
  TRowEvent OnRow;
  TSheetEvent OnSheet;
  TErrorCellEvent OnErrorCell;
  // Unassigned: every question is answered No (the read ends).
  TMessageBoxEvent OnMessageBox;

  // The whole content of a file; raises Exception "Cannot open file ..."
  // or "Cannot read file ...".
  static std::vector<std::uint8_t> ReadWholeFile(const std::string& path);

  // The value of an RK number (4 bytes as a little-endian 32-bit value).
  static double RkValue(std::uint32_t rk);
  // Text of a BIFF error code: "#DIV/0!", "#N/A", ... ("#???" when unknown).
  static std::string ErrorText(int code);

 private:
  class Record;
  // A shared (SHRFMLA) or array (ARRAY) formula of the current sheet: its
  // tokens and the data behind them, found by the cell its range starts at.
  struct SharedFormula {
    std::vector<std::uint8_t> data;
    std::size_t tokenCount = 0;
    xls::FormulaTemplate text;  // built by the first cell decoded
  };
  struct PendingString {
    bool active = false;
    int col = 0, row = 0, xf = 0;
  };

  void OpenFile(std::span<const std::uint8_t> file);
  void OpenCompound(std::span<const std::uint8_t> file);
  std::span<const std::uint8_t> SpillStream(const platform::CompoundFile& storage, const std::string& name,
                                            std::span<const std::uint8_t> file);
  void Run();
  void CheckNotTruncated() const;
  void ResetState();
  void RecordLoop();
  bool ReadHeader(std::uint16_t& id, std::uint16_t& length);
  bool HandleError(const std::string& message);
  void Dispatch(std::uint16_t id, const Record& r);

  void OnBof(std::size_t bofPos, const Record& r);
  void SkipSubstream();
  void HandleFormula(std::uint16_t id, const Record& r);
  void HandleFormulaString(const Record& r, bool biff2);
  void FireFormula(std::uint16_t id, const Record& r, int col, int row, bool biff2);
  void StoreShared(std::uint16_t id, const Record& r);
  SharedFormula* FindShared(int anchorRow, int anchorCol);
  void HandleName(const Record& r);
  void HandleExternSheet(const Record& r);
  void HandleSupBook(const Record& r);
  void HandleSst(const Record& r);
  void HandleFont(std::uint16_t id, const Record& r);
  void HandleBoundSheet(const Record& r);
  void HandleRString(const Record& r);
  void FireError(int col, int row, int xf, int code, bool isFormula);

  // Text of n characters starting at offset (the reader's string rules).
  std::string DecodeString(const Record& r, std::size_t offset, std::size_t n) const;
  std::string Decode8Bit(const std::uint8_t* p, std::size_t n) const;

  // Record stream and position. The stream is a view into the mapped file
  // (or the file held in memory), or into ownedStream_ when a compound
  // document keeps it in scattered sectors, or into the mapped scratch file
  // that holds a big one of those.
  platform::MappedFile mapped_;
  std::vector<std::uint8_t> ownedFile_;
  std::vector<std::uint8_t> ownedStream_;
  std::span<const std::uint8_t> stream_;
  std::size_t released_ = 0;  // stream pages before this offset were let go
  std::size_t pos_ = 0;
  bool plain_ = false;
  bool reading_ = false;
  bool stop_ = false;

  std::uint8_t detectedVersion_ = 0;
  std::uint8_t currentVersion_ = 0;
  int maxRecordSize_ = 0;
  int codepage_ = 0;  // 0 when the workbook has no CODEPAGE record

  std::vector<std::string> names_;
  std::vector<std::uint16_t> nameFlags_;
  std::vector<std::string> externNames_;
  std::vector<SheetEntry> sheets_;
  int sheetCounter_ = -1;
  int sheetEntry_ = -1;  // sheet list entry of the worksheet being read
  xls::FormulaContext formula_;
  std::map<std::pair<int, int>, SharedFormula> shared_;  // by (row, column) of the range's first cell
  xls::XlsFormats formats_;
  xls::SharedStrings sst_;
  PendingString pendingString_;
};
