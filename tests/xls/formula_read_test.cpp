#include <gtest/gtest.h>

#include "tests/xls/biff_builder.h"

using namespace xlstest;

namespace {
// A BIFF8 FORMULA record with a number result.
Bytes Formula8(int row, int col, double result, const std::string& tokens) {
  const Bytes t(tokens.begin(), tokens.end());
  return Rec(biff::kFormula, B().u16(row).u16(col).u16(15).f64(result).u16(0).u32(0)
                                 .u16(static_cast<unsigned>(t.size())).raw(t));
}
// tExp: this cell belongs to the shared or array formula starting at (row, col).
std::string Exp(int row, int col) { return {'\x01', static_cast<char>(row), '\0', static_cast<char>(col), '\0'}; }
Bytes ShrFmla(int r1, int r2, int c1, int c2, const std::string& tokens) {
  return Rec(biff::kShrFmla, B().u16(r1).u16(r2).u8(c1).u8(c2).u8(0).u8(3).u16(static_cast<unsigned>(tokens.size())).raw(tokens));
}

std::vector<std::string> Read(const Bytes& file, bool plain, std::vector<std::string>* messages = nullptr) {
  TXLSRead reader;
  EventLog log;
  log.Attach(reader);
  reader.OnFormulaCell = [&log](TXLSRead&, int c, int r, const std::string& text) {
    log.lines.push_back("formula " + std::to_string(c) + "," + std::to_string(r) + " " + text);
  };
  reader.OnMessageBox = [&](const std::string& m, bool) {
    if (messages) messages->push_back(m.substr(0, m.find('\r')));
    return true;
  };
  if (plain) {
    reader.ReadMemory(file);
  } else {
    reader.ReadRecordStream(file, true);
  }
  return log.lines;
}
}  // namespace

TEST(FormulaRead, Biff8Workbook) {
  // This workbook's SUPBOOK, another workbook "b.xls" with one sheet "S",
  // and a built-in name (Print_Area is stored as the code 6).
  const Bytes globals = Cat({Rec(biff::kSupBook, B().u16(3).u16(0x0401)),
                             Rec(biff::kSupBook, B().u16(1).u16(6).u8(0).raw("\x01" "b.xls").u16(1).u8(0).raw("S")),
                             Rec(biff::kExternSheet, B().u16(3).u16(0).u16(1).u16(1).u16(0).u16(2).u16(2)
                                                         .u16(1).u16(0).u16(0)),
                             Rec(biff::kName, B().u16(0x20).u8(0).u8(1).u16(0).u16(0).u16(0).zeros(4).u8(0).u8(6))});
  const std::string shared("\x4C\xFF\xFF\x00\xC0\x14\x1E\x01\x00\x03", 10);  // (cell above)% + 1
  const Bytes sheet = Cat({
      Formula8(0, 0, 42, std::string("\x3A\x00\x00\x00\x00\x00\xC0", 7)),  // Sheet2!A1
      Formula8(1, 1, 43, std::string("\x3A\x01\x00\x00\x00\x00\xC0", 7)),  // Sheet3!A1
      Formula8(1, 2, 44, std::string("\x3A\x02\x00\x00\x00\x00\xC0\x23\x01\x00\x00\x00\x03", 13)),
      Formula8(2, 0, 1, Exp(2, 0)), ShrFmla(2, 4, 0, 1, shared),
      Formula8(3, 1, 2, Exp(2, 0)), Formula8(4, 0, 3, Exp(2, 0)),
      Formula8(5, 0, 4, Exp(9, 9)),  // no such shared formula
      Formula8(6, 0, 5, Exp(6, 0)),
      Rec(biff::kArray, B().u16(6).u16(6).u8(0).u8(1).u16(0).u32(0).u16(3).raw(std::string("\x1E\x05\x00", 3))),
      Formula8(6, 1, 5, Exp(6, 0)),
      Formula8(7, 0, 7, std::string("\x23\x09\x00\x00\x00", 5)),  // name beyond the list
  });
  std::vector<std::string> messages;
  const auto events = Read(Biff8Workbook({{"Sheet1", sheet}, {"Sheet2", {}}, {"Sheet3", {}}}, globals), false, &messages);
  const std::vector<std::string> want = {
      "unhandled 01AE 4", "unhandled 01AE 15",
      "formula 0,0 Sheet2!A1", "number 0,0 xf15 42.0 =",
      "formula 1,1 Sheet3!A1", "number 1,1 xf15 43.0 =",
      "formula 2,1 [b.xls]S!A1+Print_Area", "number 2,1 xf15 44.0 =",
      "formula 0,2 A2%+1", "number 0,2 xf15 1.0 =",
      "formula 1,3 B3%+1", "number 1,3 xf15 2.0 =",
      "formula 0,4 A4%+1", "number 0,4 xf15 3.0 =",
      "formula 0,5 <Shared>", "number 0,5 xf15 4.0 =",
      "formula 0,6 5", "number 0,6 xf15 5.0 =", "unhandled 0221 17",
      "formula 1,6 5", "number 1,6 xf15 5.0 =",
      "number 0,7 xf15 7.0 =",
  };
  EXPECT_EQ(events, want);
  EXPECT_EQ(messages, std::vector<std::string>{"List index out of bounds (9)"});
}

TEST(FormulaRead, PlainFileLayouts) {
  const Bytes t = {0x1E, 2, 0, 0x1E, 3, 0, 0x05};  // 2*3
  const struct { const char* what; Bytes file; std::vector<std::string> events; } cases[] = {
      {"BIFF2", Cat({Rec(biff::kBof2, B().u16(2).u16(0x10)),
                     Rec(biff::kFormula, B().u16(1).u16(2).zeros(3).f64(6).u8(0).u8(7).raw(t)), Eof()}),
       {"formula 2,1 2*3", "number 2,1 xf-1 6.0 ="}},
      {"BIFF3", Cat({Rec(biff::kBof3, B().u16(0).u16(0x10)),
                     Rec(biff::kFormula3, B().u16(1).u16(2).u16(15).f64(6).u16(0).u16(7).raw(t)), Eof()}),
       {"formula 2,1 2*3", "number 2,1 xf15 6.0 ="}},
      {"BIFF4 with a name", Cat({Rec(biff::kBof4, B().u16(0).u16(0x10)),
                                 Rec(biff::kName3, B().u16(0).u8(0).u8(4).zeros(2).raw("Rate")),
                                 Rec(biff::kFormula4, B().u16(1).u16(2).u16(15).f64(6).u16(0).u16(11)
                                                         .raw(Bytes{0x43, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0})), Eof()}),
       {"formula 2,1 Rate", "number 2,1 xf15 6.0 ="}},
  };
  for (const auto& c : cases) EXPECT_EQ(Read(c.file, true), c.events) << c.what;
}
