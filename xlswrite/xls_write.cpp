#include "xlswrite/xls_write.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <strings.h>

#include "platform/codepage.h"
#include "platform/compound_file_writer.h"
#include "xls/biff_records.h"
#include "xls/xls_formats.h"

namespace {

using namespace biff;

constexpr int kExternNamesSize = 256;  // room a sheet keeps for its external-name records
constexpr int kMaxRows = 16384;
constexpr int kMaxCols = 256;

// WINDOW1 of the globals (and of each sheet's end): position 120,120, size
// 23820 x 15720 twips, options 0x0038, first sheet 0, first visible 0, one
// selected sheet, tab bar width 600.
constexpr std::uint16_t kWindow1Values[9] = {120, 120, 23820, 15720, 0x0038, 0, 0, 1, 600};

// PALETTE of BIFF5 workbooks: colour indexes 8..63, red, green, blue.
constexpr std::uint32_t kPaletteColours[56] = {
    0x000000, 0xFFFFFF, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00, 0xFF00FF, 0x00FFFF, 0x800000, 0x008000,
    0x000080, 0x808000, 0x800080, 0x008080, 0xC0C0C0, 0x808080, 0x9999FF, 0x993366, 0xFFFFCC, 0xCCFFFF,
    0x660066, 0xFF8080, 0x0066CC, 0xCCCCFF, 0x000080, 0xFF00FF, 0xFFFF00, 0x00FFFF, 0x800080, 0x800000,
    0x008080, 0x0000FF, 0x00CCFF, 0xCCFFFF, 0xCCFFCC, 0xFFFF99, 0x99CCFF, 0xFF99CC, 0xCC99FF, 0xE3E3E3,
    0x3366FF, 0x33CCCC, 0x99CC00, 0xFFCC00, 0xFF9900, 0xFF6600, 0x666699, 0x969696, 0x003366, 0x339966,
    0x003300, 0x333300, 0x993300, 0x993366, 0x333399, 0x333333};

// The system settings the number formats follow. This platform has no
// regional settings of its own: dates and times are written as everywhere
// else in the program (YYYY-MM-DD, hh:mm:ss), currency as "$" before the
// number with negative amounts in parentheses.
constexpr const char* kCurrencySymbol = "$";
constexpr int kCurrencyFormat = 0;     // 0 "$1", 1 "1$", 2 "$ 1", 3 "1 $"
constexpr int kNegCurrFormat = 0;      // one of the 16 patterns below
constexpr const char* kShortDateFormat = "yyyy-mm-dd";
constexpr const char* kShortTimeFormat = "hh:mm:ss";

// Currency format code: S stands for the (quoted) symbol, N for the number.
std::string CurrencyFormat(const std::string& number) {
  static const char* const kPositive[4] = {"SN", "NS", "S N", "N S"};
  static const char* const kNegative[16] = {"(SN)", "-SN",  "S-N",   "SN-",  "(NS)",  "-NS",   "N-S",    "NS-",
                                            "-N S", "-S N", "N S-",  "S N-", "S -N",  "N- S",  "(S N)",  "(N S)"};
  auto expand = [&](const char* pattern) {
    std::string out;
    for (const char* p = pattern; *p != '\0'; ++p) {
      if (*p == 'S') out += std::string("\"") + kCurrencySymbol + "\"";
      else if (*p == 'N') out += number;
      else out += *p;
    }
    return out;
  };
  return expand(kPositive[kCurrencyFormat]) + ";" + expand(kNegative[kNegCurrFormat]);
}

// The position of a colour value in the colour map: its colour index.
int ColourIndex(TExcelColor colour) {
  const auto map = xls::ColourMap();
  for (std::size_t k = 0; k < map.size(); ++k)
    if (map[k] == colour) return static_cast<int>(k);
  return 64;
}

std::string CellName(int col, int row) {
  char text[48];
  std::snprintf(text, sizeof text, "Cell R%d,C%d: ", row, col);
  return text;
}

}  // namespace

const std::vector<std::string>& TXLSWrite::VersionNames() {
  static const std::vector<std::string> names = {"Excel 4.0", "Excel 5.0/95", "Excel 97"};
  return names;
}

