// OpenDocument spreadsheets built in the test (content.xml in a zip written
// here, or a flat document): each detail of real files as one table row, the
// chart read's early end, and hostile documents that must end in their
// message quickly.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <string>

#include "platform/sysutils.h"
#include "support/test_support.h"
#include "support/zip_builder.h"
#include "workbook/event_text.h"
#include "workbook/format_readers.h"
#include "workbook/ods_read.h"

using workbook::ReadLimits;

namespace {
using testing_support::AsBytes;

const std::string kNamespaces =
    R"( xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0")"
    R"( xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0")"
    R"( xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0")"
    R"( xmlns:calcext="urn:org:documentfoundation:names:experimental:calc:xmlns:calcext:1.0")";

// A content document holding `tables` (table:table elements).
std::string Content(const std::string& tables) {
  return R"(<?xml version="1.0" encoding="UTF-8"?><office:document-content)" + kNamespaces +
         "><office:body><office:spreadsheet>" + tables + "</office:spreadsheet></office:body></office:document-content>";
}
std::string Table(const std::string& name, const std::string& rows) {
  return "<table:table table:name=\"" + name + "\"><table:table-column/>" + rows + "</table:table>";
}
std::string Package(const std::string& content, const std::string& manifest = "") {
  std::vector<ziptest::ZipEntry> entries = {
      {.name = "mimetype", .data = "application/vnd.oasis.opendocument.spreadsheet", .deflate = false},
      {.name = "content.xml", .data = content}};
  if (!manifest.empty()) entries.push_back({.name = "META-INF/manifest.xml", .data = manifest});
  return ziptest::BuildZip(entries);
}

// What the reader reports (RecordEvents), or the refusal's text.
std::string Read(const std::string& file, bool flat, ReadLimits limits = ReadLimits::Dump(), int sheet = -1) {
  TXLSRead events;
  std::string out;
  RecordEvents(events, out, sheet);
  try {
    if (flat) {
      workbook::ReadFlatOds(events, AsBytes(file), limits);
    } else {
      workbook::ZipArchive zip(AsBytes(file), limits.budget);
      workbook::ReadOdsPackage(events, zip, limits);
    }
  } catch (const Exception& e) {
    return e.what();
  }
  return out;
}
std::string ReadContent(const std::string& tables, ReadLimits limits = ReadLimits::Dump(), int sheet = -1) {
  return Read(Package(Content(tables)), false, limits, sheet);
}

const std::string kTwoRows = R"(<table:table-row><table:table-cell office:value-type="string"><text:p>a</text:p></table:table-cell>)"
                             R"(</table:table-row><table:table-row><table:table-cell office:value-type="float" office:value="1"/>)"
                             "</table:table-row>";

