#include "xlswrite/xls_write.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>

#include "platform/compound_file.h"
#include "support/test_support.h"
#include "xls/biff_records.h"

namespace {
using testing_support::FromHex;
using testing_support::Hex;
using testing_support::ReadBytes;
using testing_support::TempDir;
using Bytes = std::vector<std::uint8_t>;

struct Record { std::uint16_t id; Bytes body; std::size_t offset; };

std::vector<Record> Records(const Bytes& s) {
  std::vector<Record> out;
  for (std::size_t p = 0; p + 4 <= s.size();) {
    const auto id = static_cast<std::uint16_t>(s[p] | s[p + 1] << 8);
    const std::size_t n = s[p + 2] | s[p + 3] << 8;
    out.push_back({id, Bytes(s.begin() + static_cast<std::ptrdiff_t>(p + 4), s.begin() + static_cast<std::ptrdiff_t>(p + 4 + n)), p});
    p += 4 + n;
  }
  return out;
}

// Writes a workbook with `write` between OpenFile and CloseFile and returns
// the file (BIFF4) or its "Book" stream (BIFF5).
Bytes Write(TXLSWrite& w, const std::function<void(TXLSWrite&)>& write = {}) {
  TempDir dir;
  w.FileName = (dir.path() / "out.xls").string();
  w.OpenFile();
  if (write) write(w);
  w.CloseFile();
  const Bytes file = ReadBytes(w.FileName);
  if (w.XLSVersion() == xls40) return file;
  return platform::CompoundFile(file).ReadStream("Book");
}

TEST(XlsWrite, Biff4FileByteForByte) {
  TXLSWrite w;
  w.SetXLSVersion(xls40);
  std::string xfs = "43 04 0C 00 00 00 F5 FF 20 00 00 CE 00 00 00 00 ";
  for (const char* font : {"01", "01", "02", "02", "00", "00", "00", "00", "00", "00", "00", "00", "00", "00"}) {
    xfs += std::string("43 04 0C 00 ") + font + " 00 F5 FF 20 F4 00 CE 00 00 00 00 ";
  }
  xfs += "43 04 0C 00 00 00 01 00 20 00 00 CE 00 00 00 00 ";
  for (const char* fmt : {"08", "06", "0C", "0A", "0D"}) {
    xfs += std::string("43 04 0C 00 05 ") + fmt + " F5 FF 20 F8 00 CE 00 00 00 00 ";
  }
  const std::string expected = "09 04 08 00 00 04 10 00 00 00 00 00 42 00 02 00 E4 04 " + xfs +
                               "00 02 0A 00 00 00 00 00 00 00 00 00 00 00 "
                               "3D 00 0A 00 78 00 2D 00 32 19 BD 15 00 00 "
                               "3E 02 0A 00 B6 00 00 00 00 00 00 00 00 00 0A 00 00 00";
  EXPECT_EQ(Hex(Write(w)), expected);

  // Cells carry XF 0; DIMENSIONS covers them; a formula is FORMULA 0x0406
  // with its STRING result.
  const auto records = Records(Write(w, [](TXLSWrite& x) {
    x.WriteNumber(3, 1, 2.5, -1);
    x.WriteFormula(0, 4, "1+2", -1);
  }));
  std::string cells;
  for (const auto& r : records) {
    if (r.id == biff::kDimensions || r.id == biff::kNumber || r.id == biff::kFormula4 || r.id == biff::kString) {
      cells += Hex(r.body) + " | ";
    }
  }
  EXPECT_EQ(cells,
            "01 00 05 00 00 00 04 00 00 00 | 01 00 03 00 00 00 00 00 00 00 00 00 04 40 | "
            "04 00 00 00 00 00 00 00 00 00 00 00 FF FF 02 00 07 00 1E 01 00 1E 02 00 03 | 01 00 58 | ");
}

TEST(XlsWrite, Biff5FixedRecords) {
  TXLSWrite w;
  w.Sheets = {"Sheet1", "Sheet2", "Data"};
  const auto records = Records(Write(w));
  auto first = [&](std::uint16_t id, int nth = 0) {
    for (const auto& r : records)
      if (r.id == id && nth-- == 0) return Hex(r.body);
    return std::string("missing");
  };
  const struct { std::uint16_t id; int nth; const char* body; } cases[] = {
      {biff::kBof5, 0, "00 05 05 00 BB 0D CE 07"},
      {biff::kWriteAccess, 0, "00 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20"},
      {biff::kCodepage, 0, "E4 04"}, {biff::kFnGroupCount, 0, "0E 00"}, {biff::kExternCount, 0, "03 00"},
      {biff::kExternSheet, 2, "05 03 44 61 74 61"},
      {biff::kWindow1, 0, "78 00 78 00 0C 5D 68 3D 38 00 00 00 00 00 01 00 58 02"}, {biff::kPrecision, 0, "01 00"},
      {biff::kFormat, 0, "32 00 04 30 2E 30 30"},
      {biff::kFormat, 5, "37 00 19 22 24 22 23 2C 23 23 30 2E 30 30 3B 28 22 24 22 23 2C 23 23 30 2E 30 30 29"},
      {biff::kFormat, 8, "3A 00 01 40"}, {biff::kXf, 0, "00 00 00 00 F5 FF 20 00 C0 20 00 00 00 00 00 00"},
      {biff::kXf, 3, "02 00 00 00 F5 FF 20 F4 C0 20 00 00 00 00 00 00"},
      {biff::kXf, 15, "00 00 00 00 01 00 20 00 C0 20 00 00 00 00 00 00"},
      {biff::kFont, 0, "C8 00 00 00 08 00 90 01 00 00 00 00 00 00 05 41 72 69 61 6C"}, {biff::kStyle, 0, "10 80 03 FF"},
      {biff::kStyle, 5, "14 80 05 FF"}, {biff::kBof5, 1, "00 05 10 00 BB 0D CE 07"},
      {biff::kDelta, 0, "FC A9 F1 D2 4D 62 50 3F"}, {biff::kDefaultRowHeight, 0, "00 00 FF 00"},
      {biff::kWsBool, 0, "C1 04"},
      {biff::kSetup, 0, "00 00 2E 00 01 00 01 00 01 00 04 00 52 CA 12 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
      {biff::kWindow2, 0, "B6 06 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
      {biff::kWindow2, 1, "B6 04 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
      {biff::kSelection, 0, "03 00 00 00 00 00 00 01 00 00 00 00 00 00 00"},
  };
  for (const auto& c : cases) EXPECT_EQ(first(c.id, c.nth), c.body) << std::hex << c.id << " #" << c.nth;
  const Bytes palette = FromHex(first(biff::kPalette));
  ASSERT_EQ(palette.size(), 2u + 4 * 56);
  EXPECT_EQ(Hex(Bytes(palette.begin(), palette.begin() + 14)), "38 00 00 00 00 00 FF FF FF 00 FF 00 00 00");
  EXPECT_EQ(Hex(Bytes(palette.end() - 4, palette.end())), "33 33 33 00");

  // Three empty sheets, each BOUNDSHEET offset pointing at its BOF.
  const Bytes stream = Write(w);
  int sheets = 0;
  for (const auto& r : Records(stream)) {
    if (r.id != biff::kBoundSheet) continue;
    ++sheets;
    const std::size_t at = r.body[0] | r.body[1] << 8 | r.body[2] << 16 | static_cast<std::size_t>(r.body[3]) << 24;
    ASSERT_LT(at + 8, stream.size());
    EXPECT_EQ(Hex(Bytes(stream.begin() + static_cast<std::ptrdiff_t>(at), stream.begin() + static_cast<std::ptrdiff_t>(at) + 8)),
              "09 08 08 00 00 05 10 00");
  }
  EXPECT_EQ(sheets, 3);
}

TEST(XlsWrite, CellsFormatsAndNames) {
  TXLSWrite w;
  w.Sheets = {"One", "Two"};
  TCellFormat f;
  f.Font.Style = xfsBold;
  f.Font.Color = static_cast<TExcelColor>(16);  // colour index 10 (red)
  f.CellColor = static_cast<TExcelColor>(27);   // colour index 11 (green)
  f.Border = cbLeft | cbTop | cbBottom, f.HorizAlignment = chaCenter, f.VertAlignment = cvaCenter;
  f.WrapText = true, f.TextFormat = tf2Dec;
  w.Formats = {f, f};  // one font for both
  const auto records = Records(Write(w, [](TXLSWrite& x) {
    x.WriteNumber(0, 0, 1, -1);
    x.WriteBoolean(1, 0, true, 0);
    x.WriteString(2, 0, "Gr\xC3\xBC\xC3\x9F" "e", 1);
    x.WriteFormula(3, 0, "Rate*2+MYFUNC(1)", -1);
    x.NextSheet();
    x.WriteNumber(5, 7, 3, -1);
  }));
  std::string out;
  int xf = 0, font = 0;
  for (const auto& r : records) {
    if (r.id == biff::kXf && xf++ == 16) out += "XF " + Hex(r.body) + "\n";
    if (r.id == biff::kFont && font++ == 6) out += "FONT " + Hex(r.body) + "\n";
    if (r.id == biff::kName || r.id == biff::kExternName || r.id == biff::kDimensions || r.id == biff::kNumber ||
        r.id == biff::kBoolErr || r.id == biff::kLabel || r.id == biff::kExternCount ||
        (r.id == biff::kExternSheet && r.body.size() == 2)) {
      out += std::to_string(r.id) + " " + Hex(r.body) + "\n";
    }
  }
  EXPECT_EQ(out,
            "22 02 00\n"  // globals: the two sheets, then NAME Rate without definition
            "24 00 00 00 04 00 00 00 00 00 00 00 00 00 00 52 61 74 65\n"
            "XF 07 00 32 00 01 00 1A FC 8B 20 41 80 09 80 40 00\n"
            "FONT C8 00 01 00 0A 00 BC 02 00 00 00 00 00 00 05 41 72 69 61 6C\n"
            "22 03 00\n"  // sheet One: the two sheets and the add-in entry
            "23 01 3A\n"
            "35 00 00 00 00 00 00 06 4D 59 46 55 4E 43 02 00 1C 17\n"
            "512 00 00 01 00 00 00 04 00 00 00\n"
            "515 00 00 00 00 0F 00 00 00 00 00 00 00 F0 3F\n"
            "517 00 00 01 00 10 00 01 00\n"
            "516 00 00 02 00 11 00 05 00 47 72 FC DF 65\n"
            "22 02 00\n"
            "512 07 00 08 00 05 00 06 00 00 00\n"
            "515 07 00 05 00 0F 00 00 00 00 00 00 00 08 40\n");
}

TEST(XlsWrite, Refusals) {
  TempDir dir;
  const std::string file = (dir.path() / "x.xls").string();
  auto open = [&](TXLSWrite& w) {
    w.FileName = file;
    w.OpenFile();
  };
  const struct {
    std::function<void(TXLSWrite&)> action;
    std::string message;
  } cases[] = {
      {[&](TXLSWrite& w) { open(w); w.SetXLSVersion(xls40); }, "Version can not be changed while file is open"},
      {[](TXLSWrite& w) { w.SetXLSVersion(xls97); }, "Excel 97 files not supported yet"},
      {[&](TXLSWrite& w) { open(w); w.OpenFile(); }, "File is allready open"},
      {[](TXLSWrite& w) { w.FileName = "  "; w.OpenFile(); }, "Filename is missing"},
      {[](TXLSWrite& w) { w.NextSheet(); }, "Call to NextSheet without OpenFile"},
      {[&](TXLSWrite& w) { open(w); w.NextSheet(); }, "Sheet index out of range"},
      {[](TXLSWrite& w) { w.WriteNumber(0, 0, 1); }, "Can not write cells when file is closed"},
      {[&](TXLSWrite& w) { open(w); w.WriteString(2, 5, std::string(256, 'a')); },
       "Cell R5,C2: String length more than 255 bytes"},
      {[&](TXLSWrite& w) { open(w); w.WriteString(2, 5, std::string(128, '\xC3') + "\xA4"); },
       "Cell R5,C2: Character \"\xC3\" is not in code page 1252"},
      {[&](TXLSWrite& w) { open(w); w.WriteString(0, 1, "\xE2\x86\x92"); },
       "Cell R1,C0: Character \"\xE2\x86\x92\" is not in code page 1252"},
      {[&](TXLSWrite& w) { open(w); w.WriteNumber(256, 0, 1); },
       "Cell R0,C256: Cell outside the sheet (rows 0 to 16383, columns 0 to 255)"},
      {[&](TXLSWrite& w) { open(w); w.WriteNumber(0, 0, 1, 0); }, "Cell R0,C0: Format index 0 out of range"},
      {[&](TXLSWrite& w) {
         w.OnWriteData = [](TXLSWrite&, std::uint16_t&, int& length, std::uint8_t*) { length = 2081; };
         open(w);
       },
       "Data size to large, max 2080 bytes"},
      {[&](TXLSWrite& w) { open(w); w.FontList(0); }, "Font index out of range"},
      {[&](TXLSWrite& w) {
         open(w);
         for (int i = 0; i < 20; ++i) w.WriteFormula(0, i, "FUNCTION" + std::to_string(i) + "()");
       },
       "Too many external names defined"},
      {[&](TXLSWrite& w) { w.Sheets = {"A", "a"}; open(w); }, "Sheet name \"a\" is used twice"},
      {[&](TXLSWrite& w) { w.FileName = (dir.path() / "no" / "x.xls").string(); w.OpenFile(); },
       "Cannot create file \"" + (dir.path() / "no" / "x.xls").string() + "\": No such file or directory"},
  };
  for (const auto& c : cases) {
    TXLSWrite w;
    EXPECT_THAT([&] { c.action(w); }, testing::ThrowsMessage<Exception>(testing::StrEq(c.message)));
  }
}

// A write that fails when the file is filled in (here: the file size limit)
// removes the file instead of leaving a truncated workbook.
TEST(XlsWrite, FailedWriteLeavesNoFile) {
  TempDir dir;
  TXLSWrite w;
  w.FileName = (dir.path() / "big.xls").string();
  w.OpenFile();
  for (int r = 0; r < 2000; ++r) w.WriteNumber(0, r, r);
  struct rlimit old {};
  getrlimit(RLIMIT_FSIZE, &old);
  const auto oldSignal = signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 4096;
  setrlimit(RLIMIT_FSIZE, &small);
  std::string message;
  try {
    w.CloseFile();
  } catch (const Exception& e) {
    message = e.what();
  }
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, oldSignal);
  EXPECT_EQ(message.rfind("Cannot write file \"" + w.FileName + "\": ", 0), 0u) << message;
  EXPECT_FALSE(std::filesystem::exists(w.FileName));
  EXPECT_FALSE(w.IsOpen());
}
}  // namespace