void TXLSWrite::UsedRange::Add(int col, int row) {
  if (firstRow < 0) {
    firstRow = lastRow = row;
    firstCol = lastCol = col;
    return;
  }
  firstRow = std::min(firstRow, row);
  lastRow = std::max(lastRow, row);
  firstCol = std::min(firstCol, col);
  lastCol = std::max(lastCol, col);
}

TXLSWrite::TXLSWrite() {
  // Sheets by name (BIFF5 only: a BIFF4 worksheet has no 3D references).
  encoder_.OnSheet = [this](const std::string& name) {
    if (version_ != xls50) return -1;
    for (std::size_t i = 0; i < Sheets.size(); ++i) {
      if (strcasecmp(Sheets[i].c_str(), name.c_str()) == 0) return static_cast<int>(i);
    }
    return -1;
  };
  // Defined names and external functions are collected as formulas use
  // them; their NAME and EXTERNNAME records are written when the workbook
  // globals and the sheet are complete.
  encoder_.OnDefinedName = [this](const std::string& name) {
    if (version_ != xls50) return -1;
    ToCodepage(name, "Name ");
    for (std::size_t i = 0; i < names_.size(); ++i) {
      if (strcasecmp(names_[i].c_str(), name.c_str()) == 0) return static_cast<int>(i + 1);
    }
    if (name.size() > 255) return -1;
    names_.push_back(name);
    return static_cast<int>(names_.size());
  };
  encoder_.OnExternalFunction = [this](const std::string& name) {
    const std::string bytes = ToCodepage(name, "Function ");
    for (std::size_t i = 0; i < externNames_.size(); ++i) {
      if (strcasecmp(externNames_[i].c_str(), bytes.c_str()) == 0) return static_cast<int>(i);
    }
    int size = 6;  // EXTERNSHEET of the add-in functions
    for (const auto& n : externNames_) size += 4 + 11 + static_cast<int>(n.size());
    if (bytes.size() > 255 || size + 4 + 11 + static_cast<int>(bytes.size()) > kExternNamesSize) {
      throw Exception("Too many external names defined");
    }
    externNames_.push_back(bytes);
    return static_cast<int>(externNames_.size() - 1);
  };
}

TXLSWrite::~TXLSWrite() {
  try {
    CloseFile();
  } catch (...) {
    // A destructor cannot report; CloseFile has removed a file it could not write.
  }
}

void TXLSWrite::SetXLSVersion(TXLSVersion version) {
  if (open_) throw Exception("Version can not be changed while file is open");
  if (version == xls97) throw Exception("Excel 97 files not supported yet");
  version_ = version;
  versionCode_ = version == xls40 ? kVersionBiff4 : kVersionBiff5Plain;
}

const TExcelFont& TXLSWrite::FontList(int Index) const {
  if (Index < 0 || Index >= static_cast<int>(fonts_.size())) throw Exception("Font index out of range");
  return fonts_[static_cast<std::size_t>(Index)];
}

std::string TXLSWrite::ToCodepage(const std::string& text, const std::string& what) const {
  std::string bytes, bad;
  if (!platform::Utf8ToCp1252(text, bytes, bad)) {
    throw Exception(what + "\"" + text + "\": Character \"" + bad + "\" is not in code page 1252");
  }
  return bytes;
}

// ---- record writer

void TXLSWrite::WriteRecord(std::uint16_t id, int length) {
  if (OnWriteData) OnWriteData(*this, id, length, buf_);
  if (length < 0 || length > MaxRecordSize) {
    throw Exception("Data size to large, max " + std::to_string(MaxRecordSize) + " bytes");
  }
  const std::uint8_t header[4] = {static_cast<std::uint8_t>(id), static_cast<std::uint8_t>(id >> 8),
                                  static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8)};
  stream_.insert(stream_.end(), header, header + 4);
  stream_.insert(stream_.end(), buf_, buf_ + length);
}

void TXLSWrite::WriteRecord16(std::uint16_t id, std::uint16_t value) {
  Put16(0, value);
  WriteRecord(id, 2);
}

