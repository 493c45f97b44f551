// How the readers of today's workbook formats (OOXML, ODF, CSV) report a
// workbook: through the event members of a TXLSRead (xls/xls_read.h), the
// same events the BIFF reader fires, so the loader and the dump above them
// take every format alike. A reader is a function
//
//   void ReadXxx(TXLSRead& events, std::span<const std::uint8_t> file,
//                const std::string& fileName, const ReadLimits& limits);
//
// and keeps to this contract:
//
// - It calls events.BeginEventRead() first.
// - Sheets: OnSheet(events, NAME, INDEX, readIt) once per worksheet in the
//   workbook's order, INDEX counting worksheets from 0 (chart sheets are not
//   worksheets and are skipped; hidden sheets count). readIt comes in true
//   for INDEX 0 and false otherwise (as the BIFF reader does); the handler
//   may change it. Only a sheet announced with readIt true has its cells
//   reported, right after its OnSheet and before the next sheet's.
// - Cells: row-major as the file stores them; Col and Row 0-based;
//   FormatIndex -1, or TXLSRead::kDateFormat for a date or time cell, whose
//   value (OnNumberCell) is its serial day number in the workbook's own date
//   system (1900: days since 1899-12-30; 1904: days since 1904-01-01).
//   Numbers: OnNumberCell; texts: OnStringCell (UTF-8, never empty: empty
//   texts are not reported); booleans: OnBoolCell; errors: OnErrorCell with
//   the BIFF error code (0x00 #NULL!, 0x07 #DIV/0!, 0x0F #VALUE!, 0x17 #REF!,
//   0x1D #NAME?, 0x24 #NUM!, 0x2A #N/A), then OnStringCell with its text
//   (TXLSRead::ErrorText). A formula cell fires OnFormulaCell with its text
//   (without "="), then its cached value with IsFormulaValue true; a formula
//   without a cached value fires only OnFormulaCell.
// - Stopping: after every event the reader checks events.StopRequested()
//   and returns at once when it is set. With limits.rowLimit > 0 it also
//   returns after the selected sheet's rows 0..rowLimit-1 (a chart needs two).
// - Refusals (not a workbook, damage, hostile content, caps) raise Exception
//   with one clear message; nothing is reported after that.
#pragma once

#include "workbook/zip_archive.h"
#include "xls/xls_read.h"

namespace workbook {

// What a read may cost and how much of the sheet it needs.
struct ReadLimits {
  InflateBudget budget = InflateBudget::ChartRequest();
  // Rows of a read sheet that are wanted (0: all); the reader ends after
  // them.
  int rowLimit = 0;
  // A file of at most this many bytes is read into memory rather than
  // mapped (0: every file is mapped). Reading a file that is read whole
  // anyway costs less than mapping it: no page faults, no unmapping.
  std::size_t readWhole = 0;
  // A chart request: only the first two rows of one sheet, from a mapped
  // file (only the pages it needs are read).
  static ReadLimits Chart() { return {InflateBudget::ChartRequest(), 2, 0}; }
  // The dump: everything.
  static ReadLimits Dump() { return {InflateBudget::Dump(), 0, std::size_t{64} << 20}; }
};

}  // namespace workbook
