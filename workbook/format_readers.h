// The readers behind ReadWorkbookFile (workbook_read.h), one per format.
// Each keeps the event contract of sheet_events.h. The OOXML reader lives in
// xlsx_read.cpp; the ODF and CSV readers in ods_read.cpp and csv_read.cpp,
// which define the functions declared here (ReadWorkbookFile calls a reader
// once its header, ods_read.h or csv_read.h, is in the tree).
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "workbook/sheet_events.h"
#include "workbook/zip_archive.h"
#include "xls/xls_read.h"

namespace workbook {

// An OOXML package (.xlsx, .xlsm, Strict or Transitional).
void ReadXlsxPackage(TXLSRead& events, ZipArchive& zip, const ReadLimits& limits);
// An ODF package whose "mimetype" entry names a spreadsheet (.ods).
void ReadOdsPackage(TXLSRead& events, ZipArchive& zip, const ReadLimits& limits);
// A flat ODF document (.fods), the whole file in `file`.
void ReadFlatOds(TXLSRead& events, std::span<const std::uint8_t> file, const ReadLimits& limits);
// A CSV text file; its one sheet is named after `path`.
void ReadCsvWorkbook(TXLSRead& events, std::span<const std::uint8_t> file, const std::string& path,
                     const ReadLimits& limits);

}  // namespace workbook
