#include "workbook/xlsx_read.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <map>
#include <optional>
#include <vector>

#include "platform/civil_date.h"
#include "platform/sysutils.h"
#include "workbook/format_readers.h"
#include "workbook/xml_stream.h"

namespace workbook {

namespace {

using Entry = ZipArchive::Entry;

constexpr std::string_view kRelOfficeDocument =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument";
constexpr std::string_view kRelWorksheet = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet";
constexpr std::string_view kRelSharedStrings =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings";
constexpr std::string_view kRelStyles = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles";

constexpr std::array<std::string_view, 4> kWorkbookContentTypes = {
    "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml",
    "application/vnd.ms-excel.sheet.macroEnabled.main+xml",
    "application/vnd.openxmlformats-officedocument.spreadsheetml.template.main+xml",
    "application/vnd.ms-excel.template.macroEnabled.main+xml",
};

// Bounds on what a part may declare: far above real workbooks.
constexpr std::size_t kMaxText = std::size_t{1} << 20;  // one text or formula
constexpr std::size_t kMaxListed = 1 << 20;              // relationships, sheets, formats, styles
constexpr int kMaxColumns = 16384;
constexpr int kMaxRows = 1048576;

// Excel's error values and their BIFF codes.
constexpr std::array<std::pair<std::string_view, int>, 8> kErrors = {{
    {"#NULL!", 0x00}, {"#DIV/0!", 0x07}, {"#VALUE!", 0x0F}, {"#REF!", 0x17},
    {"#NAME?", 0x1D}, {"#NUM!", 0x24}, {"#N/A", 0x2A}, {"#GETTING_DATA", 0x2B},
}};

std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r' || s.front() == '\n')) {
    s.remove_prefix(1);
  }
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n')) {
    s.remove_suffix(1);
  }
  return s;
}

