// xls-write [--biff 4|5] OUT.xls < cells.tsv
//
// Writes the cells read from standard input as a BIFF5 workbook (default) or
// a BIFF4 worksheet. One cell per line, UTF-8, fields separated by tabs:
//
//   sheet  row  col  type  value  [format]
//
// row and col counted from 0; sheets in order of first appearance (BIFF4
// takes exactly one); type number, text, bool (0 or 1) or formula (the text
// without "=", "," between arguments); format "key=value;..." with the keys
// textformat (general, 2dec, 0dec1000, 2dec1000, percent, currency0dec,
// currency2dec, date, time, text), bold, italic, wrap (1), color and fill
// (palette colour index 0..64: 8 black, 9 white, 10 red, ..., 64 automatic),
// halign (left, center, right) and border (letters l, t, r, b).
//
// Bad input ends with exit status 1 and one line "xls-write: line N: REASON"
// on standard error. The workbook is written to a temporary name beside OUT
// and renamed at the end, so a failed run leaves no file behind. OUT must be
// missing or a regular file: anything else (a device such as /dev/full, a
// FIFO, a folder, a link) is refused ("will not replace \"OUT\": it is not
// a regular file") before anything is written.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/output_file.h"
#include "xls/xls_formats.h"
#include "xlswrite/xls_write.h"

namespace {

struct InputError {
  int line;
  std::string reason;
};

enum class CellType { Number, Text, Bool, Formula };

struct Cell {
  int line = 0;
  int row = 0, col = 0;
  CellType type = CellType::Number;
  std::string value;
  double number = 0;
  int format = -1;
};

std::vector<std::string> Split(const std::string& s, char sep) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (;;) {
    const std::size_t at = s.find(sep, start);
    out.push_back(s.substr(start, at - start));
    if (at == std::string::npos) return out;
    start = at + 1;
  }
}

bool ToInt(const std::string& s, int low, int high, int& value) {
  if (s.empty() || s.size() > 6 || s.find_first_not_of("0123456789") != std::string::npos) return false;
  value = std::atoi(s.c_str());
  return value >= low && value <= high;
}

TCellFormat ParseFormat(const std::string& spec, int line) {
  TCellFormat format;
  static const std::map<std::string, TTextFormat> kTextFormats = {
      {"general", tfGeneral},   {"2dec", tf2Dec},       {"0dec1000", tf0Dec1000},         {"2dec1000", tf2Dec1000},
      {"percent", tfPercent},   {"currency0dec", tfCurrency0Dec}, {"currency2dec", tfCurrency2Dec},
      {"date", tfDate},         {"time", tfTime},       {"text", tfText}};
  static const std::map<std::string, THorizAlignment> kAlign = {
      {"left", chaLeft}, {"center", chaCenter}, {"right", chaRight}};
  for (const auto& item : Split(spec, ';')) {
    if (item.empty()) continue;
    const std::size_t eq = item.find('=');
    const std::string key = item.substr(0, eq);
    const std::string value = eq == std::string::npos ? "" : item.substr(eq + 1);
    auto bad = [&]() -> InputError { return {line, "bad format value \"" + item + "\""}; };
    int n = 0;
    if (key == "textformat") {
      const auto it = kTextFormats.find(value);
      if (it == kTextFormats.end()) throw bad();
      format.TextFormat = it->second;
    } else if (key == "bold" || key == "italic") {
      if (value != "1") throw bad();
      format.Font.Style |= key == "bold" ? xfsBold : xfsItalic;
    } else if (key == "wrap") {
      if (value != "1") throw bad();
      format.WrapText = true;
    } else if (key == "color" || key == "fill") {
      if (!ToInt(value, 0, 64, n)) throw bad();
      const auto colour = static_cast<TExcelColor>(xls::ColourMap()[static_cast<std::size_t>(n)]);
      (key == "color" ? format.Font.Color : format.CellColor) = colour;
    } else if (key == "halign") {
      const auto it = kAlign.find(value);
      if (it == kAlign.end()) throw bad();
      format.HorizAlignment = it->second;
    } else if (key == "border") {
      if (value.empty() || value.find_first_not_of("ltrb") != std::string::npos) throw bad();
      for (char c : value) format.Border |= c == 'l' ? cbLeft : c == 't' ? cbTop : c == 'r' ? cbRight : cbBottom;
    } else {
      throw InputError{line, "unknown format key \"" + key + "\""};
    }
  }
  return format;
}

struct Input {
  std::vector<std::string> sheets;
  std::vector<std::vector<Cell>> cells;  // per sheet
  std::vector<TCellFormat> formats;
};

