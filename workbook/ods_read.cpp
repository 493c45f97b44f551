#include "workbook/ods_read.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>

#include "platform/civil_date.h"
#include "platform/sysutils.h"
#include "workbook/format_readers.h"

namespace workbook {
namespace {

// A row of repeated cells is kept whole until it ends; no more text than this.
constexpr std::size_t kMaxRepeatedRowBytes = 8 << 20;
constexpr std::size_t kMaxCellBytes = 4 * kOdsMaxCellChars;  // more bytes hold more characters
constexpr std::int64_t kMaxRepeat = std::numeric_limits<std::int32_t>::max();

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
  return s;
}

// An attribute's value; nullopt when the element has none.
std::optional<std::string_view> Find(const XmlAttributes& attributes, std::string_view uri, std::string_view local) {
  const char* value = attributes.Find(uri, local);
  if (!value) return std::nullopt;
  return std::string_view(value);
}

// table:number-*-repeated: a positive count (1 when missing or malformed),
// held to kMaxRepeat.
std::int64_t RepeatCount(std::optional<std::string_view> attr) {
  if (!attr) return 1;
  const std::string_view s = Trim(*attr);
  if (s.empty()) return 1;
  std::int64_t n = 0;
  for (const char c : s) {
    if (!IsDigit(c)) return 1;
    n = std::min(kMaxRepeat, n * 10 + (c - '0'));
  }
  return n > 0 ? n : 1;
}

// A decimal number as Python's float() takes it (sign, blanks around).
std::optional<double> ParseDouble(std::string_view s) {
  s = Trim(s);
  bool negative = false;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  if (s.empty() || s.front() == '+' || s.front() == '-') return std::nullopt;
  // Up to 15 digits alone (counts, serial days) are a whole number exactly.
  if (s.size() <= 15) {
    std::int64_t whole = 0;
    std::size_t i = 0;
    while (i < s.size() && IsDigit(s[i])) whole = whole * 10 + (s[i++] - '0');
    if (i == s.size()) return negative ? -static_cast<double>(whole) : static_cast<double>(whole);
  }
  double value = 0;
  const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (ec != std::errc() || ptr != s.data() + s.size()) return std::nullopt;
  return negative ? -value : value;
}

// Reads up to `max` digits at s[i] as a number; false when there are none.
bool Digits(std::string_view s, std::size_t& i, std::size_t min, std::size_t max, std::int64_t& out) {
  const std::size_t start = i;
  out = 0;
  while (i < s.size() && IsDigit(s[i]) && i - start < max) out = out * 10 + (s[i++] - '0');
  return i - start >= min && (i >= s.size() || !IsDigit(s[i]));
}

// A decimal with an optional fraction ("12", "12.5") at s[i].
bool Decimal(std::string_view s, std::size_t& i, double& out) {
  const std::size_t start = i;
  while (i < s.size() && IsDigit(s[i])) ++i;
  if (i == start) return false;
  if (i < s.size() && s[i] == '.') {
    const std::size_t frac = ++i;
    while (i < s.size() && IsDigit(s[i])) ++i;
    if (i == frac) return false;
  }
  const auto [ptr, ec] = std::from_chars(s.data() + start, s.data() + i, out);
  return ec == std::errc() && ptr == s.data() + i;
}

}  // namespace

