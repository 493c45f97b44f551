#include <gtest/gtest.h>

#include <cstring>

#include "platform/sysutils.h"
#include "support/test_support.h"
#include "xls/formula_decoder.h"

namespace {
using Bytes = std::vector<std::uint8_t>;

// The 8 bytes of a double as hex text, after a blank.
std::string F64(double v) {
  std::uint8_t b[8];
  std::memcpy(b, &v, 8);
  return " " + testing_support::Hex(b, 8);
}

xls::FormulaContext Workbook(int version, char separator = ',') {
  xls::FormulaContext c;
  c.Version = version;
  c.FuncArgSeparator = separator;
  c.Names = {"<Np0>", "Alpha", "Beta"};
  c.ExternNames = {"<Ep0>", "Ext"};
  c.Sheets = {"Sheet1", "Sheet2", "My Sheet", "It's"};
  c.ExternSheets = {{0, 0, 0}, {0, 1, 1}, {0, 2, 2}, {0, 0, 1}, {1, 0, 0}, {0, 0xFFFF, 0xFFFF}, {2, 0, 0}, {0, 3, 3}};
  c.SupBooks = {{xls::SupBook::sbInternal, {}, {}, {}},
                {xls::SupBook::sbExternal, "b.xls", {"S", "T x"}, {"n"}},
                {xls::SupBook::sbAddIn, {}, {}, {"ADDF"}}};
  return c;
}

constexpr int kBiff2 = 1, kBiff3 = 2, kBiff4 = 3, kBiff5 = 5, kBiff8 = 6;
const std::string kError = "List index out of bounds";

struct Case {
  int version;
  std::string tokens;  // hex
  std::string want;    // text, or kError for the list's index error
  std::string extra = "";  // hex data behind the tokens (array constants)
  int baseCol = 0, baseRow = 0;
  char separator = ',';
};

void Check(const Case& c) {
  const Bytes tokens = testing_support::FromHex(c.tokens);
  Bytes data = tokens;
  const Bytes extra = testing_support::FromHex(c.extra);
  data.insert(data.end(), extra.begin(), extra.end());
  std::string got;
  try {
    got = xls::DecodeFormula(data, tokens.size(), c.baseCol, c.baseRow, Workbook(c.version, c.separator));
  } catch (const Exception& e) {
    got = std::string(e.what()).substr(0, kError.size());
  }
  EXPECT_EQ(got, c.want) << "BIFF code " << c.version << ": " << c.tokens;
}

TEST(FormulaDecoder, OperatorsAndConstants) {
  const Case cases[] = {
      {kBiff5, "1E 01 00 1E 02 00 03", "1+2"}, {kBiff5, "1E 01 00 1E 02 00 03 15", "(1+2)"},
      {kBiff5, "1E 01 00 1E 02 00 1E 03 00 05 03", "1+2*3"}, {kBiff5, "1E 00 A0", "40960"},
      {kBiff5, "1E 32 00 14", "50%"}, {kBiff5, "1E 32 00 13 12", "-50"}, {kBiff5, "03", "<Val missing>"},
      {kBiff5, "1E 01 00 0E", "<Val missing>"}, {kBiff5, "13", "<Val missing>"}, {kBiff5, "15", kError},
      {kBiff5, "", "[ERROR]"}, {kBiff8, "24 00 00 00 C0 24 00 00 01 C0 11", "A1:B1"},
      {kBiff8, "24 00 00 00 C0 24 00 00 01 C0 10", "A1;B1", "", 0, 0, ';'},
      {kBiff8, "24 00 00 00 C0 24 00 00 01 C0 0F", "A1 B1"}, {kBiff8, "1F" + F64(0.1), "0.1"},
      {kBiff8, "1F" + F64(1e20), "1E+20"}, {kBiff8, "1F" + F64(3.14159265358979312), "3.14159265358979"},
      {kBiff8, "1D 01 1D 00 08", "TRUE&FALSE"}, {kBiff8, "1C 2A 1C 07 1C 63 16", ""},
      {kBiff8, "1C 2A 1C 07 03", "#N/A+#DIV/0!"}, {kBiff8, "17 03 00 61 22 62", "\"a\"\"b\""},
      {kBiff8, "17 02 01 A9 03 16 04", "\"ΩЖ\""}, {kBiff5, "17 02 E4 22", "\"ä\"\"\""},
      {kBiff5, "24 00 C0 00 18", "Unknown ptg[18]"}, {kBiff8, "44 00 00 00 C0 02", "Unknown ptg[02]"},
      {kBiff8, "01 00 00 00 00", "<Shared>"},
      // Attributes: SUM, choose jump table, space, volatile.
      {kBiff8, "44 00 00 00 C0 19 10 00 00", "SUM(A1)"},
      {kBiff8, "1E 01 00 19 04 01 00 00 00 00 00 1E 02 00 03", "1+2"},
      {kBiff8, "19 40 00 01 19 01 00 00 1E 07 00", "7"}, {kBiff2, "24 00 C0 00 19 10 00 1E 01 00 03", "SUM(A1)+1"},
      {kBiff2, "1E 01 00 19 04 01 00 00 00 00 1E 02 00 03", "1+2"},
      // Cached sub-expressions (tMemFunc, tMemArea) only announce what follows.
      {kBiff8, "29 0B 00 44 00 00 00 C0 44 00 00 01 C0 11", "A1:B1"},
      {kBiff8, "26 00 00 00 00 09 00 25 00 00 01 00 00 C0 00 C0", "A1:A2", "01 00 00 00 01 00 00 00 00 00"},
  };
  for (const auto& c : cases) Check(c);
}

TEST(FormulaDecoder, Functions) {
  const Case cases[] = {
      {kBiff5, "21 13 00", "PI()"}, {kBiff5, "24 00 C0 00 24 00 C0 01 22 02 04 00", "SUM(A1;B1)", "", 0, 0, ';'},
      // Fixed argument counts as files store them.
      {kBiff8, "1E 05 00 21 0A 00", "NA()"}, {kBiff8, "44 00 00 00 C0 1E 01 00 1E 02 00 21 1F 00", "MID(A1,1,2)"},
      {kBiff8, "1F" + F64(2.5) + " 1E 00 00 21 D4 00", "ROUNDUP(2.5,0)"},
      {kBiff8, "1E 01 00 1E 02 00 1E 03 00 1E 04 00 21 8F 00", "SYD(1,2,3,4)"},
      {kBiff8, "1E 01 00 22 00 04 00", "SUM()"},
      // Ids beyond the table, the later Excel 97 functions, add-in calls.
      {kBiff8, "1E 01 00 21 FF 7F", "?<32767>?(1)"}, {kBiff8, "1E 01 00 1E 02 00 22 02 69 01", "AVERAGEA(1,2)"},
      {kBiff8, "1E 01 00 22 01 01 80", "?<32769>?(1)"},
      {kBiff8, "39 06 00 01 00 00 00 1E 02 00 22 02 FF 00", "ADDF(2)"},
      // Layouts: BIFF2/3 8-bit ids, BIFF4 variable token with a 16-bit field.
      {kBiff2, "1E 01 00 21 13 03", "1+PI()"}, {kBiff3, "1E 01 00 1E 02 00 22 02 04 1E 03 00 03", "SUM(1,2)+3"},
      {kBiff4, "1E 01 00 1E 02 00 22 02 04 00 1E 03 00 03", "SUM(1,2)+3"}, {kBiff4, "1E 01 00 21 13 00 03", "1+PI()"},
      {kBiff4, "1E 01 00 1E 02 00 22 02 0D 01", "AVEDEV(1,2)"},
      // Damaged: more arguments than operands, truncated tokens.
      {kBiff8, "1E 01 00 22 7F 04 00", kError}, {kBiff8, "21 1F 00", kError},
      {kBiff8, "1E 01 00 22 02", "Truncated ptg[22]"}, {kBiff2, "1E 01 00 21", "Truncated ptg[21]"},
      {kBiff8, "1F 00 00", "Truncated ptg[1F]"}, {kBiff8, "17 05 00 61", "Truncated ptg[17]"},
      {kBiff8, "17 02 01 61 00 62", "Truncated ptg[17]"}, {kBiff8, "19 04 FF FF 00 00", "Truncated ptg[19]"},
  };
  for (const auto& c : cases) Check(c);
}

TEST(FormulaDecoder, References) {
  const std::string zero8 = " 00 00 00 00 00 00 00 00";
  const Case cases[] = {
      {kBiff5, "24 02 C0 01", "B3"}, {kBiff5, "24 02 00 01", "$B$3"}, {kBiff5, "24 02 80 01", "$B3"},
      {kBiff8, "25 00 00 09 00 00 C0 02 C0", "A1:C10"}, {kBiff5, "25 00 C0 09 C0 00 02", "A1:C10"},
      {kBiff8, "44 00 00 FF 3F", "$XFD$1"}, {kBiff8, "64 FF FF FF 00", "$IV$65536"},
      {kBiff8, "2A 00 00 00 00 2B" + zero8, "#REF!"}, {kBiff5, "4A 00 00 00 6B 00 00 00 00 00 00 03", "#REF!+#REF!"},
      // Relative to the cell a shared formula is expanded for (E11 here).
      {kBiff8, "4C FF FF FF C0", "E10", "", 5, 10}, {kBiff8, "2C 02 00 01 00", "$B$3", "", 5, 10},
      {kBiff8, "4C FF FF FF C0", "IV65536", "", 0, 0}, {kBiff8, "2D 00 00 01 00 00 C0 01 C0", "C4:D5", "", 2, 3},
      {kBiff5, "2C FF FF FF", "E10", "", 5, 10}, {kBiff5, "2C FF FF 01", "G16384", "", 5, 0},
      {kBiff5, "6D 00 C0 01 C0 00 01", "C4:D5", "", 2, 3},
      // BIFF8 3D references through EXTERNSHEET and SUPBOOK.
      {kBiff8, "3A 01 00 00 00 00 C0", "Sheet2!A1"}, {kBiff8, "5A 02 00 00 00 00 C0", "'My Sheet'!A1"},
      {kBiff8, "3A 07 00 00 00 00 C0", "'It''s'!A1"},
      {kBiff8, "3B 03 00 00 00 01 00 00 C0 01 C0", "Sheet1:Sheet2!A1:B2"},
      {kBiff8, "3A 04 00 00 00 00 C0", "[b.xls]S!A1"}, {kBiff8, "3A 05 00 00 00 00 C0", "#REF!"},
      {kBiff8, "3C 01 00 00 00 00 00", "Sheet2!#REF!"}, {kBiff8, "3A 06 00 00 00 00 C0", "<??? Ref3d>!A1"},
      {kBiff8, "3A 09 00 00 00 00 C0", "<??? Ref3d>!A1"}, {kBiff8, "3A 01 00 00 00", "Truncated ptg[3A]"},
      // BIFF5/7: own workbook (negative link index), deleted, external.
      {kBiff5, "3A FF FF" + zero8 + " 01 00 01 00 00 C0 00", "Sheet2!A1"},
      {kBiff5, "3B FF FF" + zero8 + " 00 00 02 00 00 C0 01 C0 00 01", "'Sheet1:My Sheet'!A1:B2"},
      {kBiff5, "3A FF FF" + zero8 + " FF FF FF FF 00 C0 00", "[DELETED]!A1"},
      {kBiff5, "3A 01 00" + zero8 + " 01 00 01 00 00 C0 00", "[EXTERN ???]:Sheet2!A1"},
      {kBiff5, "3A FF FF" + zero8 + " 09 00 09 00 00 C0 00", kError},
  };
  for (const auto& c : cases) Check(c);
}

TEST(FormulaDecoder, NamesAndArrays) {
  const std::string zero8 = " 00 00 00 00 00 00 00 00";
  const std::string array = "20 00 00 00 00 00 00 00";
  const Case cases[] = {
      {kBiff8, "23 01 00 00 00", "Alpha"}, {kBiff8, "43 00 00 00 00", "<Np0>"}, {kBiff8, "23 03 00 00 00", kError},
      {kBiff5, "23 02 00" + zero8 + " 00 00 00 00 1E 01 00 03", "Beta+1"},
      {kBiff4, "23 01 00" + zero8 + " 1E 01 00 03", "Alpha+1"},
      {kBiff3, "1A 00 00" + zero8 + " 23 01 00" + zero8 + " 1B 00 00 00 00 23 01 00" + zero8 + " 03", "Ext+Alpha"},
      {kBiff8, "39 00 00 02 00 00 00", "Beta"}, {kBiff8, "39 04 00 01 00 00 00", "b.xls!n"},
      {kBiff8, "39 04 00 02 00 00 00", kError},
      {kBiff5, "39 FF FF" + zero8 + " 01 00" + zero8 + " 00 00 00 00", "Alpha"},
      {kBiff5, "39 01 00" + zero8 + " 01 00" + zero8 + " 00 00 00 00", "Ext"},
      // Array constants: values row by row behind the tokens.
      {kBiff8, array, "{1,2;3,4}", "01 01 00 01" + F64(1) + " 01" + F64(2) + " 01" + F64(3) + " 01" + F64(4)},
      {kBiff8, array, "{\"x\"\"\",TRUE,#N/A,}", "03 00 00 02 02 00 00 78 22 04 01" + zero8.substr(3) + " 10 2A" +
                                                    zero8.substr(3) + " 00" + zero8},
      {kBiff5, array + " 21 56 00", "TYPE({1,\"ab\";3,4})",
       "02 02 00 01" + F64(1) + " 02 02 61 62 01" + F64(3) + " 01" + F64(4)},
      {kBiff8, array, "{Bad element ID#7 in array}", "00 00 00 07"}, {kBiff8, array, "Truncated ptg[20]", "00 00"},
      {kBiff8, array, "Truncated ptg[20]", "01 00 00 01" + F64(1) + " 01 00"},
  };
  for (const auto& c : cases) Check(c);
}

TEST(FormulaDecoder, TextHelpers) {
  const std::tuple<int, int, bool, bool, const char*> refs[] = {
      {0, 0, false, false, "A1"}, {25, 9, true, false, "$Z10"}, {26, 0, false, true, "AA$1"},
      {255, 65535, false, false, "IV65536"}, {702, 0, false, false, "AAA1"}};
  for (const auto& [col, row, absCol, absRow, want] : refs) EXPECT_EQ(xls::CellRefText(col, row, absCol, absRow), want);
  const std::pair<const char*, const char*> names[] = {
      {"Sheet1", "Sheet1"}, {"Data_2.x", "Data_2.x"}, {"Übersicht", "Übersicht"}, {"My Sheet", "'My Sheet'"},
      {"910826", "'910826'"}, {"A1", "'A1'"}, {"O'Neil", "'O''Neil'"}, {"a-b", "'a-b'"}, {"", "''"},
  };
  for (const auto& [name, want] : names) EXPECT_EQ(xls::QuoteSheetName(name), want) << name;
}
}  // namespace