Input ReadInput(std::istream& in, bool biff4) {
  Input input;
  std::map<std::string, int> formatIndex;
  std::string text;
  int line = 0;
  while (std::getline(in, text)) {
    ++line;
    if (!text.empty() && text.back() == '\r') text.pop_back();
    if (text.empty()) continue;
    const auto f = Split(text, '\t');
    if (f.size() != 5 && f.size() != 6) {
      throw InputError{line, "expected 5 or 6 tab-separated fields (sheet, row, col, type, value, format), found " +
                                 std::to_string(f.size())};
    }
    Cell cell;
    cell.line = line;
    if (f[0].empty()) throw InputError{line, "the sheet name is empty"};
    if (!ToInt(f[1], 0, 16383, cell.row)) throw InputError{line, "row \"" + f[1] + "\" is not a number from 0 to 16383"};
    if (!ToInt(f[2], 0, 255, cell.col)) throw InputError{line, "column \"" + f[2] + "\" is not a number from 0 to 255"};
    cell.value = f[4];
    if (f[3] == "number") {
      cell.type = CellType::Number;
      char* end = nullptr;
      errno = 0;
      cell.number = std::strtod(f[4].c_str(), &end);
      if (f[4].empty() || *end != '\0' || errno == ERANGE || f[4].find_first_of("xXnN") != std::string::npos) {
        throw InputError{line, "value \"" + f[4] + "\" is not a number"};
      }
    } else if (f[3] == "text") {
      cell.type = CellType::Text;
    } else if (f[3] == "bool") {
      cell.type = CellType::Bool;
      if (f[4] != "0" && f[4] != "1") throw InputError{line, "bool value \"" + f[4] + "\" is neither 0 nor 1"};
    } else if (f[3] == "formula") {
      cell.type = CellType::Formula;
    } else {
      throw InputError{line, "unknown type \"" + f[3] + "\" (number, text, bool or formula)"};
    }
    if (f.size() == 6 && !f[5].empty()) {
      const auto found = formatIndex.find(f[5]);
      if (found != formatIndex.end()) {
        cell.format = found->second;
      } else {
        input.formats.push_back(ParseFormat(f[5], line));
        cell.format = static_cast<int>(input.formats.size()) - 1;
        formatIndex.emplace(f[5], cell.format);
      }
    }
    std::size_t sheet = 0;
    while (sheet < input.sheets.size() && input.sheets[sheet] != f[0]) ++sheet;
    if (sheet == input.sheets.size()) {
      std::string bytes, bad;
      if (!platform::Utf8ToCp1252(f[0], bytes, bad)) {
        throw InputError{line, "sheet name \"" + f[0] + "\": Character \"" + bad + "\" is not in code page 1252"};
      }
      if (bytes.size() > 31) throw InputError{line, "sheet name \"" + f[0] + "\" is longer than 31 characters"};
      if (biff4 && !input.sheets.empty()) {
        throw InputError{line, "a BIFF4 file holds one sheet only; \"" + f[0] + "\" is a second sheet"};
      }
      input.sheets.push_back(f[0]);
      input.cells.emplace_back();
    }
    input.cells[sheet].push_back(std::move(cell));
  }
  if (in.bad()) throw InputError{line, "cannot read standard input"};
  return input;
}

void WriteCells(TXLSWrite& w, const Input& input) {
  w.OpenFile();
  for (std::size_t s = 0; s < input.cells.size(); ++s) {
    if (s > 0) w.NextSheet();
    for (const Cell& c : input.cells[s]) {
      try {
        switch (c.type) {
          case CellType::Number: w.WriteNumber(c.col, c.row, c.number, c.format); break;
          case CellType::Text: w.WriteString(c.col, c.row, c.value, c.format); break;
          case CellType::Bool: w.WriteBoolean(c.col, c.row, c.value == "1", c.format); break;
          case CellType::Formula: w.WriteFormula(c.col, c.row, c.value, c.format); break;
        }
      } catch (const std::exception& e) {
        throw InputError{c.line, e.what()};
      }
    }
  }
  w.CloseFile();
}

}  // namespace

int main(int argc, char** argv) {
  int biff = 5;
  std::string out;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--biff" && i + 1 < argc && (std::strcmp(argv[i + 1], "4") == 0 || std::strcmp(argv[i + 1], "5") == 0)) {
      biff = argv[++i][0] - '0';
    } else if (out.empty() && !arg.empty() && arg[0] != '-') {
      out = arg;
    } else {
      out.clear();
      break;
    }
  }
  if (out.empty()) {
    std::fprintf(stderr, "usage: xls-write [--biff 4|5] OUT.xls < cells.tsv\n");
    return 2;
  }
  try {
    // Only a regular file is replaced: never a device, FIFO, folder or link.
    std::string why;
    if (!platform::MayReplace(out, why)) throw InputError{0, "will not replace \"" + out + "\": it " + why};
    const Input input = ReadInput(std::cin, biff == 4);
    const std::string temp = platform::CreateFileBeside(out);
    try {
      TXLSWrite w;
      w.SetXLSVersion(biff == 4 ? xls40 : xls50);
      w.FileName = temp;
      if (!input.sheets.empty()) w.Sheets = input.sheets;
      w.Formats = input.formats;
      WriteCells(w, input);
      if (!platform::ReplaceFile(temp, out, why)) {
        throw InputError{0, why == "is not a regular file" ? "will not replace \"" + out + "\": it " + why
                                                            : "cannot rename the written file to \"" + out + "\": " + why};
      }
    } catch (...) {
      ::unlink(temp.c_str());
      throw;
    }
  } catch (const InputError& e) {
    if (e.line > 0) std::fprintf(stderr, "xls-write: line %d: %s\n", e.line, e.reason.c_str());
    else std::fprintf(stderr, "xls-write: %s\n", e.reason.c_str());
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "xls-write: %s\n", e.what());
    return 1;
  }
  return 0;
}
