// xls-dump FILE: prints what the workbook readers report about FILE (any
// format: .xls, .xlsx, .xlsm, .ods, .fods, .csv; all
// worksheets, every number, text, boolean and error cell) in the layout of
// the corpus oracle files. Errors met while reading go to standard error;
// reading goes on behind them.
//
// xls-dump --formulas FILE: the same header lines, then one line per formula
// cell with its formula text (sheet, row, column, "formula", JSON text).
#include <cstdio>
#include <exception>
#include <string>

#include "workbook/workbook_dump.h"

int main(int argc, char** argv) {
  const bool formulas = argc == 3 && std::string(argv[1]) == "--formulas";
  if (argc != 2 && !formulas) {
    std::fprintf(stderr, "usage: xls-dump [--formulas] FILE\n");
    return 2;
  }
  try {
    const xls::DumpResult dump = workbook::DumpWorkbookFile(argv[argc - 1]);
    for (const auto& line : formulas ? xls::FormulaDump(dump) : dump.lines) std::printf("%s\n", line.c_str());
    for (const auto& message : dump.messages) std::fprintf(stderr, "xls-dump: %s\n", message.c_str());
  } catch (const std::exception& e) {
    std::printf("#error\t%s\n", e.what());
    return 1;
  }
  return 0;
}
