#include "workbook/xlsx_read.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <map>

#include "platform/sysutils.h"
#include "support/cfb_test_writer.h"
#include "support/test_support.h"
#include "support/zip_builder.h"
#include "workbook/event_text.h"
#include "workbook/workbook_dump.h"
#include "workbook/workbook_read.h"

namespace {

const std::string kMain = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
const std::string kRelNs = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
const std::string kPkgRels = "http://schemas.openxmlformats.org/package/2006/relationships";

std::string Sheet(const std::string& rows, const std::string& ns = kMain) {
  return "<worksheet xmlns='" + ns + "'><sheetData>" + rows + "</sheetData></worksheet>";
}

// A package: the parts of a small two-sheet workbook, any of them replaced
// or added by `parts` (an empty text leaves the part out).
std::string Package(std::map<std::string, std::string> parts) {
  std::map<std::string, std::string> all = {
      {"[Content_Types].xml",
       "<Types xmlns='http://schemas.openxmlformats.org/package/2006/content-types'><Override PartName='/xl/workbook.xml' "
       "ContentType='application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml'/></Types>"},
      {"_rels/.rels", "<Relationships xmlns='" + kPkgRels + "'><Relationship Id='r1' Type='" + kRelNs +
                          "/officeDocument' Target='xl/workbook.xml'/></Relationships>"},
      {"xl/workbook.xml", "<workbook xmlns='" + kMain + "' xmlns:r='" + kRelNs +
                              "'><sheets><sheet name='Eins' sheetId='1' r:id='s1'/><sheet name='Zwei' sheetId='2' "
                              "r:id='s2'/></sheets></workbook>"},
      {"xl/_rels/workbook.xml.rels",
       "<Relationships xmlns='" + kPkgRels + "'><Relationship Id='s1' Type='" + kRelNs +
           "/worksheet' Target='worksheets/sheet1.xml'/><Relationship Id='s2' Type='" + kRelNs +
           "/worksheet' Target='/xl/worksheets/sheet2.xml'/><Relationship Id='t' Type='" + kRelNs +
           "/sharedStrings' Target='sharedStrings.xml'/><Relationship Id='y' Type='" + kRelNs +
           "/styles' Target='styles.xml'/></Relationships>"},
      {"xl/sharedStrings.xml", "<sst xmlns='" + kMain + "'><si><t>Hallo</t></si><si><t>Welt</t></si></sst>"},
      {"xl/styles.xml", "<styleSheet xmlns='" + kMain +
                            "'><numFmts><numFmt numFmtId='164' formatCode='dd/mm/yyyy'/></numFmts><cellXfs>"
                            "<xf numFmtId='0'/><xf numFmtId='164'/><xf numFmtId='14'/></cellXfs></styleSheet>"},
      {"xl/worksheets/sheet1.xml", Sheet("<row r='1'><c r='A1' t='s'><v>0</v></c><c r='B1'><v>1.5</v></c></row>")},
      {"xl/worksheets/sheet2.xml", Sheet("<row r='1'><c r='A1' t='s'><v>1</v></c></row>")},
  };
  for (auto& [name, text] : parts) all[name] = text;
  std::vector<ziptest::ZipEntry> entries;
  for (const auto& [name, text] : all) {
    if (!text.empty()) entries.push_back({.name = name, .data = text});
  }
  // [Content_Types].xml sorts first, as writers put it.
  return ziptest::BuildZip(entries);
}

// The dump of a workbook file with `bytes` (the dump's lines, or its refusal).
std::string Dump(const std::string& bytes, bool formulas = false) {
  testing_support::TempDir dir;
  const std::string path = (dir.path() / "book.xlsx").string();
  testing_support::WriteText(path, bytes);
  try {
    const auto dump = workbook::DumpWorkbookFile(path);
    return formulas ? xls::FormulaDump(dump) : dump.text;
  } catch (const Exception& e) {
    return e.what();
  }
}

TEST(XlsxRead, ReadsTheDetailsRealFilesUse) {
  // what, parts, dump after the first two lines
  struct Case { const char* what; std::map<std::string, std::string> parts; std::string cells; };
  const Case cases[] = {
      {"shared strings and numbers", {}, "0\t0\t0\ttext\t\"Hallo\"\n0\t0\t1\tnumber\t1.5\n"},
      {"no r attributes",
       {{"xl/worksheets/sheet1.xml", Sheet("<row><c><v>1</v></c><c><v>2</v></c></row><row><c><v>3</v></c></row>")}},
       "0\t0\t0\tnumber\t1.0\n0\t0\t1\tnumber\t2.0\n0\t1\t0\tnumber\t3.0\n"},
      {"gaps",
       {{"xl/worksheets/sheet1.xml", Sheet("<row r='3'><c r='C3'><v>1</v></c><c><v>2</v></c></row><row><c><v>3</v></c></row>")}},
       "0\t2\t2\tnumber\t1.0\n0\t2\t3\tnumber\t2.0\n0\t3\t0\tnumber\t3.0\n"},
      {"any prefix",
       {{"xl/worksheets/sheet1.xml",
         "<x:worksheet xmlns:x='" + kMain + "'><x:sheetData><x:row><x:c t='b'><x:v>1</x:v></x:c></x:row></x:sheetData></x:worksheet>"}},
       "0\t0\t0\tbool\t1\n"},
      {"foreign elements ignored",
       {{"xl/worksheets/sheet1.xml", Sheet("<row><c xmlns:o='urn:o'><o:v>7</o:v><v>1</v></c></row>")}},
       "0\t0\t0\tnumber\t1.0\n"},
      {"inline, rich and phonetic",
       {{"xl/worksheets/sheet1.xml",
         Sheet("<row><c t='inlineStr'><is><r><t>ab</t></r><r><t xml:space='preserve'> c</t></r><rPh><t>X</t></rPh></is>"
               "</c><c t='inlineStr'><is><t></t></is></c><c t='inlineStr'/></row>")}},
       "0\t0\t0\ttext\t\"ab c\"\n"},
      {"escapes",
       {{"xl/sharedStrings.xml", "<sst xmlns='" + kMain + "'><si><t>a_x000D_b_x005F_x0041_</t></si><si/></sst>"}},
       "0\t0\t0\ttext\t\"a\\rb_x0041_\"\n0\t0\t1\tnumber\t1.5\n"},
      {"cell types",
       {{"xl/worksheets/sheet1.xml",
         Sheet("<row><c t='str'><f>A2&amp;\"x\"</f><v>tx</v></c><c t='e'><v>#DIV/0!</v></c><c t='e'><v>#N/A</v></c>"
               "<c t='b'><v>0</v></c><c t='d'><v>2024-01-31T12:00:00</v></c><c t='n'><v> 2E3 </v></c>"
               "<c><f>1/0</f></c><c t='str'><v></v></c></row>")}},
       "0\t0\t0\ttext\t\"tx\"\n0\t0\t1\terror\t0x07\n0\t0\t2\terror\t0x2a\n0\t0\t3\tbool\t0\n"
       "0\t0\t4\tdate\t45322.5\n0\t0\t5\tnumber\t2000.0\n"},
      {"whole numbers",
       {{"xl/worksheets/sheet1.xml",
         Sheet("<row><c><v>007</v></c><c><v>+12</v></c><c><v>-0</v></c><c><v>999999999999999</v></c>"
               "<c><v>12345678901234567</v></c><c><v> 42 </v></c><c><v>4x</v></c><c t='bogus'><v>5</v></c></row>")}},
       "0\t0\t0\tnumber\t7.0\n0\t0\t1\tnumber\t12.0\n0\t0\t2\tnumber\t-0.0\n0\t0\t3\tnumber\t999999999999999.0\n"
       "0\t0\t4\tnumber\t1.2345678901234568e+16\n0\t0\t5\tnumber\t42.0\n0\t0\t7\tnumber\t5.0\n"},
      {"date formats",
       {{"xl/worksheets/sheet1.xml", Sheet("<row><c s='1'><v>45000</v></c><c s='2'><v>1</v></c><c s='9'><v>2</v></c></row>")}},
       "0\t0\t0\tdate\t45000.0\n0\t0\t1\tdate\t1.0\n0\t0\t2\tnumber\t2.0\n"},
      {"1904 system",
       {{"xl/workbook.xml", "<workbook xmlns='" + kMain + "' xmlns:r='" + kRelNs +
                                "'><workbookPr date1904='1'/><sheets><sheet name='Eins' r:id='s1'/></sheets></workbook>"},
        {"xl/worksheets/sheet1.xml", Sheet("<row><c t='d'><v>1904-01-02</v></c><c s='1'><v>5</v></c></row>")}},
       "0\t0\t0\tdate\t1.0\n0\t0\t1\tdate\t5.0\n"},
      {"strict namespaces",
       {{"_rels/.rels", "<Relationships xmlns='" + kPkgRels +
                            "'><Relationship Id='r1' Type='http://purl.oclc.org/ooxml/officeDocument/relationships/"
                            "officeDocument' Target='/xl/workbook.xml'/></Relationships>"},
        {"xl/workbook.xml", "<workbook xmlns='http://purl.oclc.org/ooxml/spreadsheetml/main' "
                            "xmlns:r='http://purl.oclc.org/ooxml/officeDocument/relationships'><sheets>"
                            "<sheet name='Eins' r:id='s1'/></sheets></workbook>"},
        {"xl/_rels/workbook.xml.rels", "<Relationships xmlns='" + kPkgRels +
                                           "'><Relationship Id='s1' Type='http://purl.oclc.org/ooxml/officeDocument/"
                                           "relationships/worksheet' Target='worksheets/../worksheets/sheet1.xml'/>"
                                           "</Relationships>"},
        {"xl/worksheets/sheet1.xml", Sheet("<row><c><v>4</v></c></row>", "http://purl.oclc.org/ooxml/spreadsheetml/main")}},
       "0\t0\t0\tnumber\t4.0\n"},
  };
  for (const auto& c : cases) {
    const std::string dump = Dump(Package(c.parts));
    std::string firstSheet;  // the cell lines of sheet 0
    for (std::size_t at = 0; at < dump.size(); at = dump.find('\n', at) + 1) {
      if (dump.compare(at, 2, "0\t") == 0) firstSheet += dump.substr(at, dump.find('\n', at) + 1 - at);
      if (dump.find('\n', at) == std::string::npos) break;
    }
    EXPECT_EQ(firstSheet, c.cells) << c.what << "\n" << dump;
  }
}

TEST(XlsxRead, SheetsInWorkbookOrderChartSheetsSkipped) {
  const std::string parts = Dump(Package({
      {"xl/workbook.xml", "<workbook xmlns='" + kMain + "' xmlns:r='" + kRelNs +
                              "'><sheets><sheet name='Zwei' r:id='s2'/><sheet name='Chart' r:id='c'/>"
                              "<sheet name='Eins' r:id='s1' state='hidden'/></sheets></workbook>"},
      {"xl/_rels/workbook.xml.rels",
       "<Relationships xmlns='" + kPkgRels + "'><Relationship Id='s1' Type='" + kRelNs +
           "/worksheet' Target='worksheets/sheet1.xml'/><Relationship Id='s2' Type='" + kRelNs +
           "/worksheet' Target='/xl/worksheets/sheet2.xml'/><Relationship Id='c' Type='" + kRelNs +
           "/chartsheet' Target='chartsheets/sheet1.xml'/><Relationship Id='t' Type='" + kRelNs +
           "/sharedStrings' Target='sharedStrings.xml'/></Relationships>"},
  }));
  EXPECT_EQ(parts, "#format\txlsx\n#sheet\t0\t\"Zwei\"\t1\t1\n#sheet\t1\t\"Eins\"\t1\t2\n0\t0\t0\ttext\t\"Welt\"\n"
                   "1\t0\t0\ttext\t\"Hallo\"\n1\t0\t1\tnumber\t1.5\n");
}

TEST(XlsxRead, FormulaDumpExpandsSharedFormulas) {
  const std::string dump = Dump(
      Package({{"xl/worksheets/sheet1.xml",
                Sheet("<row r='2'><c r='B2'><f t='shared' si='0' ref='B2:C3'>A1+$A$1+A$1+SUM(A1:B1)+LOG10(4)+\"A1\"</f>"
                      "<v>1</v></c><c r='C2'><f t='shared' si='0'/><v>2</v></c></row><row r='3'><c r='B3'>"
                      "<f t='shared' si='0'/><v>3</v></c><c r='C3'><f>Zwei!A1</f><v>4</v></c></row>")}}),
      true);
  EXPECT_EQ(dump, "#format\txlsx\n#sheet\t0\t\"Eins\"\t3\t3\n#sheet\t1\t\"Zwei\"\t1\t1\n"
                  "0\t1\t1\tformula\t\"A1+$A$1+A$1+SUM(A1:B1)+LOG10(4)+\\\"A1\\\"\"\n"
                  "0\t1\t2\tformula\t\"B1+$A$1+B$1+SUM(B1:C1)+LOG10(4)+\\\"A1\\\"\"\n"
                  "0\t2\t1\tformula\t\"A2+$A$1+A$1+SUM(A2:B2)+LOG10(4)+\\\"A1\\\"\"\n"
                  "0\t2\t2\tformula\t\"Zwei!A1\"\n");
}

// A chart request: the selected sheet's first two rows and the shared
// strings they use, nothing more.
TEST(XlsxRead, ChartRequestStopsAfterTheSecondRow) {
  std::string rows, strings;
  for (int r = 1; r <= 3; ++r) rows += "<row r='" + std::to_string(r) + "'><c t='s'><v>" + std::to_string(r) + "</v></c></row>";
  rows += "<row r='4'><c><v>" + std::string(1 << 20, '9') + "</v></c></row>";
  for (int i = 0; i < 3; ++i) strings += "<si><t>s" + std::to_string(i) + "</t></si>";
  strings += "<si><t>" + std::string(1 << 20, 'x') + "</t></si><si>";  // cut short: never read
  testing_support::TempDir dir;
  const std::string path = (dir.path() / "big.xlsx").string();
  testing_support::WriteText(path, Package({{"xl/worksheets/sheet2.xml", Sheet(rows)},
                                            {"xl/sharedStrings.xml", "<sst xmlns='" + kMain + "'>" + strings}}));
  TXLSRead events;
  std::string seen;
  RecordEvents(events, seen, 1);
  EXPECT_EQ(workbook::ReadWorkbookFile(events, path, workbook::ReadLimits::Chart()), workbook::Format::kXlsx);
  EXPECT_EQ(seen, "#0 Eins | #1 Zwei | 0,0 text \"s1\" | 1,0 text \"s2\"");
}

TEST(XlsxRead, RefusesHostileAndBrokenPackagesQuickly) {
  std::uint32_t crc = 0;
  const std::string bomb = ziptest::DeflateZeros(1 << 20, 2048, crc);
  std::string deep;
  for (int i = 0; i < 1000; ++i) deep += "<a>";
  const std::string good = Package({});
  // A compound document holding EncryptedPackage, as Office saves an
  // OOXML workbook with a password.
  const auto cfb = testing_support::BuildCfb({{"EncryptionInfo", std::vector<std::uint8_t>(200, 4)},
                             {"EncryptedPackage", std::vector<std::uint8_t>(5000, 7)}});
  const std::string encrypted(cfb.bytes.begin(), cfb.bytes.end());
  testing_support::TempDir dir;
  // what, bytes, message
  struct Case { const char* what; std::string bytes; std::string message; };
  const Case cases[] = {
      {"sheet inflating to 2 GiB",
       ziptest::BuildZip({{.name = "[Content_Types].xml", .data = "<Types xmlns='http://"
                           "schemas.openxmlformats.org/package/2006/content-types'><Override PartName='/w.xml' "
                           "ContentType='application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml'/>"
                           "</Types>"},
                          {.name = "w.xml", .raw = bomb, .rawSize = std::uint64_t{2} << 30, .rawCrc = crc}}),
       "Workbook part w.xml: XML error at line 1: not well-formed (invalid token)"},
      {"DOCTYPE with an external entity",
       Package({{"xl/workbook.xml", "<!DOCTYPE w [<!ENTITY x SYSTEM 'file:///etc/passwd'>]><workbook xmlns='" + kMain +
                                        "'>&x;</workbook>"}}),
       "Workbook part xl/workbook.xml: a DOCTYPE is not allowed"},
      {"entity expansion in the shared strings",
       Package({{"xl/sharedStrings.xml", "<!DOCTYPE s [<!ENTITY a 'aaaaaaaa'><!ENTITY b '&a;&a;&a;&a;'>]><sst "
                                         "xmlns='" + kMain + "'><si><t>&b;</t></si></sst>"}}),
       "Workbook part xl/sharedStrings.xml: a DOCTYPE is not allowed"},
      {"deep nesting", Package({{"xl/worksheets/sheet1.xml", Sheet(deep)}}),
       "Workbook part xl/worksheets/sheet1.xml: elements nest deeper than 256"},
      {"missing sheet part", Package({{"xl/worksheets/sheet1.xml", ""}}), "Workbook part xl/worksheets/sheet1.xml is missing"},
      {"missing shared string", Package({{"xl/sharedStrings.xml", "<sst xmlns='" + kMain + "'/>"}}),
       "Workbook part xl/sharedStrings.xml has no shared string 0"},
      {"bad cell reference", Package({{"xl/worksheets/sheet1.xml", Sheet("<row><c r='XFE1'><v>1</v></c></row>")}}),
       "Workbook part xl/worksheets/sheet1.xml: bad cell reference \"XFE1\""},
      {"zip without workbook", ziptest::BuildZip({{.name = "a.txt", .data = "a"}}), "File is not a Excel file"},
      {"truncated package", good.substr(0, good.size() / 2), "Damaged zip archive: no central directory"},
      {"encrypted package", encrypted, "Can not read, file is encrypted"},
  };
  for (const auto& c : cases) {
    const auto start = std::chrono::steady_clock::now();
    const std::string path = (dir.path() / "h.xlsx").string();
    testing_support::WriteText(path, c.bytes);
    TXLSRead events;
    EXPECT_THAT([&] { workbook::ReadWorkbookFile(events, path, workbook::ReadLimits::Chart()); },
                testing::ThrowsMessage<Exception>(testing::StrEq(c.message))) << c.what;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << c.what;
  }
}

TEST(XlsxRead, PureHelpers) {
  // source, target, part
  const std::tuple<const char*, const char*, const char*> targets[] = {
      {"xl/workbook.xml", "worksheets/sheet1.xml", "xl/worksheets/sheet1.xml"},
      {"xl/workbook.xml", "/xl/worksheets/s.xml", "xl/worksheets/s.xml"},
      {"xl/workbook.xml", "../custom/./s.xml", "custom/s.xml"},
      {"", "xl/workbook.xml", "xl/workbook.xml"},
      {"xl/workbook.xml", "..\\..\\..\\s.xml", "s.xml"},
  };
  for (const auto& [source, target, part] : targets) EXPECT_EQ(workbook::ResolveTarget(source, target), part) << target;
  // text, decoded
  const std::pair<const char*, const char*> escapes[] = {
      {"a_x000D_b", "a\rb"}, {"_x005F_x000D_", "_x000D_"}, {"_x00e4_", "\xC3\xA4"}, {"_xD83D__xDE00_", "\xF0\x9F\x98\x80"},
      {"_x00G1_", "_x00G1_"}, {"_x41_", "_x41_"}, {"_xD83D_", "\xEF\xBF\xBD"}, {"plain", "plain"},
  };
  for (const auto& [text, decoded] : escapes) EXPECT_EQ(workbook::DecodeXString(text), decoded) << text;
  // text, 1904, serial (-1: not a date)
  const std::tuple<const char*, bool, double> dates[] = {
      {"1899-12-30", false, 0},    {"1900-01-01", false, 1},         {"1900-03-01", false, 61},
      {"2024-01-31T12:00:00", false, 45322.5}, {"2024-01-31T06:00:00.5Z", false, 45322.25 + 0.5 / 86400},
      {"1904-01-02", true, 1},     {"2024-13-01", false, -1},        {"31.01.2024", false, -1},
  };
  for (const auto& [text, date1904, serial] : dates) {
    double value = -1;
    if (!workbook::IsoDateSerial(text, date1904, value)) value = -1;
    EXPECT_DOUBLE_EQ(value, serial) << text;
  }
  // code, is a date
  const std::pair<const char*, bool> codes[] = {
      {"dd/mm/yyyy", true}, {"[h]:mm:ss", true}, {"h:mm AM/PM", true}, {"General", false}, {"0.00", false},
      {"[Red]0.00", false}, {"\"days\"0", false}, {"0;[Red]-0;\"d\"", false}, {"\\d0", false}, {"[$-409]mmm", true},
      {"#,##0 _m", false},
  };
  for (const auto& [code, date] : codes) EXPECT_EQ(workbook::IsDateFormatCode(code), date) << code;
}

}  // namespace
