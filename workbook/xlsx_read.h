// Office Open XML workbooks (.xlsx, .xlsm; Transitional and Strict): the
// package's relationships lead to the workbook part (sheet names and order,
// date system), its styles (which cell formats are dates), shared strings
// and worksheets, all read as streams. ReadXlsxPackage (format_readers.h)
// reports them as sheet_events.h describes; with a row limit it parses only
// the selected sheet's first rows and the shared strings up to the highest
// index those rows use.
#pragma once

#include <string>
#include <string_view>

#include "workbook/zip_archive.h"

namespace workbook {

// True when the package's [Content_Types].xml names a spreadsheet workbook
// part (workbook, macro-enabled workbook or template).
bool NamesWorkbookPart(ZipArchive& zip);

// A relationship's target as a part name: relative to the folder of the
// part whose relationships name it ("xl/workbook.xml" + "worksheets/a.xml"
// -> "xl/worksheets/a.xml"), absolute when it starts with "/"; "." and ".."
// segments resolved.
std::string ResolveTarget(std::string_view sourcePart, std::string_view target);

// The text of an ST_Xstring with its _xHHHH_ escapes decoded (left to right,
// once: "_x005F_x000D_" is the text "_x000D_"); escaped UTF-16 surrogate
// pairs become one character.
std::string DecodeXString(std::string_view text);

// The serial day number of an ISO 8601 date or date-time ("2024-01-31",
// "2024-01-31T12:00:00", with optional fraction and "Z") in the 1900 or 1904
// date system; false when the text is no such date.
bool IsoDateSerial(std::string_view text, bool date1904, double& serial);

// True when a number format code shows a date or time (a d, m, y, h or s
// outside quotes, escapes and bracketed colours or conditions, in its first
// section).
bool IsDateFormatCode(std::string_view code);

}  // namespace workbook
