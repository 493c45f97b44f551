#include <gtest/gtest.h>
#include <filesystem>
#include <map>
#include <vector>
#include "app/excel_loader.h"
#include "platform/sysutils.h"
#include "tests/support/test_support.h"
#include "tests/xls/biff_builder.h"
#include "chart/chart_test_support.h"

using namespace xlstest;
using charttest::ExpectRaises;

namespace {

std::string Corpus(const char* name) { return (testing_support::CorpusDir() / name).string(); }

// The non-empty data cells of the grid, as "column,row=text".
std::map<std::string, std::string> DataCells(const TExcel& excel) {
  std::map<std::string, std::string> cells;
  for (int c = 1; c < excel.Grid.ColCount(); ++c) {
    for (int r = 1; r < excel.Grid.RowCount(); ++r) {
      if (!excel.Grid.Cell(c, r).empty()) cells[std::to_string(c) + "," + std::to_string(r)] = excel.Grid.Cell(c, r);
    }
  }
  return cells;
}

// A plain BIFF5 worksheet file holding `records` after its BOF.
std::string PlainFile(const testing_support::TempDir& dir, const char* name, const Bytes& records) {
  const auto path = dir.path() / name;
  testing_support::WriteBytes(path, Cat({Rec(biff::kBof5, B().u16(0x0500).u16(0x10).zeros(4)), records, Eof()}));
  return path.string();
}

}  // namespace

// Every format goes through the same loader: the chosen sheet lands in the
// grid, the read ends there, and the version label names the file's kind.
TEST(ExcelLoader, ReadsOnlyTheChosenSheet) {
  using Cells = std::map<std::string, std::string>;
  const Cells umsatz = {{"1,1", "Nord"}, {"2,1", "Süd"}, {"3,1", "Ost"}, {"1,2", "40"}, {"2,2", "25"}, {"3,2", "35"}};
  const Cells kosten = {{"1,1", "Miete"}, {"2,1", "Strom"}, {"3,1", "Personal"}, {"4,1", "Sonstiges"},
                        {"1,2", "12"},    {"2,2", "3"},     {"3,2", "50"},       {"4,2", "7"}};
  // The second of seven sheets; only its first two rows are compared.
  const Cells blatt2 = {{"1,1", "Daten 2024 Spalte 1"}, {"2,1", "Daten 2024 Spalte 2"}, {"3,1", "Daten 2024 Spalte 3"},
                        {"4,1", "Daten 2024 Spalte 4"}, {"1,2", "11"}, {"2,2", "12"}, {"3,2", "13"}, {"4,2", "14"}};
  const auto modern = testing_support::SourceDir() / ".." / "shared" / "corpus" / "modern";
  const bool haveModern = std::filesystem::is_directory(modern);
  struct Sheet { int sheet; Cells cells; };
  const std::vector<Sheet> threeSheets = {{1, umsatz}, {2, {}}, {3, kosten}, {4, {}}, {999, {}}, {1, umsatz}};
  const struct {
    std::string file;
    const char* version;  // nullptr: not checked
    std::vector<Sheet> sheets;
    bool firstTwoRows = false;
  } cases[] = {
      {Corpus("gen-gnumeric-biff7-three-sheets.xls"), "Version: Excel 95", threeSheets},
      {Corpus("gen-lo-biff8-three-sheets.xls"), "Version: Excel 97", threeSheets},
      {Corpus("gen-xlwt-biff8-three-sheets.xls"), "Version: Excel 97", threeSheets},
      {Corpus("gen-gnumeric-dsf-three-sheets.xls"), "Version: Excel 97", threeSheets},
      {Corpus("gen-sheetjs-biff2-chart3.xls"), "Version: Excel 2.1", {}},
      {Corpus("gen-sheetjs-biff3-chart3.xls"), "Version: Excel 3.0", {}},
      {Corpus("gen-sheetjs-biff4-chart3.xls"), "Version: Excel 4.0", {}},
      {(modern / "gen-xlsxwriter-blaetter7.xlsx").string(), nullptr, {{2, blatt2}}, true},
      {(modern / "gen-lo-blaetter7.xlsm").string(), nullptr, {{2, blatt2}}, true},
      {(modern / "gen-openpyxl-blaetter7.xlsx").string(), nullptr, {{2, blatt2}}, true},
  };
  for (const auto& c : cases) {
    if (c.firstTwoRows && !haveModern) continue;
    TExcel excel;
    excel.edRead = c.file;
    std::vector<int> reached;  // sheets whose BOF the reader got to
    excel.XLSRead.OnSheet = [&reached, choose = excel.XLSRead.OnSheet](TXLSRead& r, const std::string& name,
                                                                        int index, bool& readIt) {
      reached.push_back(index);
      choose(r, name, index, readIt);
    };
    if (c.sheets.empty()) excel.Button2Click();
    for (const auto& s : c.sheets) {
      excel.seSheet = s.sheet;
      reached.clear();
      excel.Button2Click();  // each read starts from an empty grid
      Cells cells = DataCells(excel);
      if (c.firstTwoRows) {
        EXPECT_EQ(reached, (std::vector<int>{0, 1})) << c.file;
        std::erase_if(cells, [](const auto& cell) {
          return !cell.first.ends_with(",1") && !cell.first.ends_with(",2");
        });
        EXPECT_EQ(cells.size(), DataCells(excel).size()) << c.file << ": rows after the second are not read";
      } else {
        EXPECT_EQ(excel.Progress, 100) << c.file;
      }
      EXPECT_EQ(cells, s.cells) << c.file << " sheet " << s.sheet;
      EXPECT_LE(reached.back(), s.sheet) << c.file << ": the read ends with the chosen sheet";
    }
    if (c.version) {
      EXPECT_EQ(excel.lblVersion, c.version) << c.file;
    }
  }
  if (!haveModern) GTEST_SKIP() << "no corpus at " << modern;
}