TEST(OdsRead, Values) {
  struct Case { const char* what; std::string cells; std::string expected; };
  const Case cases[] = {
      {"float, percentage, currency", R"(<table:table-cell office:value-type="float" office:value="2.5"/>)"
       R"(<table:table-cell office:value-type="percentage" office:value="0.25"/>)"
       R"(<table:table-cell office:value-type="currency" office:currency="EUR" office:value="-3"/>)",
       "0,0 number 2.5 | 0,1 number 0.25 | 0,2 number -3.0"},
      // Whole numbers: leading zeros, a sign, -0, 15 and 16 digits, blanks around.
      {"whole numbers", R"(<table:table-cell office:value-type="float" office:value="007"/>)"
       R"(<table:table-cell office:value-type="float" office:value="+12"/>)"
       R"(<table:table-cell office:value-type="float" office:value="-0"/>)"
       R"(<table:table-cell office:value-type="float" office:value="999999999999999"/>)"
       R"(<table:table-cell office:value-type="float" office:value="12345678901234567"/>)"
       R"(<table:table-cell office:value-type="float" office:value=" 42 "/>)",
       "0,0 number 7.0 | 0,1 number 12.0 | 0,2 number -0.0 | 0,3 number 999999999999999.0 | "
       "0,4 number 1.2345678901234568e+16 | 0,5 number 42.0"},
      {"date and date-time", R"(<table:table-cell office:value-type="date" office:date-value="2024-01-31"/>)"
       R"(<table:table-cell office:value-type="date" office:date-value="1899-12-30T18:00:00"/>)",
       "0,0 date 45322.0 | 0,1 date 0.75"},
      {"time as a day fraction", R"(<table:table-cell office:value-type="time" office:time-value="PT12H30M00S"/>)",
       "0,0 date 0.5208333333333334"},
      {"booleans", R"(<table:table-cell office:value-type="boolean" office:boolean-value="true"/>)"
       R"(<table:table-cell office:value-type="boolean" office:boolean-value="false"/>)"
       R"(<table:table-cell office:value-type="boolean" office:boolean-value="maybe"/>)",
       "0,0 bool 1 | 0,1 bool 0"},
      {"string value attribute over paragraphs",
       R"(<table:table-cell office:value-type="string" office:string-value="attr"><text:p>para</text:p></table:table-cell>)",
       "0,0 text \"attr\""},
      {"paragraphs joined, spaces", R"(<table:table-cell office:value-type="string"><text:p>  one  <text:s text:c="3"/>x</text:p>)"
       R"(<text:p>two<text:tab/>t<text:line-break/>l <text:span>span</text:span></text:p></table:table-cell>)",
       "0,0 text \"one    x\\ntwo\\tt\\nl span\""},
      {"annotation and note left out", R"(<table:table-cell><office:annotation><text:p>memo</text:p></office:annotation>)"
       R"(<text:p>v<text:note><text:note-body><text:p>n</text:p></text:note-body></text:note>w</text:p></table:table-cell>)",
       "0,0 text \"vw\""},
      {"list items hold paragraphs", R"(<table:table-cell><text:list><text:list-item><text:p>i1</text:p></text:list-item>)"
       R"(<text:list-item><text:p>i2</text:p></text:list-item></text:list></table:table-cell>)",
       "0,0 text \"i1\\ni2\""},
      {"error results", R"(<table:table-cell table:formula="of:=1/0" office:value-type="float" office:value="0" calcext:value-type="error">)"
       R"(<text:p>#DIV/0!</text:p></table:table-cell><table:table-cell calcext:value-type="error"><text:p>Err:502</text:p></table:table-cell>)",
       "0,0 formula 1/0 | 0,0 error 7 | 0,0 text \"#DIV/0!\" | 0,1 text \"Err:502\""},
      {"formula with cached value", R"x(<table:table-cell table:formula="of:=SUM([.A1:.B1])" office:value-type="float" office:value="3"/>)x",
       "0,0 formula SUM([.A1:.B1]) | 0,0 number 3.0 (cached)"},
      {"empty, void and empty strings left out", R"(<table:table-cell/><table:table-cell office:value-type="void"/>)"
       R"(<table:table-cell office:value-type="string" office:string-value=""/><table:table-cell><text:p/></table:table-cell>)"
       R"(<table:table-cell office:value-type="float"/><table:table-cell office:value-type="float" office:value="x"/>)",
       ""},
      {"covered cells are cells, a kept value too", R"(<table:table-cell table:number-columns-spanned="3" office:value-type="float" office:value="1"/>)"
       R"(<table:covered-table-cell table:number-columns-repeated="2" office:value-type="float" office:value="9"/>)"
       R"(<table:table-cell office:value-type="float" office:value="2"/>)",
       "0,0 number 1.0 | 0,1 number 9.0 | 0,2 number 9.0 | 0,3 number 2.0"},
      {"repeated columns", R"(<table:table-cell table:number-columns-repeated="2" office:value-type="float" office:value="7"/>)"
       R"(<table:table-cell table:number-columns-repeated="16000"/><table:table-cell office:value-type="float" office:value="8"/>)",
       "0,0 number 7.0 | 0,1 number 7.0 | 0,16002 number 8.0"},
  };
  for (const auto& c : cases) {
    const std::string expected = "#0 S" + (c.expected.empty() ? "" : " | " + c.expected);
    EXPECT_EQ(ReadContent(Table("S", "<table:table-row>" + c.cells + "</table:table-row>")), expected) << c.what;
  }
}