bool ParseNumber(std::string_view text, double& value) {
  text = Trimmed(text);
  if (!text.empty() && text[0] == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  // Up to 15 digits alone (counts, serial days) are a whole number exactly.
  if (text.size() <= 15) {
    std::int64_t whole = 0;
    std::size_t i = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') whole = whole * 10 + (text[i++] - '0');
    if (i == text.size()) {
      value = static_cast<double>(whole);
      return true;
    }
  }
  const auto res = std::from_chars(text.data(), text.data() + text.size(), value);
  return res.ec == std::errc() && res.ptr == text.data() + text.size();
}

bool ParseInt(std::string_view text, long long& value) {
  text = Trimmed(text);
  const auto res = std::from_chars(text.data(), text.data() + text.size(), value);
  return res.ec == std::errc() && res.ptr == text.data() + text.size();
}

bool IsTrue(const char* v) {
  if (!v) return false;
  const std::string_view s = Trimmed(v);
  return s == "1" || s == "true" || s == "on";
}

// "B12" -> column 1, row 11; "$B$12" too. False for anything else.
bool ParseCellRef(std::string_view ref, int& col, int& row) {
  std::size_t i = 0;
  if (i < ref.size() && ref[i] == '$') ++i;
  long long c = 0;
  const std::size_t letters = i;
  while (i < ref.size() && std::isalpha(static_cast<unsigned char>(ref[i])) && i - letters < 3) {
    c = c * 26 + (std::toupper(static_cast<unsigned char>(ref[i])) - 'A' + 1);
    ++i;
  }
  if (i == letters) return false;
  if (i < ref.size() && ref[i] == '$') ++i;
  long long r = 0;
  const std::size_t digits = i;
  while (i < ref.size() && std::isdigit(static_cast<unsigned char>(ref[i])) && i - digits < 8) {
    r = r * 10 + (ref[i] - '0');
    ++i;
  }
  if (i == digits || i != ref.size() || c > kMaxColumns || r < 1 || r > kMaxRows) return false;
  col = static_cast<int>(c - 1);
  row = static_cast<int>(r - 1);
  return true;
}

std::string ColumnName(int col) {
  std::string s;
  for (int c = col + 1; c > 0; c = (c - 1) / 26) s.insert(s.begin(), static_cast<char>('A' + (c - 1) % 26));
  return s;
}

bool IdentChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.'; }

// The formula of a shared formula's anchor moved by (dRow, dCol) for
// another cell of its range: relative references move, "$" parts stay;
// strings, quoted sheet names and bracketed table parts are copied as
// they are.
std::string ShiftFormula(std::string_view f, int dRow, int dCol) {
  std::string out;
  out.reserve(f.size() + 8);
  std::size_t i = 0;
  while (i < f.size()) {
    const char ch = f[i];
    if (ch == '"' || ch == '\'') {
      std::size_t j = i + 1;
      while (j < f.size()) {
        if (f[j] == ch) {
          if (j + 1 < f.size() && f[j + 1] == ch) {
            j += 2;
            continue;
          }
          break;
        }
        ++j;
      }
      j = std::min(j + 1, f.size());
      out.append(f.substr(i, j - i));
      i = j;
      continue;
    }
    if (ch == '[') {
      const std::size_t j = std::min(f.find(']', i), f.size() - 1) + 1;
      out.append(f.substr(i, j - i));
      i = j;
      continue;
    }
    if (ch == '$' || std::isalpha(static_cast<unsigned char>(ch)) || ch == '_') {
      std::size_t j = i;
      while (j < f.size() && (IdentChar(f[j]) || f[j] == '$')) ++j;
      const std::string_view word = f.substr(i, j - i);
      const bool standalone = (i == 0 || !IdentChar(f[i - 1])) && (j >= f.size() || f[j] != '(');
      int col = 0, row = 0;
      if (standalone && ParseCellRef(word, col, row)) {
        const std::size_t dollarCol = word[0] == '$' ? 1 : 0;
        const std::size_t rowDollar = word.find('$', dollarCol);
        const bool absCol = dollarCol == 1;
        const bool absRow = rowDollar != std::string_view::npos;
        const int newCol = absCol ? col : col + dCol;
        const int newRow = absRow ? row : row + dRow;
        if (newCol < 0 || newCol >= kMaxColumns || newRow < 0 || newRow >= kMaxRows) {
          out += "#REF!";
        } else {
          out += (absCol ? "$" : "") + ColumnName(newCol) + (absRow ? "$" : "") + std::to_string(newRow + 1);
        }
      } else {
        out.append(word);
      }
      i = j;
      continue;
    }
    out.push_back(ch);
    ++i;
  }
  return out;
}

// ---------------------------------------------------------------------------
// Parts as streams

// A handler that can end its part's parse early.
class PartHandler : public XmlHandler {
 public:
  XmlStream* stream = nullptr;
  void Stop() {
    if (stream) stream->Stop();
  }
};

// Parses an entry with `handler`; the parse ends where the handler stops it.
void ParseEntry(ZipArchive& zip, const Entry& entry, PartHandler& handler) {
  XmlStream stream(handler, entry.name);
  handler.stream = &stream;
  const bool complete = zip.Read(entry, [&](std::span<const std::uint8_t> chunk) { return stream.Feed(chunk, false); });
  if (complete && !stream.Stopped()) stream.Feed({}, true);
  handler.stream = nullptr;
}

// Collects a text up to kMaxText bytes.
void Append(std::string& text, std::string_view piece, const std::string& part) {
  if (text.size() + piece.size() > kMaxText) {
    throw Exception("Workbook part " + part + ": a text is longer than " + std::to_string(kMaxText) + " bytes");
  }
  text.append(piece);
}

void CheckCount(std::size_t count, const std::string& part) {
  if (count >= kMaxListed) {
    throw Exception("Workbook part " + part + " lists more than " + std::to_string(kMaxListed) + " items");
  }
}

// [Content_Types].xml: the part name of the workbook.
class ContentTypes : public PartHandler {
 public:
  std::string workbookPart;
  void OnStart(const XmlName& name, const XmlAttributes& a) override {
    if (!name.Is(ns::kContentTypes, "Override")) return;
    const char* type = a.Find("ContentType");
    const char* part = a.Find("PartName");
    if (!type || !part) return;
    const std::string_view t = Trimmed(type);
    if (std::find(kWorkbookContentTypes.begin(), kWorkbookContentTypes.end(), t) != kWorkbookContentTypes.end()) {
      workbookPart = ResolveTarget("", part);
      Stop();
    }
  }
};

std::string WorkbookPartFromContentTypes(ZipArchive& zip) {
  const Entry* entry = zip.Find("[Content_Types].xml");
  if (!entry) return {};
  ContentTypes handler;
  ParseEntry(zip, *entry, handler);
  return handler.workbookPart;
}

struct Relationship {
  std::string id;
  std::string type;    // Transitional form
  std::string target;  // resolved part name
};

class Relationships : public PartHandler {
 public:
  Relationships(std::string source, std::string part) : source_(std::move(source)), part_(std::move(part)) {}
  std::vector<Relationship> list;
  void OnStart(const XmlName& name, const XmlAttributes& a) override {
    if (!name.Is(ns::kPackageRels, "Relationship")) return;
    const char* id = a.Find("Id");
    const char* type = a.Find("Type");
    const char* target = a.Find("Target");
    const char* mode = a.Find("TargetMode");
    if (!id || !type || !target || (mode && std::string_view(mode) == "External")) return;
    CheckCount(list.size(), part_);
    list.push_back({id, TransitionalRelationshipType(Trimmed(type)), ResolveTarget(source_, Trimmed(target))});
  }

 private:
  std::string source_, part_;
};

std::string RelsPartOf(std::string_view part) {
  const std::size_t slash = part.rfind('/');
  const std::string_view folder = slash == std::string_view::npos ? std::string_view() : part.substr(0, slash + 1);
  const std::string_view file = slash == std::string_view::npos ? part : part.substr(slash + 1);
  return std::string(folder) + "_rels/" + std::string(file) + ".rels";
}

// The relationships of `source` ("" for the package); none when the part is absent.
std::vector<Relationship> ReadRelationships(ZipArchive& zip, const std::string& source) {
  const std::string part = source.empty() ? "_rels/.rels" : RelsPartOf(source);
  const Entry* entry = zip.Find(part);
  if (!entry) return {};
  Relationships handler(source, part);
  ParseEntry(zip, *entry, handler);
  return std::move(handler.list);
}

struct SheetInfo {
  std::string name;
  std::string relId;
};

// The workbook part: date system and the sheet list, up to </sheets>.
class WorkbookPart : public PartHandler {
 public:
  explicit WorkbookPart(std::string part) : part_(std::move(part)) {}
  bool date1904 = false;
  std::vector<SheetInfo> sheets;
  void OnStart(const XmlName& name, const XmlAttributes& a) override {
    if (name.ns != ns::kSpreadsheetMl) return;
    if (name.local == "workbookPr") {
      date1904 = IsTrue(a.Find("date1904"));
    } else if (name.local == "sheet") {
      CheckCount(sheets.size(), part_);
      const char* sheetName = a.Find("name");
      const char* id = a.Find(ns::kOfficeRels, "id");
      sheets.push_back({sheetName ? sheetName : "", id ? id : ""});
    }
  }
  void OnEnd(const XmlName& name) override {
    if (name.Is(ns::kSpreadsheetMl, "sheets")) Stop();
  }

 private:
  std::string part_;
};

// Number formats: the built-in ones that show dates or times.
bool BuiltinDateFormat(long long id) { return (id >= 14 && id <= 22) || (id >= 45 && id <= 47); }

// The styles part: which cell format (xf index) shows a date.
class StylesPart : public PartHandler {
 public:
  explicit StylesPart(std::string part) : part_(std::move(part)) {}
  std::vector<bool> xfIsDate;
  void OnStart(const XmlName& name, const XmlAttributes& a) override {
    if (name.ns != ns::kSpreadsheetMl) return;
    if (name.local == "numFmt") {
      long long id = 0;
      const char* code = a.Find("formatCode");
      if (a.Find("numFmtId") && ParseInt(a.Find("numFmtId"), id) && code) {
        CheckCount(custom_.size(), part_);
        custom_[id] = IsDateFormatCode(code);
      }
    } else if (name.local == "cellXfs") {
      inCellXfs_ = true;
    } else if (name.local == "xf" && inCellXfs_) {
      CheckCount(xfIsDate.size(), part_);
      long long id = 0;
      const char* fmt = a.Find("numFmtId");
      bool date = false;
      if (fmt && ParseInt(fmt, id)) {
        const auto it = custom_.find(id);
        date = it != custom_.end() ? it->second : BuiltinDateFormat(id);
      }
      xfIsDate.push_back(date);
    }
  }
  void OnEnd(const XmlName& name) override {
    if (name.Is(ns::kSpreadsheetMl, "cellXfs")) {
      inCellXfs_ = false;
      Stop();
    }
  }

 private:
  std::string part_;
  std::map<long long, bool> custom_;
  bool inCellXfs_ = false;
};

// Rich text (shared strings and inline strings): the text of every <t>
// outside phonetic runs (<rPh>), joined.
class RichText {
 public:
  void Start(const XmlName& name) {
    if (name.ns != ns::kSpreadsheetMl) return;
    if (name.local == "rPh") ++phonetic_;
    if (name.local == "t" && phonetic_ == 0) inT_ = true;
  }
  void End(const XmlName& name) {
    if (name.ns != ns::kSpreadsheetMl) return;
    if (name.local == "rPh") --phonetic_;
    if (name.local == "t") inT_ = false;
  }
  void Text(std::string_view piece, const std::string& part) {
    if (inT_) Append(text_, piece, part);
  }
  std::string Take() {
    std::string out = DecodeXString(text_);
    text_.clear();
    inT_ = false;
    phonetic_ = 0;
    return out;
  }

 private:
  std::string text_;
  bool inT_ = false;
  int phonetic_ = 0;
};

// The shared strings part, read up to index `upTo` (all when negative).
class SharedStringsPart : public PartHandler {
 public:
  SharedStringsPart(std::string part, long long upTo) : part_(std::move(part)), upTo_(upTo) {}
  std::vector<std::string> strings;
  void OnStart(const XmlName& name, const XmlAttributes&) override {
    if (name.Is(ns::kSpreadsheetMl, "si")) {
      inSi_ = true;
      CheckCount(strings.size(), part_);
    } else if (inSi_) {
      text_.Start(name);
    }
  }
  void OnEnd(const XmlName& name) override {
    if (name.Is(ns::kSpreadsheetMl, "si")) {
      inSi_ = false;
      strings.push_back(text_.Take());
      if (upTo_ >= 0 && static_cast<long long>(strings.size()) > upTo_) Stop();
    } else if (inSi_) {
      text_.End(name);
    }
  }
  void OnText(std::string_view piece) override {
    if (inSi_) text_.Text(piece, part_);
  }

 private:
  std::string part_;
  long long upTo_;
  bool inSi_ = false;
  RichText text_;
};

// A cell's t attribute: n (or absent, or any other value: a number), s
// (shared string), str, inlineStr, b, e, d.
enum class CellType : std::uint8_t { kNumber, kShared, kStr, kInline, kBool, kError, kDate };

CellType CellTypeOf(const char* t) {
  if (!t) return CellType::kNumber;
  const std::string_view v = Trimmed(t);
  if (v == "s") return CellType::kShared;
  if (v == "str") return CellType::kStr;
  if (v == "inlineStr") return CellType::kInline;
  if (v == "b") return CellType::kBool;
  if (v == "e") return CellType::kError;
  if (v == "d") return CellType::kDate;
  return CellType::kNumber;
}

// One cell as the worksheet holds it.
struct Cell {
  int row = 0, col = 0;
  CellType type = CellType::kNumber;
  int style = 0;
  std::string value;  // <v>, or the inline string's text
  bool hasFormula = false;
  std::string formula;
  // Made ready for the next cell, keeping what the texts have allocated.
  void Reset() {
    row = col = style = 0;
    type = CellType::kNumber;
    value.clear();
    hasFormula = false;
    formula.clear();
  }
};

// A shared formula's anchor: its text and cell.
struct SharedAnchor {
  std::string text;
  int row = 0, col = 0;
};

// The worksheet part: cells in order to `onCell`; ends after row
// `rowLimit` - 1 when rowLimit > 0.
class WorksheetPart : public PartHandler {
 public:
  WorksheetPart(std::string part, int rowLimit, std::function<void(Cell&)> onCell)
      : part_(std::move(part)), rowLimit_(rowLimit), onCell_(std::move(onCell)) {}

  void OnStart(const XmlName& name, const XmlAttributes& a) override {
    if (name.ns != ns::kSpreadsheetMl) return;
    const std::string_view l = name.local;
    if (inCell_) {
      if (l == "v") {
        inV_ = true;
      } else if (l == "f") {
        StartFormula(a);
      } else if (l == "is") {
        inIs_ = true;
      } else if (inIs_) {
        rich_.Start(name);
      }
      return;
    }
    if (l == "sheetData") {
      inData_ = true;
    } else if (inData_ && l == "row") {
      long long r = 0;
      if (const char* ra = a.Find("r")) {
        if (!ParseInt(ra, r) || r < 1 || r > kMaxRows) {
          throw Exception("Workbook part " + part_ + ": bad row number \"" + std::string(ra) + "\"");
        }
        row_ = static_cast<int>(r - 1);
      } else if (++row_ >= kMaxRows) {
        throw Exception("Workbook part " + part_ + " has more than 1048576 rows");
      }
      col_ = -1;
      if (rowLimit_ > 0 && row_ >= rowLimit_) Stop();
    } else if (inData_ && l == "c") {
      cell_.Reset();
      int col = 0, row = 0;
      // r, t and s, in one pass over the attributes.
      const char* ref = nullptr;
      const char* t = nullptr;
      const char* sa = nullptr;
      for (const XmlAttributes::Attribute& at : a) {
        if (at.name.local.size() != 1 || !at.name.ns.empty()) continue;
        switch (at.name.local[0]) {
          case 'r': ref = at.value; break;
          case 't': t = at.value; break;
          case 's': sa = at.value; break;
          default: break;
        }
      }
      if (ref) {
        if (!ParseCellRef(Trimmed(ref), col, row)) {
          throw Exception("Workbook part " + part_ + ": bad cell reference \"" + std::string(ref) + "\"");
        }
      } else {
        col = col_ + 1;
        row = std::max(row_, 0);
        if (col >= kMaxColumns) throw Exception("Workbook part " + part_ + " has a row of more than 16384 columns");
      }
      if (rowLimit_ > 0 && row >= rowLimit_) {
        Stop();
        return;
      }
      cell_.row = row;
      cell_.col = col;
      row_ = row;
      col_ = col;
      cell_.type = CellTypeOf(t);
      long long s = 0;
      cell_.style = sa && ParseInt(sa, s) && s >= 0 && s < (1 << 30) ? static_cast<int>(s) : 0;
      inCell_ = true;
    }
  }

  void OnEnd(const XmlName& name) override {
    if (name.ns != ns::kSpreadsheetMl) return;
    const std::string_view l = name.local;
    if (l == "c" && inCell_) {
      inCell_ = inV_ = inF_ = inIs_ = false;
      if (cell_.type == CellType::kInline) cell_.value = rich_.Take();
      EndFormula();
      onCell_(cell_);
    } else if (l == "v") {
      inV_ = false;
    } else if (l == "f") {
      inF_ = false;
    } else if (l == "is") {
      inIs_ = false;
    } else if (inIs_) {
      rich_.End(name);
    } else if (l == "sheetData") {
      inData_ = false;
      Stop();
    }
  }

  void OnText(std::string_view piece) override {
    if (inV_) {
      Append(cell_.value, piece, part_);
    } else if (inF_) {
      Append(cell_.formula, piece, part_);
    } else if (inIs_) {
      rich_.Text(piece, part_);
    }
  }

 private:
  void StartFormula(const XmlAttributes& a) {
    inF_ = true;
    cell_.hasFormula = true;
    const char* t = a.Find("t");
    const char* si = a.Find("si");
    sharedIndex_ = -1;
    long long index = 0;
    if (t && std::string_view(t) == "shared" && si && ParseInt(si, index) && index >= 0) sharedIndex_ = index;
  }
  // A shared formula's anchor holds the text; the other cells of its
  // range get it moved to their place.
  void EndFormula() {
    if (!cell_.hasFormula || sharedIndex_ < 0) return;
    if (!Trimmed(cell_.formula).empty()) {
      if (shared_.size() >= kMaxListed && !shared_.count(sharedIndex_)) CheckCount(shared_.size(), part_);
      shared_[sharedIndex_] = {cell_.formula, cell_.row, cell_.col};
    } else if (const auto it = shared_.find(sharedIndex_); it != shared_.end()) {
      cell_.formula = ShiftFormula(it->second.text, cell_.row - it->second.row, cell_.col - it->second.col);
    }
    sharedIndex_ = -1;
  }

  std::string part_;
  int rowLimit_;
  std::function<void(Cell&)> onCell_;
  bool inData_ = false, inCell_ = false, inV_ = false, inF_ = false, inIs_ = false;
  int row_ = -1, col_ = -1;
  Cell cell_;
  RichText rich_;
  long long sharedIndex_ = -1;
  std::map<long long, SharedAnchor> shared_;
};

// Reports the cells of one worksheet through the events.
class SheetReporter {
 public:
  SheetReporter(TXLSRead& events, const std::vector<bool>& xfIsDate, bool date1904, const std::string& sstPart)
      : events_(events), xfIsDate_(xfIsDate), date1904_(date1904), sstPart_(sstPart) {}

  // Fires the events of a cell; false once a handler asked to stop.
  bool Fire(const Cell& c, const std::vector<std::string>& strings) {
    TXLSRead& e = events_;
    if (c.hasFormula && !Trimmed(c.formula).empty() && e.OnFormulaCell) {
      e.OnFormulaCell(e, c.col, c.row, std::string(Trimmed(c.formula)));
      if (e.StopRequested()) return false;
    }
    const bool f = c.hasFormula;
    const CellType t = c.type;
    if (t == CellType::kShared) {
      long long index = 0;
      if (!ParseInt(c.value, index)) return true;
      if (index < 0 || static_cast<std::size_t>(index) >= strings.size()) {
        throw Exception("Workbook part " + sstPart_ + " has no shared string " + std::to_string(index));
      }
      const std::string& s = strings[static_cast<std::size_t>(index)];
      if (!s.empty() && e.OnStringCell) e.OnStringCell(e, c.col, c.row, -1, s, f);
    } else if (t == CellType::kStr || t == CellType::kInline) {
      const std::string s = t == CellType::kStr ? DecodeXString(c.value) : c.value;
      if (!s.empty() && e.OnStringCell) e.OnStringCell(e, c.col, c.row, -1, s, f);
    } else if (t == CellType::kBool) {
      const std::string_view v = Trimmed(c.value);
      if (!v.empty() && e.OnBoolCell) e.OnBoolCell(e, c.col, c.row, -1, v == "1" || v == "true", f);
    } else if (t == CellType::kError) {
      const std::string_view v = Trimmed(c.value);
      for (const auto& [text, code] : kErrors) {
        if (v == text) {
          if (e.OnErrorCell) e.OnErrorCell(e, c.col, c.row, -1, code, f);
          if (!e.StopRequested() && e.OnStringCell) e.OnStringCell(e, c.col, c.row, -1, TXLSRead::ErrorText(code), f);
        }
      }
    } else if (t == CellType::kDate) {
      double serial = 0;
      if (IsoDateSerial(Trimmed(c.value), date1904_, serial) && e.OnNumberCell) {
        e.OnNumberCell(e, c.col, c.row, TXLSRead::kDateFormat, serial, f);
      }
    } else {
      double v = 0;
      if (ParseNumber(c.value, v) && e.OnNumberCell) {
        const bool date = static_cast<std::size_t>(c.style) < xfIsDate_.size() && xfIsDate_[c.style];
        e.OnNumberCell(e, c.col, c.row, date ? TXLSRead::kDateFormat : -1, v, f);
      }
    }
    return !e.StopRequested();
  }

 private:
  TXLSRead& events_;
  const std::vector<bool>& xfIsDate_;
  bool date1904_;
  const std::string& sstPart_;
};

const Relationship* FindRel(const std::vector<Relationship>& rels, std::string_view type) {
  for (const auto& r : rels) {
    if (r.type == type) return &r;
  }
  return nullptr;
}

}  // namespace

