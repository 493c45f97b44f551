// What a workbook reader reports, as one line of text: "#INDEX NAME" per
// sheet and "ROW,COL type value" per cell, joined with " | ".
#pragma once

#include <string>

#include "xls/xls_dump.h"
#include "xls/xls_read.h"

// Records `events` into `out`. `sheet` is the one sheet to read (-1: every
// sheet, as the dump does); the read stops at the sheet after it.
inline void RecordEvents(TXLSRead& events, std::string& out, int sheet = -1) {
  const auto put = [&out](const std::string& s) { out += (out.empty() ? "" : " | ") + s; };
  events.OnSheet = [put, sheet](TXLSRead& r, const std::string& name, int index, bool& readIt) {
    put("#" + std::to_string(index) + " " + name);
    readIt = sheet < 0 || index == sheet;
    if (sheet >= 0 && index > sheet) r.StopReading();
  };
  const auto cell = [put](int col, int row, const std::string& what) {
    put(std::to_string(row) + "," + std::to_string(col) + " " + what);
  };
  events.OnNumberCell = [cell](TXLSRead&, int col, int row, int format, double v, bool f) {
    cell(col, row, std::string(format == TXLSRead::kDateFormat ? "date " : "number ") + xls::PyFloatRepr(v) +
                       (f ? " (cached)" : ""));
  };
  events.OnStringCell = [cell](TXLSRead&, int col, int row, int, const std::string& v, bool) {
    cell(col, row, "text " + xls::JsonQuote(v));
  };
  events.OnBoolCell = [cell](TXLSRead&, int col, int row, int, bool v, bool) {
    cell(col, row, v ? "bool 1" : "bool 0");
  };
  events.OnErrorCell = [cell](TXLSRead&, int col, int row, int, int code, bool) {
    cell(col, row, "error " + std::to_string(code));
  };
  events.OnFormulaCell = [cell](TXLSRead&, int col, int row, const std::string& f) { cell(col, row, "formula " + f); };
}