TEST(OdsRead, RowsAndSheets) {
  const std::string v = R"(<table:table-cell office:value-type="float" office:value="1"/>)";
  struct Case { const char* what; std::string tables; std::string expected; };
  const Case cases[] = {
      {"repeated rows count, empty ones cost nothing",
       Table("A", "<table:table-row table:number-rows-repeated=\"1048574\"><table:table-cell/></table:table-row>"
                  "<table:table-row>" + v + "</table:table-row><table:table-row table:number-rows-repeated=\"1\"/>"),
       "#0 A | 1048574,0 number 1.0"},
      {"a repeated row with values repeats them", Table("A", "<table:table-row table:number-rows-repeated=\"2\">" + v + v +
                                                                 "</table:table-row>"),
       "#0 A | 0,0 number 1.0 | 0,1 number 1.0 | 1,0 number 1.0 | 1,1 number 1.0"},
      {"header rows and row groups count like rows",
       Table("A", "<table:table-header-rows><table:table-row>" + v + "</table:table-row></table:table-header-rows>"
                  "<table:table-row-group><table:table-rows><table:table-row/><table:table-row>" + v +
                  "</table:table-row></table:table-rows></table:table-row-group>"),
       "#0 A | 0,0 number 1.0 | 2,0 number 1.0"},
      {"sheets in document order, names as written", Table("Zweite &amp; so", "") + Table("Übersicht", kTwoRows) +
                                                         "<table:table><table:table-row>" + v + "</table:table-row></table:table>",
       "#0 Zweite & so | #1 Übersicht | 0,0 text \"a\" | 1,0 number 1.0 | #2  | 0,0 number 1.0"},
  };
  for (const auto& c : cases) EXPECT_EQ(ReadContent(c.tables), c.expected) << c.what;
  // Any prefix: the namespace URIs decide.
  const std::string odd = R"(<?xml version="1.0"?><o:document-content xmlns:o="urn:oasis:names:tc:opendocument:xmlns:office:1.0")"
                          R"( xmlns:t="urn:oasis:names:tc:opendocument:xmlns:table:1.0" xmlns:p="urn:oasis:names:tc:opendocument:xmlns:text:1.0">)"
                          R"(<o:body><o:spreadsheet><t:table t:name="X"><t:table-row><t:table-cell o:value-type="string">)"
                          R"(<p:p>ok</p:p></t:table-cell></t:table-row></t:table></o:spreadsheet></o:body></o:document-content>)";
  EXPECT_EQ(Read(Package(odd), false), "#0 X | 0,0 text \"ok\"");
  // The flat document holds the same body under office:document.
  std::string flat = Content(Table("F", kTwoRows));
  flat.replace(flat.find("office:document-content"), 23, "office:document");
  flat.replace(flat.rfind("office:document-content"), 23, "office:document");
  EXPECT_EQ(Read(flat, true), "#0 F | 0,0 text \"a\" | 1,0 number 1.0");
}

TEST(OdsRead, ChartReadEndsAfterItsRows) {
  // Broken XML after the second row of the selected sheet: a chart read
  // never gets there, the dump does.
  const std::string tables = Table("One", kTwoRows) + Table("Two", kTwoRows + "<table:table-row><oops></table:table-row>");
  EXPECT_EQ(ReadContent(tables, ReadLimits::Chart(), 1),
            "#0 One | #1 Two | 0,0 text \"a\" | 1,0 number 1.0");
  EXPECT_EQ(ReadContent(tables, ReadLimits::Chart(), 0), "#0 One | 0,0 text \"a\" | 1,0 number 1.0");
  EXPECT_THAT(ReadContent(tables), testing::StrEq("Workbook part content.xml: XML error at line 1: mismatched tag"));
}