// ---------------------------------------------------------------------------
// Pure helpers

std::string ResolveTarget(std::string_view sourcePart, std::string_view target) {
  std::string path;
  if (!target.empty() && (target[0] == '/' || target[0] == '\\')) {
    path = std::string(target.substr(1));
  } else {
    const std::size_t slash = sourcePart.rfind('/');
    path = (slash == std::string_view::npos ? std::string() : std::string(sourcePart.substr(0, slash + 1))) +
           std::string(target);
  }
  std::replace(path.begin(), path.end(), '\\', '/');
  std::vector<std::string> segments;
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t end = std::min(path.find('/', start), path.size());
    const std::string segment = path.substr(start, end - start);
    if (segment == "..") {
      if (!segments.empty()) segments.pop_back();
    } else if (!segment.empty() && segment != ".") {
      segments.push_back(segment);
    }
    start = end + 1;
  }
  std::string out;
  for (const auto& s : segments) out += (out.empty() ? "" : "/") + s;
  return out;
}

std::string DecodeXString(std::string_view text) {
  if (text.find("_x") == std::string_view::npos) return std::string(text);
  std::string out;
  out.reserve(text.size());
  unsigned pendingHigh = 0;
  const auto put = [&](unsigned cp) {
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | cp >> 6));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | cp >> 12));
      out.push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | cp >> 18));
      out.push_back(static_cast<char>(0x80 | (cp >> 12 & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  };
  const auto flushHigh = [&] {
    if (pendingHigh) put(0xFFFD);
    pendingHigh = 0;
  };
  std::size_t i = 0;
  while (i < text.size()) {
    unsigned unit = 0;
    if (text[i] == '_' && i + 6 < text.size() + 0 && text[i + 1] == 'x' && text[i + 6] == '_' &&
        std::from_chars(text.data() + i + 2, text.data() + i + 6, unit, 16).ptr == text.data() + i + 6 &&
        std::all_of(text.begin() + static_cast<std::ptrdiff_t>(i) + 2, text.begin() + static_cast<std::ptrdiff_t>(i) + 6,
                    [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); })) {
      i += 7;
      if (unit >= 0xD800 && unit < 0xDC00) {
        flushHigh();
        pendingHigh = unit;
      } else if (unit >= 0xDC00 && unit < 0xE000) {
        if (pendingHigh) {
          put(0x10000 + ((pendingHigh - 0xD800) << 10) + (unit - 0xDC00));
          pendingHigh = 0;
        } else {
          put(0xFFFD);
        }
      } else {
        flushHigh();
        put(unit);
      }
      continue;
    }
    flushHigh();
    out.push_back(text[i++]);
  }
  flushHigh();
  return out;
}

