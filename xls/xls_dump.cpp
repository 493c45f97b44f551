#include "xls/xls_dump.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <string_view>
#include <tuple>

#include "platform/sysutils.h"
#include "xls/xls_read.h"

namespace xls {

std::string PyFloatRepr(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  if (value == 0) return std::signbit(value) ? "-0.0" : "0.0";
  // Whole numbers below 2^53 (counts, row numbers, date serials): their
  // digits and ".0", as the general layout below gives them.
  if (std::fabs(value) < 9007199254740992.0 && value == std::trunc(value)) {
    char out[24];
    auto end = std::to_chars(out, out + sizeof out - 2, static_cast<long long>(value)).ptr;
    *end++ = '.';
    *end++ = '0';
    return std::string(out, end);
  }
  // Shortest round-trip digits from the scientific form [-]d[.ddd]e[+-]xx,
  // laid out as Python's repr does; built in place, one string per number.
  char sci[64];
  const auto res = std::to_chars(sci, sci + sizeof sci, value, std::chars_format::scientific);
  const char* p = sci + (value < 0 ? 1 : 0);
  const char* e = std::find(p, static_cast<const char*>(res.ptr), 'e');
  char digits[32];
  int n = 0;
  for (; p < e; ++p) {
    if (*p != '.') digits[n++] = *p;
  }
  const bool negativeExponent = e[1] == '-';
  int exponent = 0;
  for (const char* q = e + 2; q < res.ptr; ++q) exponent = exponent * 10 + (*q - '0');
  if (negativeExponent) exponent = -exponent;
  const int decpt = exponent + 1;
  char out[64];
  int len = 0;
  const auto put = [&](const char* from, int count) {
    std::memcpy(out + len, from, static_cast<std::size_t>(count));
    len += count;
  };
  const auto fill = [&](char c, int count) {
    std::memset(out + len, c, static_cast<std::size_t>(count));
    len += count;
  };
  if (value < 0) out[len++] = '-';
  if (decpt > -4 && decpt <= 16) {
    if (decpt <= 0) {
      put("0.", 2);
      fill('0', -decpt);
      put(digits, n);
    } else if (decpt >= n) {
      put(digits, n);
      fill('0', decpt - n);
      put(".0", 2);
    } else {
      put(digits, decpt);
      out[len++] = '.';
      put(digits + decpt, n - decpt);
    }
    return std::string(out, static_cast<std::size_t>(len));
  }
  out[len++] = digits[0];
  if (n > 1) {
    out[len++] = '.';
    put(digits + 1, n - 1);
  }
  len += std::snprintf(out + len, sizeof out - static_cast<std::size_t>(len), "e%c%02d", exponent < 0 ? '-' : '+',
                       std::abs(exponent));
  return std::string(out, static_cast<std::size_t>(len));
}

namespace {

void AppendEscape(std::string& out, unsigned unit) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "\\u%04x", unit);
  out += buf;
}

}  // namespace

std::string JsonQuote(const std::string& utf8) {
  std::string out = "\"";
  const auto* s = reinterpret_cast<const unsigned char*>(utf8.data());
  const std::size_t n = utf8.size();
  for (std::size_t i = 0; i < n;) {
    unsigned cp = s[i];
    std::size_t len = 1;
    if (cp >= 0xF0 && i + 3 < n) {
      cp = (cp & 0x07) << 18 | (s[i + 1] & 0x3F) << 12 | (s[i + 2] & 0x3F) << 6 | (s[i + 3] & 0x3F);
      len = 4;
    } else if (cp >= 0xE0 && i + 2 < n) {
      cp = (cp & 0x0F) << 12 | (s[i + 1] & 0x3F) << 6 | (s[i + 2] & 0x3F);
      len = 3;
    } else if (cp >= 0xC0 && i + 1 < n) {
      cp = (cp & 0x1F) << 6 | (s[i + 1] & 0x3F);
      len = 2;
    }
    i += len;
    switch (cp) {
      case '"': out += "\\\""; continue;
      case '\\': out += "\\\\"; continue;
      case '\n': out += "\\n"; continue;
      case '\r': out += "\\r"; continue;
      case '\t': out += "\\t"; continue;
      case '\b': out += "\\b"; continue;
      case '\f': out += "\\f"; continue;
      default: break;
    }
    if (cp >= 0x20 && cp < 0x7F) {
      out.push_back(static_cast<char>(cp));
    } else if (cp > 0xFFFF) {
      cp -= 0x10000;
      AppendEscape(out, 0xD800 | cp >> 10);
      AppendEscape(out, 0xDC00 | (cp & 0x3FF));
    } else {
      AppendEscape(out, cp);
    }
  }
  return out + "\"";
}

