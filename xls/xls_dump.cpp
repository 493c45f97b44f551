#include "xls/xls_dump.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <map>
#include <tuple>

#include "platform/sysutils.h"
#include "xls/xls_read.h"

namespace xls {

std::string PyFloatRepr(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  if (value == 0) return std::signbit(value) ? "-0.0" : "0.0";
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
  const std::string sci(buf, res.ptr);  // [-]d[.ddd]e[+-]xx
  std::string out = value < 0 ? "-" : "";
  const std::size_t start = value < 0 ? 1 : 0;
  const std::size_t e = sci.find('e');
  std::string digits;
  for (std::size_t i = start; i < e; ++i) {
    if (sci[i] != '.') digits.push_back(sci[i]);
  }
  const int exponent = std::stoi(sci.substr(e + 1));
  const int decpt = exponent + 1;
  const int n = static_cast<int>(digits.size());
  if (decpt > -4 && decpt <= 16) {
    if (decpt <= 0) {
      out.append("0.").append(static_cast<std::size_t>(-decpt), '0').append(digits);
    } else if (decpt >= n) {
      out.append(digits).append(static_cast<std::size_t>(decpt - n), '0').append(".0");
    } else {
      out.append(digits, 0, static_cast<std::size_t>(decpt)).append(".").append(digits, static_cast<std::size_t>(decpt));
    }
    return out;
  }
  out += digits.substr(0, 1);
  if (n > 1) out.append(".").append(digits, 1);
  char exp[16];
  std::snprintf(exp, sizeof exp, "e%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
  return out + exp;
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
    result_.lines.push_back(header);
    for (const auto& [key, cell] : cells_) {
      Sheet& s = sheets_[static_cast<std::size_t>(std::get<0>(key))];
      s.rows = std::max(s.rows, std::get<1>(key) + 1);
      s.cols = std::max(s.cols, std::get<2>(key) + 1);
    }
    for (std::size_t i = 0; i < sheets_.size(); ++i) {
      const Sheet& s = sheets_[i];
      result_.lines.push_back("#sheet\t" + std::to_string(i) + "\t" + JsonQuote(s.name) + "\t" +
                              std::to_string(s.rows) + "\t" + std::to_string(s.cols));
    }
    for (const auto& [key, cell] : cells_) {
      result_.lines.push_back(std::to_string(std::get<0>(key)) + "\t" + std::to_string(std::get<1>(key)) + "\t" +
                              std::to_string(std::get<2>(key)) + "\t" + cell.first + "\t" + cell.second);
    }
    for (const auto& [key, text] : formulas_) {
      result_.formulaLines.push_back(std::to_string(std::get<0>(key)) + "\t" + std::to_string(std::get<1>(key)) +
                                     "\t" + std::to_string(std::get<2>(key)) + "\tformula\t" + text);
    }
    return std::move(result_);
  }

 private:
  void Put(int col, int row, const char* type, std::string value) {
    errorPending_ = false;
    if (current_ < 0) {
      current_ = 0;
      sheets_.push_back({"Sheet 1", 0, 0});
    }
    cells_[{current_, row, col}] = {type, std::move(value)};
  }

  TXLSRead reader_;
  DumpResult result_;
  std::vector<Sheet> sheets_;
  int current_ = -1;
  std::map<std::tuple<int, int, int>, std::pair<std::string, std::string>> cells_;
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

std::vector<std::string> FormulaDump(const DumpResult& dump) {
  std::vector<std::string> out;
  for (const auto& line : dump.lines) {
    if (line.starts_with("#")) out.push_back(line);
  }
  out.insert(out.end(), dump.formulaLines.begin(), dump.formulaLines.end());
  return out;
}

DumpResult DumpWorkbookFile(const std::string& path) {
  if (path.find_first_not_of(" \t\r\n") == std::string::npos) throw Exception("Filename is missing");
  return DumpWorkbookMemory(TXLSRead::ReadWholeFile(path));
}

}  // namespace xls