bool IsoDateSerial(std::string_view text, bool date1904, double& serial) {
  // date ::= [-]YYYY-MM-DD [ "T" hh:mm[:ss[.fff]] ] [ "Z" | (+|-)hh:mm ]
  int y = 0, m = 0, d = 0;
  const char* p = text.data();
  const char* end = p + text.size();
  const auto number = [&](int& out, std::size_t digits) {
    if (static_cast<std::size_t>(end - p) < digits) return false;
    const auto r = std::from_chars(p, p + digits, out);
    if (r.ptr != p + digits) return false;
    p += digits;
    return true;
  };
  if (!number(y, 4) || p >= end || *p++ != '-' || !number(m, 2) || p >= end || *p++ != '-' || !number(d, 2)) {
    return false;
  }
  if (m < 1 || m > 12 || d < 1 || d > 31) return false;
  double seconds = 0;
  if (p < end && (*p == 'T' || *p == ' ')) {
    ++p;
    int hh = 0, mm = 0, ss = 0;
    if (!number(hh, 2) || p >= end || *p++ != ':' || !number(mm, 2)) return false;
    if (p < end && *p == ':') {
      ++p;
      if (!number(ss, 2)) return false;
    }
    seconds = hh * 3600.0 + mm * 60.0 + ss;
    if (p < end && (*p == '.' || *p == ',')) {
      ++p;
      double scale = 0.1;
      while (p < end && std::isdigit(static_cast<unsigned char>(*p))) {
        seconds += (*p++ - '0') * scale;
        scale /= 10;
      }
    }
  }
  if (p < end && *p == 'Z') ++p;
  if (p != end && (*p == '+' || *p == '-') && end - p == 6) p = end;  // an offset: the local time counts
  if (p != end) return false;
  long long days = platform::DaysFromCivil(y, static_cast<unsigned>(m), static_cast<unsigned>(d));
  if (date1904) {
    days -= platform::DaysFromCivil(1904, 1, 1);
  } else {
    days -= platform::DaysFromCivil(1899, 12, 30);
    if (days > 0 && days <= 60) --days;  // serial 60 is the fictitious 1900-02-29
  }
  serial = static_cast<double>(days) + seconds / 86400.0;
  return true;
}