void TXLSWrite::WriteBytes(std::uint16_t id, std::initializer_list<std::uint8_t> body) {
  std::copy(body.begin(), body.end(), buf_);
  WriteRecord(id, static_cast<int>(body.size()));
}

void TXLSWrite::Put16(int at, unsigned value) {
  buf_[at] = static_cast<std::uint8_t>(value);
  buf_[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

void TXLSWrite::Put32(int at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) buf_[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

static void Patch16(std::vector<std::uint8_t>& s, std::size_t at, unsigned value) {
  s[at] = static_cast<std::uint8_t>(value);
  s[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

// ---- opening

void TXLSWrite::OpenFile() {
  used_ = {};
  if (open_) throw Exception("File is allready open");
  if (FileName.find_first_not_of(" \t") == std::string::npos) throw Exception("Filename is missing");
  if (version_ == xls50 && Sheets.empty()) throw Exception("Sheet index out of range");
  sheetNames_.clear();
  for (const auto& name : Sheets) {
    std::string bytes = ToCodepage(name, "Sheet name ");
    if (bytes.empty() || bytes.size() > 31) throw Exception("Sheet name \"" + name + "\" must have 1 to 31 characters");
    for (const auto& other : sheetNames_) {
      if (strcasecmp(other.c_str(), bytes.c_str()) == 0) throw Exception("Sheet name \"" + name + "\" is used twice");
    }
    sheetNames_.push_back(std::move(bytes));
  }
  fonts_.clear();
  for (const auto& format : Formats) {
    if (std::find(fonts_.begin(), fonts_.end(), format.Font) == fonts_.end()) fonts_.push_back(format.Font);
  }
  std::vector<std::string> fontNames;
  for (const auto& f : fonts_) fontNames.push_back(ToCodepage(f.Name, "Font name "));
  ToCodepage(Font.Name, "Font name ");

  file_ = std::make_unique<platform::OutputFile>(FileName);
  stream_.clear();
  stream_.reserve(1 << 16);
  std::memset(buf_, 0, sizeof buf_);
  names_.clear();
  externNames_.clear();
  boundSheetPos_.clear();
  sheet_ = 0;
  firstSheet_ = true;
  open_ = true;
  try {
    if (version_ == xls40) OpenBiff4();
    else OpenBiff5();
  } catch (...) {
    open_ = false;
    file_.reset();
    throw;
  }
}

// A single-sheet BIFF4 worksheet: BOF, CODEPAGE, the XF records, DIMENSIONS;
// cells follow.
void TXLSWrite::OpenBiff4() {
  WriteBytes(kBof4, {0x00, 0x04, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00});
  // The code page of the texts, as in BIFF5: without it readers guess.
  WriteRecord16(kCodepage, 1252);
  // 15 style XFs, the cell XF, five XFs of the built-in number styles.
  WriteBytes(kXf4, {0x00, 0x00, 0xF5, 0xFF, 0x20, 0x00, 0x00, 0xCE, 0x00, 0x00, 0x00, 0x00});
  for (std::uint8_t font : {1, 1, 2, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}) {
    WriteBytes(kXf4, {font, 0x00, 0xF5, 0xFF, 0x20, 0xF4, 0x00, 0xCE, 0x00, 0x00, 0x00, 0x00});
  }
  WriteBytes(kXf4, {0x00, 0x00, 0x01, 0x00, 0x20, 0x00, 0x00, 0xCE, 0x00, 0x00, 0x00, 0x00});
  for (std::uint8_t fmt : {0x08, 0x06, 0x0C, 0x0A, 0x0D}) {
    WriteBytes(kXf4, {0x05, fmt, 0xF5, 0xFF, 0x20, 0xF8, 0x00, 0xCE, 0x00, 0x00, 0x00, 0x00});
  }
  dimensionsPos_ = stream_.size();
  std::memset(buf_, 0, 10);
  WriteRecord(kDimensions, 10);
}

void TXLSWrite::WriteFont(const TExcelFont& font) {
  const std::string name = ToCodepage(font.Name, "Font name ");
  const int n = static_cast<int>(std::min<std::size_t>(name.size(), 255));
  std::memset(buf_, 0, 15);
  Put16(0, static_cast<unsigned>(font.Size * 20));
  // Option flags: italic, strike-out, and the bold bit that repeats the weight.
  Put16(2, ((font.Style & xfsBold) ? 0x01u : 0u) | ((font.Style & xfsItalic) ? 0x02u : 0u) |
               ((font.Style & xfsStrikeOut) ? 0x08u : 0u));
  Put16(4, static_cast<unsigned>(ColourIndex(font.Color)));
  Put16(6, (font.Style & xfsBold) ? 700 : 400);
  buf_[10] = static_cast<std::uint8_t>(font.Underline);
  buf_[12] = font.Charset;
  buf_[14] = static_cast<std::uint8_t>(n);
  std::memcpy(buf_ + 15, name.data(), static_cast<std::size_t>(n));
  WriteRecord(kFont, 15 + n);
}

// A user cell format as a BIFF5 XF record: the cell XF with the format's
// font, number format, alignment, fill, borders and protection, and the
// used-attribute flags set for all of them, so that readers take the XF's
// own attributes instead of its parent style's.
void TXLSWrite::WriteUserXf(const TCellFormat& format) {
  static const std::uint8_t kCellXf[16] = {0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x20, 0x00,
                                           0xC0, 0x20, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  std::memcpy(buf_, kCellXf, 16);
  const auto fontIndex = std::find(fonts_.begin(), fonts_.end(), format.Font) - fonts_.begin();
  Put16(0, static_cast<unsigned>(fontIndex + 7));
  if (format.TextFormat != tfGeneral) Put16(2, static_cast<unsigned>(format.TextFormat) + 0x31);
  Put16(4, ((format.Protection & cpLocked) ? 0x01u : 0u) | ((format.Protection & cpHidden) ? 0x02u : 0u));
  // Vertical alignment codes of the file: 0 top, 1 centre, 2 bottom, 3 justify.
  static const std::uint8_t kVertical[4] = {2, 0, 1, 3};  // cvaBottom, cvaTop, cvaCenter, cvaJustify
  buf_[6] = static_cast<std::uint8_t>(format.HorizAlignment | (format.WrapText ? 0x08 : 0) |
                                      (kVertical[format.VertAlignment & 3] << 4));
  buf_[7] = 0xFC;  // number format, font, alignment, border, pattern and protection used
  // Fill: foreground colour (bits 0-6), background 65 (bits 7-13), pattern
  // (bits 16-21), bottom line style (22-24) and colour (25-31).
  std::uint32_t fill = 0x41u << 7;
  const int colour = ColourIndex(format.CellColor);
  if (colour != 64) fill |= static_cast<std::uint32_t>(colour) | (1u << 16);
  else fill |= 64u;
  // Thin lines (style 1) of the automatic colour 64.
  if (format.Border & cbBottom) fill |= (1u << 22) | (64u << 25);
  Put32(8, fill);
  std::uint32_t border = 0;
  if (format.Border & cbTop) border |= 1u | (64u << 9);
  if (format.Border & cbLeft) border |= (1u << 3) | (64u << 16);
  if (format.Border & cbRight) border |= (1u << 6) | (64u << 23);
  Put32(12, border);
  WriteRecord(kXf, 16);
}

// The workbook globals of a BIFF5 workbook, then the first sheet.
void TXLSWrite::OpenBiff5() {
  WriteBytes(kBof5, {0x00, 0x05, 0x05, 0x00, 0xBB, 0x0D, 0xCE, 0x07});
  std::memset(buf_, ' ', 32);
  buf_[0] = 0;
  WriteRecord(kWriteAccess, 32);
  WriteRecord16(kCodepage, 1252);
  WriteRecord16(kFnGroupCount, 14);
  // The workbook's own sheets by name (type 3: a sheet of this workbook).
  WriteRecord16(kExternCount, static_cast<std::uint16_t>(sheetNames_.size()));
  for (const auto& name : sheetNames_) {
    const int n = static_cast<int>(std::min<std::size_t>(name.size(), 254));
    buf_[0] = static_cast<std::uint8_t>(n + 1);
    buf_[1] = 0x03;
    std::memcpy(buf_ + 2, name.data(), static_cast<std::size_t>(n));
    WriteRecord(kExternSheet, n + 2);
  }
  namesPos_ = stream_.size();  // NAME records are inserted here at CloseFile
  WriteRecord16(kWindowProtect, 0);
  WriteRecord16(kProtect, (Options & soProtected) ? 1 : 0);
  WriteRecord16(kPassword, 0);
  for (int i = 0; i < 9; ++i) Put16(2 * i, kWindow1Values[i]);
  WriteRecord(kWindow1, 18);
  WriteRecord16(kBackup, 0);
  WriteRecord16(kHideObj, 0);
  WriteRecord16(kDate1904, 0);
  WriteRecord16(kPrecision, 1);
  WriteRecord16(kRefreshAll, 0);
  WriteRecord16(kBookBool, 0);

  const std::string formats[9] = {"0.00", "#,##0", "#,##0.00", "0.00%", CurrencyFormat("#,##0"),
                                  CurrencyFormat("#,##0.00"), kShortDateFormat, kShortTimeFormat, "@"};
  for (int i = 0; i < 9; ++i) {
    const std::string text = ToCodepage(formats[i], "Format ");
    Put16(0, static_cast<unsigned>(0x32 + i));
    buf_[2] = static_cast<std::uint8_t>(text.size());
    std::memcpy(buf_ + 3, text.data(), text.size());
    WriteRecord(kFormat, 3 + static_cast<int>(text.size()));
  }

  // 15 style XFs and the default cell XF 15.
  auto xf = [&](std::uint8_t font, std::uint8_t used, std::uint8_t type) {
    const std::uint8_t body[16] = {font, 0x00, 0x00, 0x00, type, 0xFF, 0x20, used,
                                   0xC0, 0x20, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    std::memcpy(buf_, body, 16);
    if (type == 0x01) buf_[5] = 0x00;
    WriteRecord(kXf, 16);
  };
  xf(0, 0x00, 0xF5);
  for (std::uint8_t font : {1, 1, 2, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}) xf(font, 0xF4, 0xF5);
  xf(0, 0x00, 0x01);
  for (const auto& format : Formats) WriteUserXf(format);

  for (int i = 0; i < 6; ++i) WriteFont(Font);
  for (const auto& font : fonts_) WriteFont(font);

  WriteBytes(kStyle, {0x10, 0x80, 0x03, 0xFF});  // Comma
  WriteBytes(kStyle, {0x11, 0x80, 0x06, 0xFF});  // Comma [0]
  WriteBytes(kStyle, {0x12, 0x80, 0x04, 0xFF});  // Currency
  WriteBytes(kStyle, {0x13, 0x80, 0x07, 0xFF});  // Currency [0]
  WriteBytes(kStyle, {0x00, 0x80, 0x00, 0xFF});  // Normal
  WriteBytes(kStyle, {0x14, 0x80, 0x05, 0xFF});  // Percent

  Put16(0, 56);
  for (int i = 0; i < 56; ++i) {
    buf_[2 + 4 * i] = static_cast<std::uint8_t>(kPaletteColours[i] >> 16);
    buf_[3 + 4 * i] = static_cast<std::uint8_t>(kPaletteColours[i] >> 8);
    buf_[4 + 4 * i] = static_cast<std::uint8_t>(kPaletteColours[i]);
    buf_[5 + 4 * i] = 0;
  }
  WriteRecord(kPalette, 2 + 4 * 56);

  // BOUNDSHEET: the sheet's BOF offset is filled in when the sheet starts.
  for (const auto& name : sheetNames_) {
    boundSheetPos_.push_back(stream_.size());
    Put32(0, 0);
    Put16(4, 0);
    buf_[6] = static_cast<std::uint8_t>(name.size());
    std::memcpy(buf_ + 7, name.data(), name.size());
    WriteRecord(kBoundSheet, 7 + static_cast<int>(name.size()));
  }
  NextSheet();
}

// ---- sheets

void TXLSWrite::NextSheet() {
  if (!open_) throw Exception("Call to NextSheet without OpenFile");
  if (version_ != xls50 || sheet_ >= static_cast<int>(sheetNames_.size())) throw Exception("Sheet index out of range");
  if (firstSheet_) {
    WriteRecord(kEof, 0);  // end of the globals
    firstSheet_ = false;
  } else {
    EndSheet();
  }
  StartSheet();
}

void TXLSWrite::StartSheet() {
  Patch16(stream_, boundSheetPos_[static_cast<std::size_t>(sheet_)] + 4, static_cast<unsigned>(stream_.size()));
  Patch16(stream_, boundSheetPos_[static_cast<std::size_t>(sheet_)] + 6, static_cast<unsigned>(stream_.size() >> 16));
  ++sheet_;
  used_ = {};
  externNames_.clear();

  WriteBytes(kBof5, {0x00, 0x05, 0x10, 0x00, 0xBB, 0x0D, 0xCE, 0x07});
  WriteRecord16(kUncalced, 0);
  WriteRecord16(kCalcMode, 1);
  WriteRecord16(kCalcCount, 100);
  WriteRecord16(kRefMode, 1);
  WriteRecord16(kIteration, 0);
  const double delta = 0.001;
  std::memcpy(buf_, &delta, 8);
  WriteRecord(kDelta, 8);
  WriteRecord16(kSaveRecalc, 1);
  WriteRecord16(kPrintHeaders, 0);
  WriteRecord16(kPrintGridlines, 0);
  WriteRecord16(kGridSet, 1);
  std::memset(buf_, 0, 8);
  WriteRecord(kGuts, 8);
  WriteBytes(kDefaultRowHeight, {0x00, 0x00, 0xFF, 0x00});
  WriteBytes(kCountry, {0x01, 0x00, 0x01, 0x00});
  WriteRecord16(kWsBool, 0x04C1);
  WriteRecord(kHeader, 0);
  WriteRecord(kFooter, 0);
  WriteRecord16(kHCenter, 0);
  WriteRecord16(kVCenter, 0);
  std::memset(buf_, 0, 34);
  const std::uint16_t setup[8] = {0, 46, 1, 1, 1, 4, 0xCA52, 18};
  for (int i = 0; i < 8; ++i) Put16(2 * i, setup[i]);
  WriteRecord(kSetup, 34);

  // The sheet's link table lists every sheet of the workbook, so that a 3D
  // reference's link index -(n + 1) names sheet n for every reader. The
  // add-in entry and the external names of the sheet's formulas are
  // inserted behind it when the sheet ends.
  externCountPos_ = stream_.size();
  WriteRecord16(kExternCount, static_cast<std::uint16_t>(sheetNames_.size()));
  for (const auto& name : sheetNames_) {
    buf_[0] = static_cast<std::uint8_t>(name.size() + 1);
    buf_[1] = 0x03;
    std::memcpy(buf_ + 2, name.data(), name.size());
    WriteRecord(kExternSheet, 2 + static_cast<int>(name.size()));
  }
  externNamesPos_ = stream_.size();

  WriteRecord16(kDefColWidth, 8);
  dimensionsPos_ = stream_.size();
  std::memset(buf_, 0, 10);
  WriteRecord(kDimensions, 10);
}

// DIMENSIONS: first row, last row + 1, first column, last column + 1.
void TXLSWrite::WriteDimensions(std::size_t at, const UsedRange& range) {
  if (range.firstRow < 0) return;
  Patch16(stream_, at + 4, static_cast<unsigned>(range.firstRow));
  Patch16(stream_, at + 6, static_cast<unsigned>(range.lastRow + 1));
  Patch16(stream_, at + 8, static_cast<unsigned>(range.firstCol));
  Patch16(stream_, at + 10, static_cast<unsigned>(range.lastCol + 1));
}

void TXLSWrite::EndSheet() {
  const bool first = sheet_ == 1;
  for (int i = 0; i < 9; ++i) Put16(2 * i, kWindow1Values[i]);
  WriteRecord(kWindow1, 18);
  std::memset(buf_, 0, 18);
  Put16(0, 0x04B0u | (first ? 0x0200u : 0u) | ((Options & soGridlines) ? 0x0002u : 0u) |
               ((Options & soRowColHeadings) ? 0x0004u : 0u));
  WriteRecord(kWindow2, 18);
  WriteBytes(kSelection, {3, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0});
  WriteDimensions(dimensionsPos_, used_);
  InsertExternNames();
  WriteRecord(kEof, 0);
}

// The add-in entry of the link table (EXTERNSHEET 01 3A) and one EXTERNNAME
// per external function the sheet's formulas call.
void TXLSWrite::InsertExternNames() {
  if (externNames_.empty()) return;
  std::vector<std::uint8_t> records = {0x17, 0x00, 0x02, 0x00, 0x01, 0x3A};
  for (const auto& name : externNames_) {
    const auto length = static_cast<std::uint8_t>(7 + name.size() + 4);
    records.insert(records.end(), {0x23, 0x00, length, 0x00, 0, 0, 0, 0, 0, 0, static_cast<std::uint8_t>(name.size())});
    records.insert(records.end(), name.begin(), name.end());
    records.insert(records.end(), {0x02, 0x00, 0x1C, biff::kErrRef});  // definition: #REF!
  }
  Patch16(stream_, externCountPos_ + 4, static_cast<unsigned>(sheetNames_.size() + 1));
  stream_.insert(stream_.begin() + static_cast<std::ptrdiff_t>(externNamesPos_), records.begin(), records.end());
  externNames_.clear();
}

// NAME records of the defined names the formulas used (no definition),
// inserted into the globals behind the link table; the BOUNDSHEET offsets
// move with everything behind them.
void TXLSWrite::InsertNames() {
  if (names_.empty()) return;
  std::vector<std::uint8_t> records;
  for (const auto& utf8 : names_) {
    const std::string name = ToCodepage(utf8, "Name ");
    const auto length = static_cast<std::uint8_t>(14 + name.size());
    records.insert(records.end(), {0x18, 0x00, length, 0x00, 0x00, 0x00, 0x00, static_cast<std::uint8_t>(name.size()),
                                   0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    records.insert(records.end(), name.begin(), name.end());
  }
  const std::size_t delta = records.size();
  stream_.insert(stream_.begin() + static_cast<std::ptrdiff_t>(namesPos_), records.begin(), records.end());
  for (auto& pos : boundSheetPos_) {
    pos += delta;
    const std::uint32_t offset = static_cast<std::uint32_t>(stream_[pos + 4] | (stream_[pos + 5] << 8) |
                                                            (stream_[pos + 6] << 16) | (stream_[pos + 7] << 24)) +
                                 static_cast<std::uint32_t>(delta);
    Patch16(stream_, pos + 4, offset & 0xFFFF);
    Patch16(stream_, pos + 6, offset >> 16);
  }
}

void TXLSWrite::CloseFile() {
  if (!open_) return;
  try {
    if (version_ == xls40) {
      const std::uint8_t window1[10] = {0x78, 0x00, 0x2D, 0x00, 0x32, 0x19, 0xBD, 0x15, 0x00, 0x00};
      std::memcpy(buf_, window1, 10);
      WriteRecord(kWindow1, 10);
      std::memset(buf_, 0, 10);
      Put16(0, 0x00B0u | ((Options & soGridlines) ? 0x0002u : 0u) | ((Options & soRowColHeadings) ? 0x0004u : 0u));
      WriteRecord(kWindow2, 10);
      WriteRecord(kEof, 0);
      WriteDimensions(dimensionsPos_, used_);
    } else {
      while (sheet_ < static_cast<int>(sheetNames_.size())) NextSheet();
      EndSheet();
      InsertNames();
    }
  } catch (...) {
    open_ = false;
    file_.reset();  // removes the file
    throw;
  }
  open_ = false;
  std::unique_ptr<platform::OutputFile> file = std::move(file_);
  if (version_ == xls40) {
    file->Commit(stream_);
  } else {
    platform::CompoundFileWriter cfb;
    cfb.AddStream("Book", std::move(stream_));
    file->Commit(cfb.Build());
  }
  stream_ = {};
}

// ---- cells

void TXLSWrite::CheckCell(int col, int row, int formatIndex) {
  if (!open_) throw Exception("Can not write cells when file is closed");
  if (col < 0 || col >= kMaxCols || row < 0 || row >= kMaxRows) {
    throw Exception(CellName(col, row) + "Cell outside the sheet (rows 0 to 16383, columns 0 to 255)");
  }
  if (formatIndex < -1 || formatIndex >= static_cast<int>(Formats.size())) {
    throw Exception(CellName(col, row) + "Format index " + std::to_string(formatIndex) + " out of range");
  }
}

std::uint16_t TXLSWrite::CellXf(int formatIndex) const {
  if (version_ == xls40) return 0;
  return static_cast<std::uint16_t>(formatIndex < 0 ? 15 : 16 + formatIndex);
}

void TXLSWrite::WriteNumber(int Col, int Row, double Value, int FormatIndex) {
  CheckCell(Col, Row, FormatIndex);
  Put16(0, static_cast<unsigned>(Row));
  Put16(2, static_cast<unsigned>(Col));
  Put16(4, CellXf(FormatIndex));
  std::memcpy(buf_ + 6, &Value, 8);
  WriteRecord(kNumber, 14);
  used_.Add(Col, Row);
}

void TXLSWrite::WriteString(int Col, int Row, const std::string& Text, int FormatIndex) {
  CheckCell(Col, Row, FormatIndex);
  std::string bytes, bad;
  if (!platform::Utf8ToCp1252(Text, bytes, bad)) {
    throw Exception(CellName(Col, Row) + "Character \"" + bad + "\" is not in code page 1252");
  }
  if (bytes.size() > 255) throw Exception(CellName(Col, Row) + "String length more than 255 bytes");
  Put16(0, static_cast<unsigned>(Row));
  Put16(2, static_cast<unsigned>(Col));
  Put16(4, CellXf(FormatIndex));
  Put16(6, static_cast<unsigned>(bytes.size()));
  std::memcpy(buf_ + 8, bytes.data(), bytes.size());
  WriteRecord(kLabel, 8 + static_cast<int>(bytes.size()));
  used_.Add(Col, Row);
}

void TXLSWrite::WriteBoolean(int Col, int Row, bool Value, int FormatIndex) {
  CheckCell(Col, Row, FormatIndex);
  Put16(0, static_cast<unsigned>(Row));
  Put16(2, static_cast<unsigned>(Col));
  Put16(4, CellXf(FormatIndex));
  buf_[6] = Value ? 1 : 0;
  buf_[7] = 0;
  WriteRecord(kBoolErr, 8);
  used_.Add(Col, Row);
}

// FORMULA: row, column, XF, a cached result (a text, given by the STRING
// record that follows), the recalculation flag and the tokens; BIFF5 has 4
// more bytes before the token count.
void TXLSWrite::WriteFormula(int Col, int Row, const std::string& Formula, int FormatIndex) {
  CheckCell(Col, Row, FormatIndex);
  const bool biff4 = version_ == xls40;
  const int tokensAt = biff4 ? 18 : 22;
  encoder_.VersionCode = versionCode_;
  encoder_.FuncArgSeparator = FuncArgSeparator;
  encoder_.StrTRUE = StrTRUE;
  encoder_.StrFALSE = StrFALSE;
  encoder_.AddInLinkIndex = static_cast<int>(sheetNames_.size()) + 1;
  const std::size_t namesBefore = names_.size(), externBefore = externNames_.size();
  int size = 0;
  try {
    size = encoder_.Encode(Formula, buf_ + tokensAt, MaxRecordSize - tokensAt);
  } catch (...) {
    // A refused formula leaves no names behind.
    names_.resize(namesBefore);
    externNames_.resize(externBefore);
    throw;
  }
  if (size <= 0) return;
  Put16(0, static_cast<unsigned>(Row));
  Put16(2, static_cast<unsigned>(Col));
  Put16(4, CellXf(FormatIndex));
  static const std::uint8_t kResult[8] = {0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
  std::memcpy(buf_ + 6, kResult, 8);
  Put16(14, RecalcFormulas ? 0x0002 : 0);
  if (!biff4) Put32(16, 0);
  Put16(tokensAt - 2, static_cast<unsigned>(size));
  WriteRecord(biff4 ? kFormula4 : kFormula, tokensAt + size);
  WriteBytes(kString, {0x01, 0x00, 0x58});
  used_.Add(Col, Row);
}