std::optional<double> OdsDateSerial(std::string_view value) {
  const std::string_view s = Trim(value);
  std::size_t i = 0;
  const bool negative = !s.empty() && s[0] == '-';
  if (negative) ++i;
  std::int64_t year = 0, month = 0, day = 0;
  if (!Digits(s, i, 4, 9, year) || i >= s.size() || s[i++] != '-') return std::nullopt;
  if (!Digits(s, i, 2, 2, month) || i >= s.size() || s[i++] != '-') return std::nullopt;
  if (!Digits(s, i, 2, 2, day)) return std::nullopt;
  double serial = static_cast<double>(platform::DaysFromCivil(negative ? -year : year, month, day) - platform::DaysFromCivil(1899, 12, 30));
  if (i < s.size() && s[i] == 'T') {
    ++i;
    std::int64_t hours = 0, minutes = 0;
    double seconds = 0;
    if (!Digits(s, i, 2, 2, hours) || i >= s.size() || s[i++] != ':' || !Digits(s, i, 2, 2, minutes)) {
      return std::nullopt;
    }
    if (i < s.size() && s[i] == ':') {
      ++i;
      const std::size_t start = i;
      if (!Decimal(s, i, seconds) || i - start < 2 || !IsDigit(s[start + 1])) return std::nullopt;
    }
    serial += (static_cast<double>(hours * 3600 + minutes * 60) + seconds) / 86400.0;
  }
  // A zone is allowed but not applied.
  if (i < s.size() && s[i] == 'Z') {
    ++i;
  } else if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    std::int64_t h = 0, m = 0;
    ++i;
    if (!Digits(s, i, 2, 2, h) || i >= s.size() || s[i++] != ':' || !Digits(s, i, 2, 2, m)) return std::nullopt;
  }
  if (i != s.size()) return std::nullopt;
  return serial;
}

std::optional<double> OdsTimeSerial(std::string_view value) {
  const std::string_view s = Trim(value);
  std::size_t i = 0;
  const bool negative = !s.empty() && s[0] == '-';
  if (negative) ++i;
  if (i >= s.size() || s[i++] != 'P') return std::nullopt;
  double days = 0, hours = 0, minutes = 0, seconds = 0;
  bool any = false;
  // Each part is a number followed by its letter: nD, then T nH nM nS.
  const auto part = [&](char letter, double& out) {
    std::size_t j = i;
    double v = 0;
    if (!Decimal(s, j, v) || j >= s.size() || s[j] != letter) return;
    out = v;
    i = j + 1;
    any = true;
  };
  part('D', days);
  if (i < s.size() && s[i] == 'T') {
    ++i;
    part('H', hours);
    part('M', minutes);
    part('S', seconds);
  }
  if (i != s.size() || !any) return std::nullopt;
  const double v = days + (hours * 3600 + minutes * 60 + seconds) / 86400.0;
  return negative ? -v : v;
}

