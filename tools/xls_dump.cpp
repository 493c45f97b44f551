// xls-dump FILE...: prints what the workbook readers report about each FILE
// (any format: .xls, .xlsx, .xlsm, .ods, .fods, .csv; all worksheets, every
// number, text, boolean and error cell) in the layout of the corpus oracle
// files. Errors met while reading go to standard error; reading goes on
// behind them.
//
// xls-dump --formulas FILE...: the same header lines, then one line per
// formula cell with its formula text (sheet, row, column, "formula", JSON
// text).
//
// With one FILE the output is that file's dump alone. With several, each
// file's dump follows a line "#file<TAB>FILE" (as named on the command line)
// and its messages on standard error are prefixed with the file name; one
// process then reads a whole folder without starting a program per file.
// The exit status is 1 if any file could not be read, 2 on a usage error.
#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "workbook/workbook_dump.h"

namespace {

// Dumps one file; false if it could not be read at all.
bool DumpOne(const char* path, bool formulas, bool named) {
  if (named) std::printf("#file\t%s\n", path);
  const std::string prefix = named ? std::string("xls-dump: ") + path + ": " : std::string("xls-dump: ");
  try {
    const xls::DumpResult dump = workbook::DumpWorkbookFile(path);
    if (formulas) {
      const std::string text = xls::FormulaDump(dump);
      std::fwrite(text.data(), 1, text.size(), stdout);
    } else {
      std::fwrite(dump.text.data(), 1, dump.text.size(), stdout);
    }
    for (const auto& message : dump.messages) std::fprintf(stderr, "%s%s\n", prefix.c_str(), message.c_str());
  } catch (const std::exception& e) {
    std::printf("#error\t%s\n", e.what());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  // Memory a file's dump let go of serves the next file's: without these,
  // the cell tables of every larger file come from fresh mappings, faulted
  // in page by page and handed back when the file is done.
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 64 << 20);
  // Into a pipe or file the dump goes in large writes (a terminal keeps its lines).
  static char out[64 * 1024];
  if (!isatty(STDOUT_FILENO)) std::setvbuf(stdout, out, _IOFBF, sizeof out);
  int first = 1;
  const bool formulas = argc > 1 && std::string(argv[1]) == "--formulas";
  if (formulas) first = 2;
  if (first >= argc) {
    std::fprintf(stderr, "usage: xls-dump [--formulas] FILE...\n");
    return 2;
  }
  const bool named = argc - first > 1;
  bool all_read = true;
  for (int i = first; i < argc; ++i) all_read = DumpOne(argv[i], formulas, named) && all_read;
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "xls-dump: writing the dump failed\n");
    return 1;
  }
  return all_read ? 0 : 1;
}