TEST(ExcelLoader, CellsOutsideTheGridAreDropped) {
  TExcel wide;
  wide.edRead = Corpus("gen-sheetjs-biff8-wide300.xls");
  wide.Button2Click();
  EXPECT_EQ(wide.Grid.Cell(63, 1), "K063") << "sheet column 62 is the last one shown";
  EXPECT_EQ(wide.Grid.Cell(63, 2), "34");
  EXPECT_EQ(DataCells(wide).size(), 2u * 63u);
  TExcel tall;
  tall.edRead = Corpus("gen-sheetjs-biff8-tall65000-dense.xls");
  tall.Button2Click();
  EXPECT_EQ(tall.Grid.Cell(1, 255), "254") << "sheet row 254 is the last one shown";
  EXPECT_EQ(DataCells(tall).size(), 255u);
}

TEST(ExcelLoader, CellTexts) {
  testing_support::TempDir dir;
  TExcel excel;
  excel.edRead = PlainFile(dir, "cells.xls",
                           Cat({Number(0, 0, 15, 12), Number(0, 1, 15, 2.5), Number(0, 2, 15, -0.125),
                                Rec(biff::kBoolErr, B().u16(1).u16(0).u16(15).u8(1).u8(0)),
                                Rec(biff::kBoolErr, B().u16(1).u16(1).u16(15).u8(0).u8(0)),
                                Rec(biff::kBoolErr, B().u16(1).u16(2).u16(15).u8(0x07).u8(1)),
                                Rec(biff::kFormula, B().u16(2).u16(0).u16(15).f64(99).u16(0).u32(0).u16(7)
                                                        .raw(Bytes{0x1E, 0x21, 0, 0x1E, 3, 0, 0x05})),
                                Rec(biff::kLabel, B().u16(2).u16(1).u16(15).u16(4).raw("Text")),
                                Number(300, 0, 15, 1), Number(0, 200, 15, 1)}));
  excel.Button2Click();
  const std::map<std::string, std::string> want = {{"1,1", "12"},   {"2,1", "2.5"},   {"3,1", "-0.125"},
                                                   {"1,2", "TRUE"}, {"2,2", "FALSE"}, {"3,2", "#DIV/0!"},
                                                   {"1,3", "=33*3"}, {"2,3", "Text"}};
  EXPECT_EQ(DataCells(excel), want) << "a formula cell shows its formula, not its cached result";
  ASSERT_NE(excel.FormulaValue(1, 3), nullptr);
  EXPECT_EQ(*excel.FormulaValue(1, 3), "99");
  EXPECT_EQ(excel.FormulaValue(1, 1), nullptr);
  EXPECT_EQ(excel.lblVersion, "Version: Excel 5.0");
}