bool IsDateFormatCode(std::string_view code) {
  const std::string_view first = code.substr(0, code.find(';'));
  for (std::size_t i = 0; i < first.size(); ++i) {
    const char c = first[i];
    if (c == '"') {
      const std::size_t close = first.find('"', i + 1);
      if (close == std::string_view::npos) return false;
      i = close;
    } else if (c == '\\' || c == '_' || c == '*') {
      ++i;  // an escaped, spacing or fill character
    } else if (c == '[') {
      const std::size_t close = first.find(']', i + 1);
      if (close == std::string_view::npos) return false;
      const std::string_view inside = first.substr(i + 1, close - i - 1);
      // [h], [mm], [ss] are elapsed time; [Red], [<10], [$-409] are not.
      if (!inside.empty() && inside.find_first_not_of("hHmMsS") == std::string_view::npos) return true;
      i = close;
    } else if (std::string_view("dmyhsDMYHS").find(c) != std::string_view::npos) {
      return true;
    }
  }
  return false;
}

bool NamesWorkbookPart(ZipArchive& zip) { return !WorkbookPartFromContentTypes(zip).empty(); }

void ReadXlsxPackage(TXLSRead& events, ZipArchive& zip, const ReadLimits& limits) {
  events.BeginEventRead();
  // The workbook part: the package's officeDocument relationship, else the
  // part [Content_Types].xml names.
  std::string workbookPart;
  const std::vector<Relationship> packageRels = ReadRelationships(zip, "");
  if (const Relationship* r = FindRel(packageRels, kRelOfficeDocument); r && zip.Find(r->target)) {
    workbookPart = r->target;
  } else {
    workbookPart = WorkbookPartFromContentTypes(zip);
  }
  const Entry* workbookEntry = zip.Find(workbookPart);
  if (!workbookEntry) throw Exception("Workbook part " + workbookPart + " is missing");
  WorkbookPart workbook(workbookPart);
  ParseEntry(zip, *workbookEntry, workbook);
  const std::vector<Relationship> rels = ReadRelationships(zip, workbookPart);

  std::vector<bool> xfIsDate;
  if (const Relationship* r = FindRel(rels, kRelStyles)) {
    if (const Entry* e = zip.Find(r->target)) {
      StylesPart styles(e->name);
      ParseEntry(zip, *e, styles);
      xfIsDate = std::move(styles.xfIsDate);
    }
  }
  const Relationship* sstRel = FindRel(rels, kRelSharedStrings);
  const Entry* sstEntry = sstRel ? zip.Find(sstRel->target) : nullptr;
  const std::string sstPart = sstEntry ? sstEntry->name : std::string("sharedStrings");
  std::vector<std::string> strings;
  bool stringsRead = false;
  const auto readStrings = [&](long long upTo) {
    if (!sstEntry || stringsRead || (upTo >= 0 && upTo < static_cast<long long>(strings.size()))) return;
    SharedStringsPart part(sstEntry->name, upTo);
    ParseEntry(zip, *sstEntry, part);
    strings = std::move(part.strings);
    stringsRead = upTo < 0;
  };
  SheetReporter reporter(events, xfIsDate, workbook.date1904, sstPart);

  int index = 0;
  for (const SheetInfo& sheet : workbook.sheets) {
    const auto rel = std::find_if(rels.begin(), rels.end(), [&](const Relationship& r) { return r.id == sheet.relId; });
    // Chart sheets, dialog and macro sheets are not worksheets.
    if (rel == rels.end() || rel->type != kRelWorksheet) continue;
    bool readIt = index == 0;
    if (events.OnSheet) events.OnSheet(events, sheet.name, index, readIt);
    ++index;
    if (events.StopRequested()) return;
    if (!readIt) continue;
    const Entry* entry = zip.Find(rel->target);
    if (!entry) throw Exception("Workbook part " + rel->target + " is missing");
    if (limits.rowLimit > 0) {
      // The first rows only: gather them, then read the shared strings
      // they use, then report them.
      std::vector<Cell> cells;
      long long highest = -1;
      WorksheetPart part(entry->name, limits.rowLimit, [&](Cell& c) {
        if (cells.size() >= static_cast<std::size_t>(kMaxColumns) * static_cast<std::size_t>(limits.rowLimit)) {
          throw Exception("Workbook part " + entry->name + " has a row of more than 16384 columns");
        }
        long long s = 0;
        if (c.type == CellType::kShared && ParseInt(c.value, s)) highest = std::max(highest, s);
        cells.push_back(std::move(c));
      });
      ParseEntry(zip, *entry, part);
      if (highest >= 0) readStrings(highest);
      for (const Cell& c : cells) {
        if (!reporter.Fire(c, strings)) return;
      }
      return;
    }
    readStrings(-1);
    WorksheetPart part(entry->name, 0, [&](Cell& c) {
      if (!reporter.Fire(c, strings)) part.Stop();
    });
    ParseEntry(zip, *entry, part);
    if (events.StopRequested()) return;
  }
}

}  // namespace workbook