std::string OdsFormulaText(std::string_view formula) {
  const std::size_t colon = formula.find(':');
  const std::size_t equals = formula.find('=');
  if (colon != std::string_view::npos && colon < equals &&
      std::all_of(formula.begin(), formula.begin() + static_cast<std::ptrdiff_t>(colon),
                  [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_'; })) {
    formula.remove_prefix(colon + 1);
  }
  if (!formula.empty() && formula.front() == '=') formula.remove_prefix(1);
  return std::string(formula);
}

int OdsErrorCode(std::string_view text) {
  static constexpr struct { std::string_view name; int code; } kErrors[] = {
      {"#NULL!", 0x00}, {"#DIV/0!", 0x07}, {"#VALUE!", 0x0f}, {"#REF!", 0x17},
      {"#NAME?", 0x1d}, {"#NUM!", 0x24},   {"#N/A", 0x2a},
  };
  for (const auto& e : kErrors) {
    if (e.name == text) return e.code;
  }
  return -1;
}

OdsContent::Kind OdsContent::Classify(Kind parent, std::string_view uri, std::string_view local) const {
  const bool table = uri == odf_ns::kTable;
  const bool text = uri == odf_ns::kText;
  switch (parent) {
    case Kind::Other:
      return !spreadsheetSeen_ && uri == odf_ns::kOffice && local == "spreadsheet" ? Kind::Spreadsheet : Kind::Other;
    case Kind::Spreadsheet:
      return table && local == "table" ? Kind::Table : Kind::Ignored;
    case Kind::Table:
    case Kind::RowContainer:
      if (table && local == "table-row") return Kind::Row;
      if (table && (local == "table-header-rows" || local == "table-rows" || local == "table-row-group")) {
        return Kind::RowContainer;
      }
      return Kind::Ignored;
    case Kind::Row:
      return table && (local == "table-cell" || local == "covered-table-cell") ? Kind::Cell : Kind::Ignored;
    case Kind::Cell:
    case Kind::ParaHolder:
      if (text && (local == "p" || local == "h")) return Kind::Para;
      if (text && local == "list") return Kind::List;
      return Kind::Ignored;
    case Kind::List:
      return Kind::ParaHolder;  // list items and headers hold paragraphs
    case Kind::Para:
    case Kind::Inline:
      if ((uri == odf_ns::kOffice && (local == "annotation" || local == "annotation-end")) ||
          (text && (local == "note" || local == "ruby-text"))) {
        return Kind::Ignored;
      }
      return Kind::Inline;
    default:
      return Kind::Ignored;
  }
}

void OdsContent::OnStart(const XmlName& name, const XmlAttributes& attributes) {
  if (stopped_) return;
  const std::string_view uri = name.ns;
  const std::string_view local = name.local;
  const Kind parent = open_.empty() ? Kind::Other : open_.back();
  const Kind kind = Classify(parent, uri, local);
  open_.push_back(kind);
  switch (kind) {
    case Kind::Spreadsheet: spreadsheetSeen_ = true; break;
    case Kind::Table: StartTable(attributes); break;
    case Kind::Row: StartRow(attributes); break;
    case Kind::Cell: StartCell(attributes); break;
    case Kind::Para:
      if (!cellWantsText_ && !cellMaybeError_) break;
      if (!firstPara_) cellText_.push_back('\n');
      firstPara_ = false;
      prevSpace_ = true;  // white space at the start of a paragraph is dropped
      break;
    case Kind::Inline:
      if (!cellWantsText_ && !cellMaybeError_) break;
      if (uri == odf_ns::kText && local == "s") {
        const std::int64_t n = RepeatCount(Find(attributes, odf_ns::kText, "c"));
        if (static_cast<std::size_t>(n) > kMaxCellBytes) CellTooLong();
        cellText_.append(static_cast<std::size_t>(n), ' ');
      } else if (uri == odf_ns::kText && local == "tab") {
        cellText_.push_back('\t');
      } else if (uri == odf_ns::kText && local == "line-break") {
        cellText_.push_back('\n');
      } else {
        break;
      }
      prevSpace_ = false;
      open_.back() = Kind::Ignored;  // their content, if any, is not text
      CheckCellText();
      break;
    default: break;
  }
}

void OdsContent::OnEnd(const XmlName&) {
  if (open_.empty()) return;
  const Kind kind = open_.back();
  open_.pop_back();
  if (stopped_) return;
  switch (kind) {
    case Kind::Cell: EndCell(); break;
    case Kind::Row: EndRow(); break;
    case Kind::Table:
    case Kind::SkippedTable:
      if (OnTableEnd) OnTableEnd(tableIndex_);
      break;
    default: break;
  }
}

void OdsContent::OnText(std::string_view text) {
  if (stopped_ || open_.empty() || (!cellWantsText_ && !cellMaybeError_)) return;
  if (open_.back() != Kind::Para && open_.back() != Kind::Inline) return;
  AddText(text);
}

void OdsContent::AddText(std::string_view text) {
  // Raw white space (space, tab, CR, LF) is one space; a run of it one space.
  for (const char c : text) {
    if (IsSpace(c)) {
      if (!prevSpace_) cellText_.push_back(' ');
      prevSpace_ = true;
    } else {
      cellText_.push_back(c);
      prevSpace_ = false;
    }
  }
  CheckCellText();
}

void OdsContent::CheckCellText() {
  if (cellText_.size() > kMaxCellBytes) CellTooLong();
}

void OdsContent::CellTooLong() const {
  throw Exception("ODF cell in table " + std::to_string(tableIndex_ + 1) + ", row " + std::to_string(row_ + 1) +
                  ", column " + std::to_string(col_ + 1) + " holds more than " + std::to_string(kOdsMaxCellChars) +
                  " characters");
}

void OdsContent::StartTable(const XmlAttributes& attributes) {
  ++tableIndex_;
  row_ = 0;
  const auto name = Find(attributes, odf_ns::kTable, "name");
  const bool read = !OnTable || OnTable(tableIndex_, name ? std::string(*name) : std::string());
  if (!read) open_.back() = Kind::SkippedTable;
}

void OdsContent::StartRow(const XmlAttributes& attributes) {
  rowRepeat_ = RepeatCount(Find(attributes, odf_ns::kTable, "number-rows-repeated"));
  col_ = 0;
  rowCells_.clear();
  rowCellBytes_ = 0;
}

void OdsContent::StartCell(const XmlAttributes& attributes) {
  // The attributes a cell's value comes from, in one pass.
  std::optional<std::string_view> repeated, formula, calcType, type, number, date, time, boolean, string;
  for (const XmlAttributes::Attribute& a : attributes) {
    const std::string_view uri = a.name.ns;
    const std::string_view local = a.name.local;
    if (uri == odf_ns::kOffice) {
      if (local == "value-type") {
        type = a.value;
      } else if (local == "value") {
        number = a.value;
      } else if (local == "date-value") {
        date = a.value;
      } else if (local == "time-value") {
        time = a.value;
      } else if (local == "boolean-value") {
        boolean = a.value;
      } else if (local == "string-value") {
        string = a.value;
      }
    } else if (uri == odf_ns::kTable) {
      if (local == "number-columns-repeated") {
        repeated = a.value;
      } else if (local == "formula") {
        formula = a.value;
      }
    } else if (uri == odf_ns::kCalcExt && local == "value-type") {
      calcType = a.value;
    }
  }
  cellRepeat_ = RepeatCount(repeated);
  cellValue_ = OdsValue();
  cellWantsText_ = false;
  cellHasStringValue_ = false;
  cellText_.clear();
  firstPara_ = true;
  cellFormula_.clear();
  if (formula) {
    if (formula->size() > kMaxCellBytes) CellTooLong();
    cellFormula_ = *formula;
  }
  cellMaybeError_ = calcType && *calcType == "error";
  const std::string_view vt = type ? *type : std::string_view();
  const auto set = [&](OdsValue::Kind kind, std::optional<double> v) {
    if (!v) return;
    cellValue_.kind = kind;
    cellValue_.number = *v;
  };
  if (vt == "float" || vt == "percentage" || vt == "currency") {
    if (number) set(OdsValue::Kind::Number, ParseDouble(*number));
  } else if (vt == "date") {
    if (date) set(OdsValue::Kind::Date, OdsDateSerial(*date));
  } else if (vt == "time") {
    if (time) set(OdsValue::Kind::Date, OdsTimeSerial(*time));
  } else if (vt == "boolean") {
    if (boolean) {
      std::string b(Trim(*boolean));
      std::transform(b.begin(), b.end(), b.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
      if (b == "true" || b == "1") set(OdsValue::Kind::Bool, 1.0);
      if (b == "false" || b == "0") set(OdsValue::Kind::Bool, 0.0);
    }
  } else if (!type || vt == "string") {
    if (string) {
      if (string->size() > kMaxCellBytes) CellTooLong();
      cellValue_.kind = OdsValue::Kind::Text;
      cellValue_.text = *string;
      cellHasStringValue_ = true;
    } else {
      cellWantsText_ = true;
    }
  }
}

void OdsContent::EndCell() {
  OdsValue value;
  if (cellMaybeError_) {
    const int code = OdsErrorCode(Trim(cellText_));
    if (code >= 0) {
      value.kind = OdsValue::Kind::Error;
      value.number = code;
    }
  }
  if (value.kind == OdsValue::Kind::Empty) {
    if (cellWantsText_) {
      value.kind = OdsValue::Kind::Text;
      value.text = std::move(cellText_);
    } else {
      value = std::move(cellValue_);
    }
    if (value.kind == OdsValue::Kind::Text) {
      if (value.text.empty()) value.kind = OdsValue::Kind::Empty;
      const std::size_t chars = static_cast<std::size_t>(std::count_if(
          value.text.begin(), value.text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
      if (chars > kOdsMaxCellChars) CellTooLong();
    }
  }
  value.formula = std::move(cellFormula_);
  cellText_.clear();
  cellWantsText_ = cellMaybeError_ = false;
  const int col = static_cast<int>(std::min<std::int64_t>(col_, kOdsMaxColumns));
  const std::int64_t repeat = cellRepeat_;
  col_ = std::min(col_ + repeat, kMaxRepeat * 2);
  if (value.kind == OdsValue::Kind::Empty && value.formula.empty()) return;
  if (col_ > kOdsMaxColumns) {
    throw Exception("ODF table " + std::to_string(tableIndex_ + 1) + " has a cell beyond column " +
                    std::to_string(kOdsMaxColumns));
  }
  if (rowRepeat_ > 1) {
    rowCellBytes_ += value.text.size() + value.formula.size() + sizeof(RepeatedCell);
    if (rowCellBytes_ > kMaxRepeatedRowBytes) {
      throw Exception("ODF table " + std::to_string(tableIndex_ + 1) + " repeats a row holding more than " +
                      std::to_string(kMaxRepeatedRowBytes >> 20) + " MiB");
    }
    rowCells_.push_back({col, repeat, std::move(value)});
    return;
  }
  AddRepeated(repeat - 1);
  for (std::int64_t k = 0; k < repeat; ++k) {
    if (!Emit(row_, col + static_cast<int>(k), value)) return;
  }
}

void OdsContent::EndRow() {
  const std::int64_t first = row_;
  row_ = std::min(row_ + rowRepeat_, kMaxRepeat * 2);
  EmitRepeatedRow(first);
  if (!stopped_ && RowLimit > 0 && row_ >= RowLimit) Stop();
}

void OdsContent::EmitRepeatedRow(std::int64_t first) {
  if (rowCells_.empty()) return;
  std::int64_t perRow = 0;
  for (const RepeatedCell& c : rowCells_) perRow += c.repeat;  // at most 16384 columns
  AddRepeated(perRow * rowRepeat_ - static_cast<std::int64_t>(rowCells_.size()));
  const std::int64_t last = RowLimit > 0 ? std::min<std::int64_t>(row_, RowLimit) : row_;
  for (std::int64_t r = first; r < last; ++r) {
    for (const RepeatedCell& c : rowCells_) {
      for (std::int64_t k = 0; k < c.repeat; ++k) {
        if (!Emit(r, c.col + static_cast<int>(k), c.value)) return;
      }
    }
  }
  rowCells_.clear();
}

void OdsContent::AddRepeated(std::int64_t cells) {
  repeatedCells_ += cells;
  if (repeatedCells_ > kOdsMaxRepeatedCells) {
    throw Exception("ODF repeated rows and columns add more than " + std::to_string(kOdsMaxRepeatedCells) + " cells");
  }
}

bool OdsContent::Emit(std::int64_t row, int col, const OdsValue& value) {
  if (row >= kOdsMaxRows) {
    throw Exception("ODF table " + std::to_string(tableIndex_ + 1) + " has a cell beyond row " +
                    std::to_string(kOdsMaxRows));
  }
  if (OnCell && !OnCell(static_cast<int>(row), col, value)) {
    stopped_ = true;
    return false;
  }
  return true;
}

}  // namespace workbook

namespace workbook {
namespace {

constexpr std::size_t kChunk = 64 * 1024;
constexpr std::size_t kMaxManifest = 1 << 20;

// Hands the cells of the content document to the events of a TXLSRead.
class OdsEvents {
 public:
  OdsEvents(TXLSRead& events, const ReadLimits& limits) : events_(events), limits_(limits) {
    content_.RowLimit = limits.rowLimit;
    content_.OnTable = [this](int index, const std::string& name) {
      bool readIt = index == 0;
      if (events_.OnSheet) events_.OnSheet(events_, name, index, readIt);
      if (events_.StopRequested()) {
        content_.Stop();
        return false;
      }
      reading_ = readIt;
      return readIt;
    };
    content_.OnTableEnd = [this](int) {
      // A chart read ends with its sheet.
      if (reading_ && limits_.rowLimit > 0) content_.Stop();
      reading_ = false;
    };
    content_.OnCell = [this](int row, int col, const OdsValue& value) { return Cell(row, col, value); };
  }

  // Parses the document fed to `stream` piece by piece; false once the read
  // has what it wants.
  OdsContent& Content() { return content_; }

 private:
  bool Cell(int row, int col, const OdsValue& value) {
    if (limits_.rowLimit > 0 && row >= limits_.rowLimit) return false;
    TXLSRead& e = events_;
    const bool formula = !value.formula.empty();
    if (formula && e.OnFormulaCell) {
      e.OnFormulaCell(e, col, row, OdsFormulaText(value.formula));
      if (e.StopRequested()) return false;
    }
    switch (value.kind) {
      case OdsValue::Kind::Number:
      case OdsValue::Kind::Date:
        if (e.OnNumberCell) {
          const int format = value.kind == OdsValue::Kind::Date ? TXLSRead::kDateFormat : -1;
          e.OnNumberCell(e, col, row, format, value.number, formula);
        }
        break;
      case OdsValue::Kind::Bool:
        if (e.OnBoolCell) e.OnBoolCell(e, col, row, -1, value.number != 0, formula);
        break;
      case OdsValue::Kind::Text:
        if (e.OnStringCell) e.OnStringCell(e, col, row, -1, value.text, formula);
        break;
      case OdsValue::Kind::Error: {
        const int code = static_cast<int>(value.number);
        if (e.OnErrorCell) e.OnErrorCell(e, col, row, -1, code, formula);
        if (e.StopRequested()) return false;
        if (e.OnStringCell) e.OnStringCell(e, col, row, -1, TXLSRead::ErrorText(code), formula);
        break;
      }
      case OdsValue::Kind::Empty: break;
    }
    return !e.StopRequested();
  }

  TXLSRead& events_;
  const ReadLimits& limits_;
  OdsContent content_;
  bool reading_ = false;
};

// Looks for manifest:encryption-data in META-INF/manifest.xml.
class ManifestScan : public XmlHandler {
 public:
  void OnStart(const XmlName& name, const XmlAttributes&) override {
    if (name.local == "encryption-data" &&
        name.ns == "urn:oasis:names:tc:opendocument:xmlns:manifest:1.0") {
      encrypted = true;
    }
  }
  bool encrypted = false;
};

}  // namespace

void ReadOdsPackage(TXLSRead& events, ZipArchive& zip, const ReadLimits& limits) {
  events.BeginEventRead();
  if (const ZipArchive::Entry* manifest = zip.Find("META-INF/manifest.xml")) {
    const std::string text = zip.ReadSmall(*manifest, kMaxManifest);
    ManifestScan scan;
    XmlStream stream(scan, manifest->name);
    stream.Feed({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}, true);
    if (scan.encrypted) throw Exception("Can not read, file is encrypted");
  }
  const ZipArchive::Entry* entry = zip.Find("content.xml");
  if (!entry) throw Exception("OpenDocument package has no content.xml");
  OdsEvents reader(events, limits);
  XmlStream stream(reader.Content(), entry->name);
  reader.Content().Stream = &stream;
  const bool whole = zip.Read(*entry, [&](std::span<const std::uint8_t> chunk) { return stream.Feed(chunk, false); });
  if (whole && !stream.Stopped()) stream.Feed({}, true);
}

void ReadFlatOds(TXLSRead& events, std::span<const std::uint8_t> file, const ReadLimits& limits) {
  events.BeginEventRead();
  OdsEvents reader(events, limits);
  XmlStream stream(reader.Content(), "flat OpenDocument file");
  reader.Content().Stream = &stream;
  for (std::size_t pos = 0; pos < file.size(); pos += kChunk) {
    if (!stream.Feed(file.subspan(pos, std::min(kChunk, file.size() - pos)), false)) return;
  }
  stream.Feed({}, true);
}

}  // namespace workbook