namespace {

struct Sheet {
  std::string name;
  int rows = 0;
  int cols = 0;
};

class Dumper {
 public:
  Dumper() {
    reader_.ErrorLevel = xelMessage;
    reader_.OnMessageBox = [this](const std::string& message, bool) {
      result_.messages.push_back(message.substr(0, message.find("\rContinue?")));
      return true;  // read on
    };
    reader_.OnSheet = [this](TXLSRead&, const std::string& name, int index, bool& readIt) {
      readIt = true;
      current_ = static_cast<int>(sheets_.size());
      sheets_.push_back({name, 0, 0});
      (void)index;
    };
    reader_.OnNumberCell = [this](TXLSRead&, int col, int row, int format, double v, bool) {
      Put(col, row, format == TXLSRead::kDateFormat ? "date" : "number", PyFloatRepr(v));
    };
    reader_.OnStringCell = [this](TXLSRead&, int col, int row, int, const std::string& v, bool) {
      if (errorPending_ && errorCol_ == col && errorRow_ == row) {
        errorPending_ = false;
        return;
      }
      Put(col, row, "text", JsonQuote(v));
    };
    reader_.OnBoolCell = [this](TXLSRead&, int col, int row, int, bool v, bool) {
      Put(col, row, "bool", v ? "1" : "0");
    };
    reader_.OnFormulaCell = [this](TXLSRead&, int col, int row, const std::string& text) {
      if (current_ < 0) {
        current_ = 0;
        sheets_.push_back({"Sheet 1", 0, 0});
      }
      formulas_[{current_, row, col}] = JsonQuote(text);
    };
    reader_.OnErrorCell = [this](TXLSRead&, int col, int row, int, int code, bool) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "0x%02x", code & 0xFF);
      Put(col, row, "error", buf);
      errorPending_ = true;
      errorCol_ = col;
      errorRow_ = row;
    };
  }

  DumpResult Run(const std::function<std::string(TXLSRead&)>& read) {
    const std::string header = read(reader_);
    if (sheets_.empty()) sheets_.push_back({"Sheet 1", 0, 0});
    std::string& out = result_.text;
    out = header;
    out += '\n';
    Compact();
    for (const Cell& cell : cells_) {
      Sheet& s = sheets_[static_cast<std::size_t>(std::get<0>(cell.key))];
      s.rows = std::max(s.rows, std::get<1>(cell.key) + 1);
      s.cols = std::max(s.cols, std::get<2>(cell.key) + 1);
    }
    for (std::size_t i = 0; i < sheets_.size(); ++i) {
      const Sheet& s = sheets_[i];
      out += "#sheet\t" + std::to_string(i) + "\t" + JsonQuote(s.name) + "\t" + std::to_string(s.rows) + "\t" +
             std::to_string(s.cols) + "\n";
    }
    out.reserve(out.size() + cellText_.size() + cells_.size());
    for (const Cell& cell : cells_) {
      out.append(cellText_, cell.at, cell.size);
      out += '\n';
    }
    for (const auto& [key, text] : formulas_) {
      result_.formulaText += std::to_string(std::get<0>(key)) + "\t" + std::to_string(std::get<1>(key)) + "\t" +
                             std::to_string(std::get<2>(key)) + "\tformula\t" + text + "\n";
    }
    return std::move(result_);
  }

 private:
  // Keeps the cell's line "SHEET\tROW\tCOL\tTYPE\tVALUE", made once here,
  // in cellText_.
  void Put(int col, int row, std::string_view type, std::string_view value) {
    errorPending_ = false;
    if (current_ < 0) {
      current_ = 0;
      sheets_.push_back({"Sheet 1", 0, 0});
    }
    char place[40];
    char* end = place;
    for (const int n : {current_, row, col}) {
      end = std::to_chars(end, place + sizeof place, n).ptr;
      *end++ = '\t';
    }
    const std::size_t at = cellText_.size();
    cellText_.append(place, end).append(type).append(1, '\t').append(value);
    cells_.push_back({{current_, row, col}, at, cellText_.size() - at});
    // A file reporting one place over and over holds no more than twice
    // the cells it has.
    if (cells_.size() >= compactAt_) {
      Compact();
      compactAt_ = std::max(compactAt_, 2 * cells_.size());
    }
  }

  // Sorts the cells into sheet, row, column order; of cells reported twice
  // at one place the last one counts.
  void Compact() {
    const auto before = [](const Cell& a, const Cell& b) { return a.key < b.key; };
    // Readers mostly report in order already; sorting then only costs.
    if (!std::is_sorted(cells_.begin(), cells_.end(), before)) std::stable_sort(cells_.begin(), cells_.end(), before);
    std::size_t kept = 0;
    for (std::size_t i = 0; i < cells_.size(); ++i) {
      if (i + 1 < cells_.size() && cells_[i + 1].key == cells_[i].key) continue;
      if (kept != i) cells_[kept] = cells_[i];
      ++kept;
    }
    if (kept == cells_.size()) return;
    cells_.resize(kept);
    // The lines of replaced cells go from the text as well.
    std::string text;
    text.reserve(cellText_.size());
    for (Cell& cell : cells_) {
      const std::size_t at = text.size();
      text.append(cellText_, cell.at, cell.size);
      cell.at = at;
    }
    cellText_ = std::move(text);
  }

  struct Cell {
    std::tuple<int, int, int> key;  // sheet, row, column
    std::size_t at, size;           // its line in cellText_
  };

  TXLSRead reader_;
  DumpResult result_;
  std::vector<Sheet> sheets_;
  int current_ = -1;
  std::vector<Cell> cells_;  // as reported; sorted by Compact
  std::string cellText_;     // the cells' lines, one after another
  std::size_t compactAt_ = std::size_t{1} << 16;
  std::map<std::tuple<int, int, int>, std::string> formulas_;
  bool errorPending_ = false;
  int errorCol_ = 0, errorRow_ = 0;
};

}  // namespace

DumpResult DumpEvents(const std::function<std::string(TXLSRead&)>& read) { return Dumper().Run(read); }

DumpResult DumpWorkbookMemory(std::vector<std::uint8_t> file) {
  return DumpEvents([&](TXLSRead& reader) {
    reader.ReadMemory(std::move(file));
    return "#biff\t" + std::to_string(reader.Version());
  });
}

std::vector<std::string> DumpResult::Lines() const {
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    lines.emplace_back(text, at, end - at);
    at = end + 1;
  }
  return lines;
}

std::string FormulaDump(const DumpResult& dump) {
  // The header lines ("#...") come first.
  std::size_t header = 0;
  while (header < dump.text.size() && dump.text[header] == '#') {
    header = std::min(dump.text.find('\n', header), dump.text.size() - 1) + 1;
  }
  return dump.text.substr(0, header) + dump.formulaText;
}

DumpResult DumpWorkbookFile(const std::string& path) {
  if (path.find_first_not_of(" \t\r\n") == std::string::npos) throw Exception("Filename is missing");
  return DumpWorkbookMemory(TXLSRead::ReadWholeFile(path));
}

}  // namespace xls