TEST(ExcelLoader, CellColours) {
  testing_support::TempDir dir;
  TExcel excel;
  // XF 0 fills with colour index 10 (red); the cell with XF 15 names a
  // format the workbook does not have: its text still lands, uncoloured.
  excel.edRead = PlainFile(dir, "colours.xls",
                           Cat({Rec(biff::kXf, B().zeros(8).u16(10).zeros(6)), Number(0, 0, 0, 1), Number(0, 1, 15, 2),
                                Rec(biff::kBlank, B().u16(1).u16(0).u16(0))}));
  std::vector<std::string> log;
  excel.OnLogMessage = [&](const std::string& m) { log.push_back(m); };
  excel.Button2Click();
  EXPECT_EQ(excel.Grid.Object(1, 1), std::optional<TColor>(0x0000FF));
  EXPECT_EQ(excel.Grid.Cell(2, 1), "2");
  EXPECT_EQ(excel.Grid.Object(2, 1), std::nullopt);
  EXPECT_EQ(excel.Grid.Object(1, 2), std::optional<TColor>(0x0000FF)) << "blank cells get their colour";
  EXPECT_TRUE(log.empty());
}

TEST(ExcelLoader, ReaderErrorsGoToTheLogAndEndTheRead) {
  testing_support::TempDir dir;
  TExcel excel;
  excel.edRead = PlainFile(dir, "locked.xls", Cat({Number(0, 0, 15, 1), Rec(biff::kFilePass, B().zeros(6)),
                                                   Number(0, 1, 15, 2)}));
  std::vector<std::string> log;
  excel.OnLogMessage = [&](const std::string& m) { log.push_back(m); };
  excel.Button2Click();
  EXPECT_EQ(log, (std::vector<std::string>{"Can not read, file is encrypted"}));
  EXPECT_EQ(DataCells(excel), (std::map<std::string, std::string>{{"1,1", "1"}}));
  // Failures to open pass on to the caller.
  excel.edRead = (dir.path() / "missing.xls").string();
  EXPECT_THROW(excel.Button2Click(), Exception);
  EXPECT_TRUE(DataCells(excel).empty());
}

// The write button saves the grid as BIFF4 and BIFF5; reading the file back
// gives the same grid. A cell the writer refuses leaves no file behind.
TEST(ExcelLoader, WriteButtonSavesTheGrid) {
  const std::map<std::string, std::string> grid = {
      {"1,1", "Gr\xC3\xBC\xC3\x9F" "e"}, {"2,1", "12"},   {"3,1", "2.5"},          {"4,1", "TRUE"},
      {"1,2", "=SUM(B1;C1)*2"},          {"2,2", "=B1&\"x\""}, {"63,255", "last"}, {"5,1", "-0.5"}};
  testing_support::TempDir dir;
  for (int version : {0, 1}) {
    TExcel excel;
    for (const auto& [key, text] : grid) {
      excel.EditGrid().SetCell(std::stoi(key), std::stoi(key.substr(key.find(',') + 1)), text);
    }
    excel.cbVersion = version;
    excel.edWrite = (dir.path() / ("grid" + std::to_string(version) + ".xls")).string();
    excel.Button3Click();
    TExcel reader;
    reader.edRead = excel.edWrite;
    reader.Button2Click();
    EXPECT_EQ(DataCells(reader), grid) << version;
    EXPECT_EQ(reader.lblVersion, version == 0 ? "Version: Excel 4.0" : "Version: Excel 95");
    excel.Grid.SetCell(2, 2, "=IF(1)");
    excel.edWrite = (dir.path() / "refused.xls").string();
    ExpectRaises<Exception>([&] { excel.Button3Click(); }, "To few arguments to function \"IF\"");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), version + 1);
  }
  // Only a regular file is replaced: a link planted at the name stays, and
  // so does what it points to.
  TExcel excel;
  excel.EditGrid().SetCell(1, 1, "1");
  excel.edWrite = (dir.path() / "link.xls").string();
  std::filesystem::create_symlink(dir.path() / "grid0.xls", excel.edWrite);
  const auto before = testing_support::ReadText(dir.path() / "grid0.xls");
  ExpectRaises<Exception>([&] { excel.Button3Click(); },
                          "Cannot write file \"" + excel.edWrite + "\": it is not a regular file");
  EXPECT_TRUE(std::filesystem::is_symlink(excel.edWrite));
  EXPECT_EQ(testing_support::ReadText(dir.path() / "grid0.xls"), before);
}