TEST(OdsRead, RefusesHostileDocuments) {
  const std::string v = R"(<table:table-cell office:value-type="float" office:value="1"/>)";
  std::string deep = "<table:table-row><table:table-cell><text:p>";
  for (int i = 0; i < 300; ++i) deep += "<text:span>";
  for (int i = 0; i < 300; ++i) deep += "</text:span>";
  deep += "</text:p></table:table-cell></table:table-row>";
  const std::string doctype = R"(<?xml version="1.0"?><!DOCTYPE x [<!ENTITY e SYSTEM "file:///etc/passwd">]>)"
                              "<office:document-content" + kNamespaces + ">&e;</office:document-content>";
  struct Case { const char* what; std::string file; const char* message; };
  const Case cases[] = {
      {"a repeated value row of a million", Package(Content(Table("A", "<table:table-row table:number-rows-repeated=\"1048576\">" + v +
                                                                          "</table:table-row>"))),
       "ODF repeated rows and columns add more than 1000000 cells"},
      {"repeated columns past the last", Package(Content(Table("A", "<table:table-row><table:table-cell table:number-columns-repeated=\"16385\" "
                                                                      "office:value-type=\"float\" office:value=\"1\"/></table:table-row>"))),
       "ODF table 1 has a cell beyond column 16384"},
      {"a value below the last row", Package(Content(Table("A", "<table:table-row table:number-rows-repeated=\"4294967296\"/>"
                                                                  "<table:table-row>" + v + "</table:table-row>"))),
       "ODF table 1 has a cell beyond row 1048576"},
      {"spaces by the billion", Package(Content(Table("A", "<table:table-row><table:table-cell><text:p><text:s text:c=\"1000000000\"/>"
                                                             "</text:p></table:table-cell></table:table-row>"))),
       "ODF cell in table 1, row 1, column 1 holds more than 32767 characters"},
      {"a text too long", Package(Content(Table("A", "<table:table-row><table:table-cell><text:p>" + std::string(40000, 'x') +
                                                       "</text:p></table:table-cell></table:table-row>"))),
       "ODF cell in table 1, row 1, column 1 holds more than 32767 characters"},
      {"deep nesting", Package(Content(Table("A", deep))), "Workbook part content.xml: elements nest deeper than 256"},
      {"external entity", Package(doctype), "Workbook part content.xml: a DOCTYPE is not allowed"},
      {"flat document with a DOCTYPE", doctype, "Workbook part flat OpenDocument file: a DOCTYPE is not allowed"},
      {"no content.xml", ziptest::BuildZip({{.name = "mimetype", .data = "application/vnd.oasis.opendocument.spreadsheet"}}),
       "OpenDocument package has no content.xml"},
      {"encrypted", Package(Content(""), R"(<manifest:manifest xmlns:manifest="urn:oasis:names:tc:opendocument:xmlns:manifest:1.0">)"
                                         R"(<manifest:file-entry manifest:full-path="content.xml"><manifest:encryption-data/>)"
                                         "</manifest:file-entry></manifest:manifest>"),
       "Can not read, file is encrypted"},
      {"truncated content", Package(Content(Table("A", kTwoRows)).substr(0, 300)),
       "Workbook part content.xml: XML error at line 1: unclosed token"},
  };
  for (const auto& c : cases) {
    const bool flat = c.file.starts_with("<?xml");
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(Read(c.file, flat), c.message) << c.what;
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1)) << c.what;
  }
}

TEST(OdsRead, DateTimeAndErrorTexts) {
  const struct { const char* text; double serial; } dates[] = {
      {"1899-12-30", 0}, {"1900-03-01", 61}, {"2024-02-29T06:00:00", 45351.25}, {"1899-12-29", -1},
      {"2000-01-01T00:00:30.5Z", 36526 + 30.5 / 86400}, {" 2024-01-31+01:00 ", 45322}, {"0001-01-01", -693593},
  };
  for (const auto& d : dates) EXPECT_EQ(workbook::OdsDateSerial(d.text), d.serial) << d.text;
  for (const char* bad : {"", "2024-1-31", "24-01-31", "2024-01-31T", "2024-01-31T12", "2024-01-31x", "9999999999-01-01"}) {
    EXPECT_EQ(workbook::OdsDateSerial(bad), std::nullopt) << bad;
  }
  const struct { const char* text; double days; } times[] = {
      {"PT12H", 0.5}, {"PT0H30M", 30.0 / 1440}, {"PT1.5S", 1.5 / 86400}, {"P1DT6H", 1.25}, {"-PT6H", -0.25}, {"P2D", 2},
  };
  for (const auto& t : times) EXPECT_DOUBLE_EQ(workbook::OdsTimeSerial(t.text).value_or(NAN), t.days) << t.text;
  for (const char* bad : {"P", "PT", "12:00", "PT5X", "P1Y"}) EXPECT_EQ(workbook::OdsTimeSerial(bad), std::nullopt) << bad;
  const struct { const char* text; int code; } errors[] = {
      {"#NULL!", 0x00}, {"#DIV/0!", 0x07}, {"#VALUE!", 0x0f}, {"#REF!", 0x17}, {"#NAME?", 0x1d}, {"#NUM!", 0x24},
      {"#N/A", 0x2a}, {"Err:502", -1}, {"#div/0!", -1},
  };
  for (const auto& e : errors) EXPECT_EQ(workbook::OdsErrorCode(e.text), e.code) << e.text;
  EXPECT_EQ(workbook::OdsFormulaText("of:=SUM([.A1:.B1])"), "SUM([.A1:.B1])");
  EXPECT_EQ(workbook::OdsFormulaText("=A1"), "A1");
  EXPECT_EQ(workbook::OdsFormulaText("IF(A1=\"a:b\";1)"), "IF(A1=\"a:b\";1)");
}

}  // namespace
