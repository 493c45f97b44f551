// CSV dialects as files really come: quoting, line ends, encodings,
// separators and decimal marks, each as one row of a table, plus the bounds.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/sysutils.h"
#include "support/test_support.h"
#include "workbook/csv_read.h"
#include "workbook/event_text.h"
#include "workbook/workbook_read.h"
#include "xls/xls_dump.h"

namespace {
using testing_support::AsBytes;

// "ROW,COL=TEXT" per cell ("#" before the text of a number cell), joined with " | ".
std::string Cells(const std::string& file, int lastRow = -1) {
  const workbook::CsvDialect dialect = workbook::DetectCsvDialect(AsBytes(file));
  std::string out;
  workbook::ReadCsvFields(
      AsBytes(file), dialect,
      [&](int row, int col, std::string_view text) {
        if (!out.empty()) out += " | ";
        out += std::to_string(row) + "," + std::to_string(col) + "=";
        if (const auto number = workbook::CsvNumber(text, dialect.separator)) out += "#" + std::to_string(*number);
        else out += text;
        return true;
      },
      lastRow);
  return out;
}

TEST(CsvRead, Dialects) {
  const struct { const char* what; std::string file; const char* cells; } cases[] = {
      {"plain LF", "Jan,Feb\n1,2\n", "0,0=Jan | 0,1=Feb | 1,0=#1.000000 | 1,1=#2.000000"},
      {"CRLF, no final line end", "a,b\r\n3.5,-4e2", "0,0=a | 0,1=b | 1,0=#3.500000 | 1,1=#-400.000000"},
      {"lone CR as line end", "a\rb\r", "0,0=a | 1,0=b"},
      {"doubled quotes", "\"say \"\"hi\"\"\",x\n", "0,0=say \"hi\" | 0,1=x"},
      {"separator and line breaks inside quotes", "\"a,b\",\"l1\r\nl2\nl3\"\n", "0,0=a,b | 0,1=l1\r\nl2\nl3"},
      {"quoted number is a number", "\"12\",\" 7 \"\n", "0,0=#12.000000 | 0,1=#7.000000"},
      {"text after a closing quote kept", "\"ab\"cd,e\n", "0,0=abcd | 0,1=e"},
      {"quote inside an unquoted field is literal", "5\"x,y\n", "0,0=5\"x | 0,1=y"},
      {"unterminated quote runs to the end", "a,\"open\nrest", "0,0=a | 0,1=open\nrest"},
      {"empty fields leave gaps", ",,c\n\nd,,\n", "0,2=c | 2,0=d"},
      {"blank lines count as rows", "a\n\n\nb\n", "0,0=a | 3,0=b"},
      {"UTF-8 with BOM", "\xEF\xBB\xBFGr\xC3\xBC\xC3\x9F""e,1\n", "0,0=Grüße | 0,1=#1.000000"},
      {"UTF-8 without BOM", "\xE2\x82\xAC,\xC3\xA4\n", "0,0=€ | 0,1=ä"},
      {"Windows-1252 when not UTF-8", "M\xFCller,\x80,\x93q\x94\n", "0,0=Müller | 0,1=€ | 0,2=“q”"},
      {"German: semicolon and decimal comma", "Monat;Umsatz\nJan;1,5\nFeb;-2,25\n",
       "0,0=Monat | 0,1=Umsatz | 1,0=Jan | 1,1=#1.500000 | 2,0=Feb | 2,1=#-2.250000"},
      {"semicolon in every row beats commas", "1,5;2,5\n3,5;4,5\n", "0,0=#1.500000 | 0,1=#2.500000 | 1,0=#3.500000 | 1,1=#4.500000"},
      {"semicolon header without commas", "a;b;c\n1,5\n", "0,0=a | 0,1=b | 0,2=c | 1,0=#1.500000"},
      {"semicolon inside one text only", "name,note\nx,\"a;b\"\ny,z\n", "0,0=name | 0,1=note | 1,0=x | 1,1=a;b | 2,0=y | 2,1=z"},
      {"semicolon inside quotes is no separator", "\"a;b\",c\n", "0,0=a;b | 0,1=c"},
      {"comma is text under comma separator", "\"1,5\",x\n", "0,0=1,5 | 0,1=x"},
      {"not numbers", "1.2.3,1e,+,.,0x10,inf,nan,1 000,12%,2024-01-31\n",
       "0,0=1.2.3 | 0,1=1e | 0,2=+ | 0,3=. | 0,4=0x10 | 0,5=inf | 0,6=nan | 0,7=1 000 | 0,8=12% | 0,9=2024-01-31"},
      {"numbers", "+3,.5,5.,007,1E+3,-0.25e-1,1e999\n",
       "0,0=#3.000000 | 0,1=#0.500000 | 0,2=#5.000000 | 0,3=#7.000000 | 0,4=#1000.000000 | 0,5=#-0.025000 | 0,6=1e999"},
      {"blanks only are text", "  ,x\n", "0,0=   | 0,1=x"},
      {"empty file", "", ""},
      {"BOM only", "\xEF\xBB\xBF", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(Cells(c.file), c.cells) << c.what;
}

TEST(CsvRead, DetectsDialect) {
  using workbook::CsvDialect;
  const struct { const char* what; std::string file; CsvDialect dialect; } cases[] = {
      {"plain ASCII", "a,b\n", {',', true, 0}},
      {"BOM", "\xEF\xBB\xBF" "a;b\n", {';', true, 3}},
      {"Latin-1 byte", "a;\xE4\n", {';', false, 0}},
      {"overlong UTF-8 is no UTF-8", "\xC0\xAF\n", {',', false, 0}},
      {"surrogate is no UTF-8", "\xED\xA0\x80\n", {',', false, 0}},
      {"ragged semicolon rows", "a;b;c\nd;e\n", {';', true, 0}},
      {"commas and a stray semicolon", "a,b;c\nd,e\n", {',', true, 0}},
  };
  for (const auto& c : cases) EXPECT_EQ(workbook::DetectCsvDialect(AsBytes(c.file)), c.dialect) << c.what;
  // A UTF-8 sequence cut by the end of the sniffed window is still UTF-8.
  std::string big(64 * 1024 - 1, 'x');
  big += "\xC3\xA4 and more";
  EXPECT_TRUE(workbook::DetectCsvDialect(AsBytes(big)).utf8);
  EXPECT_FALSE(workbook::LooksLikeText(AsBytes(std::string("PK\x03\x04\0\0", 6))));
  EXPECT_TRUE(workbook::LooksLikeText(AsBytes("a,b\n")));
}

TEST(CsvRead, StopsAfterTheLastRowWanted) {
  EXPECT_EQ(Cells("a,b\n1,2\n3,4\n", 1), "0,0=a | 0,1=b | 1,0=#1.000000 | 1,1=#2.000000");
  int calls = 0;
  const std::string file = "a,b,c\nd\n";
  workbook::ReadCsvFields(AsBytes(file), workbook::DetectCsvDialect(AsBytes(file)), [&](int, int, std::string_view) {
    return ++calls < 2;  // the sink ends the read
  });
  EXPECT_EQ(calls, 2);
}

TEST(CsvRead, RefusesFilesBeyondItsBounds) {
  const struct { const char* what; std::string file; const char* message; } cases[] = {
      {"too many rows", std::string(workbook::kCsvMaxRows, '\n') + "x", "CSV file has more than 1048576 rows"},
      {"too many columns", std::string(workbook::kCsvMaxColumns, ',') + "x", "CSV row 1 has more than 16384 columns"},
      {"long field", "a\nb," + std::string(32768, 'x'), "CSV field in row 2, column 2 holds more than 32767 characters"},
      {"long quoted field", "\"" + std::string(200000, 'x') + "\"",
       "CSV field in row 1, column 1 holds more than 32767 characters"},
      {"long field of two-byte characters", [] {
         std::string s;
         for (int i = 0; i < 32768; ++i) s += "\xC3\xA4";
         return s;
       }(), "CSV field in row 1, column 1 holds more than 32767 characters"},
  };
  for (const auto& c : cases) {
    const auto started = std::chrono::steady_clock::now();
    EXPECT_THAT([&] { (void)Cells(c.file); }, testing::ThrowsMessage<Exception>(testing::StrEq(c.message))) << c.what;
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1)) << c.what;
  }
  // Right at the bounds all is read.
  EXPECT_EQ(Cells(std::string(32767, 'y')).size(), 4u + 32767u);
  EXPECT_NO_THROW((void)Cells(std::string(workbook::kCsvMaxRows - 1, '\n') + "x"));
}

TEST(CsvRead, SheetNameIsTheFileName) {
  const struct { const char* path; const char* name; } cases[] = {
      {"/srv/www/sales.csv", "sales"}, {"umsatz.2024.txt", "umsatz.2024"}, {"noext", "noext"},
      {"dir/.csv", ".csv"}, {"dir/", "Sheet1"}, {"C:\\docs\\u.csv", "u"}, {"M\xFCller.csv", "Müller"},
  };
  for (const auto& c : cases) EXPECT_EQ(workbook::CsvSheetName(c.path), c.name) << c.path;
}

// A CSV file as the loader and the dump open it: by name, through the sheet
// events, as a chart request (two rows of the selected sheet) or whole.
TEST(CsvRead, ThroughTheSheetEvents) {
  testing_support::TempDir dir;
  const std::string body = "Monat;Umsatz;Kosten\r\nJan;1,5;\"2\"\r\nFeb;3;4\r\n";
  struct Case { const char* what; std::string name; std::string bytes; int sheet; bool chart; std::string expected; };
  const Case cases[] = {
      {"chart: two rows", "Umsatz 2024.csv", body, 1, true,
       "#0 Umsatz 2024 | 0,0 text \"Monat\" | 0,1 text \"Umsatz\" | 0,2 text \"Kosten\" | 1,0 text \"Jan\" | "
       "1,1 number 1.5 | 1,2 number 2.0"},
      {"dump: every row", "u.TXT", body, 1, false,
       "#0 u | 0,0 text \"Monat\" | 0,1 text \"Umsatz\" | 0,2 text \"Kosten\" | 1,0 text \"Jan\" | 1,1 number 1.5 | "
       "1,2 number 2.0 | 2,0 text \"Feb\" | 2,1 number 3.0 | 2,2 number 4.0"},
      {"sheet 2 of one", "u.csv", body, 2, true, "#0 u"},
      {"binary bytes named .csv", "b.csv", std::string("a,b\0\x01\x02", 6), 1, true, "File is not a Excel file"},
      {"empty file", "e.csv", "", 1, true, "#0 e"},
  };
  for (const auto& c : cases) {
    const std::string path = (dir.path() / c.name).string();
    testing_support::WriteText(path, c.bytes);
    TXLSRead events;
    std::string out;
    RecordEvents(events, out, c.sheet - 1);
    try {
      workbook::ReadWorkbookFile(events, path, c.chart ? workbook::ReadLimits::Chart() : workbook::ReadLimits::Dump());
    } catch (const Exception& e) {
      out = e.what();
    }
    EXPECT_EQ(out, c.expected) << c.what;
  }
}

}  // namespace
