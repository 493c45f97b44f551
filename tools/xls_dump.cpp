// xls-dump FILE: prints what the workbook reader reports about FILE (all
// worksheets, every number, text, boolean and error cell) in the layout of
// the corpus oracle files. Errors met while reading go to standard error;
// reading goes on behind them.
#include <cstdio>
#include <exception>
#include <string>

#include "xls/xls_dump.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: xls-dump FILE\n");
    return 2;
  }
  try {
    const xls::DumpResult dump = xls::DumpWorkbookFile(argv[1]);
    for (const auto& line : dump.lines) std::printf("%s\n", line.c_str());
    for (const auto& message : dump.messages) std::fprintf(stderr, "xls-dump: %s\n", message.c_str());
  } catch (const std::exception& e) {
    std::printf("#error\t%s\n", e.what());
    return 1;
  }
  return 0;
}
