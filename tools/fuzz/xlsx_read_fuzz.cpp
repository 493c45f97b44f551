// libFuzzer target for the streaming XML layer and the OOXML reader: the
// input, split at "\n--\n", is the worksheet, the shared strings and the
// styles part of a small workbook package built around it (stored entries,
// so the fuzzer mutates the XML itself). Each read is run twice, as a chart
// request (two rows) and as the dump. It ends normally or in Exception;
// anything else is a find.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/sysutils.h"
#include "tests/support/zip_builder.h"
#include "workbook/format_readers.h"
#include "workbook/zip_archive.h"
#include "xls/xls_read.h"

namespace {

constexpr const char* kContentTypes =
    "<Types xmlns='http://schemas.openxmlformats.org/package/2006/content-types'><Override PartName='/xl/workbook.xml' "
    "ContentType='application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml'/></Types>";
constexpr const char* kRels =
    "<Relationships xmlns='http://schemas.openxmlformats.org/package/2006/relationships'><Relationship Id='r1' "
    "Type='http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument' "
    "Target='xl/workbook.xml'/></Relationships>";
constexpr const char* kWorkbook =
    "<workbook xmlns='http://schemas.openxmlformats.org/spreadsheetml/2006/main' "
    "xmlns:r='http://schemas.openxmlformats.org/officeDocument/2006/relationships'><sheets>"
    "<sheet name='A' sheetId='1' r:id='s1'/><sheet name='B' sheetId='2' r:id='s1'/></sheets></workbook>";
constexpr const char* kWorkbookRels =
    "<Relationships xmlns='http://schemas.openxmlformats.org/package/2006/relationships'>"
    "<Relationship Id='s1' Type='http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet' "
    "Target='worksheets/sheet1.xml'/>"
    "<Relationship Id='s2' Type='http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings' "
    "Target='sharedStrings.xml'/>"
    "<Relationship Id='s3' Type='http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles' "
    "Target='styles.xml'/></Relationships>";

std::string_view Piece(std::string_view& rest) {
  const std::size_t cut = rest.find("\n--\n");
  const std::string_view piece = rest.substr(0, cut);
  rest = cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 4);
  return piece;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  const std::string sheet(Piece(rest)), strings(Piece(rest)), styles(Piece(rest));
  const auto stored = [](const char* name, std::string text) {
    return ziptest::ZipEntry{.name = name, .data = std::move(text), .deflate = false};
  };
  const std::string zipBytes = ziptest::BuildZip({stored("[Content_Types].xml", kContentTypes),
                                                  stored("_rels/.rels", kRels), stored("xl/workbook.xml", kWorkbook),
                                                  stored("xl/_rels/workbook.xml.rels", kWorkbookRels),
                                                  stored("xl/worksheets/sheet1.xml", sheet),
                                                  stored("xl/sharedStrings.xml", strings), stored("xl/styles.xml", styles)});
  for (int rows : {2, 0}) {
    TXLSRead events;
    std::size_t cells = 0;
    events.OnSheet = [](TXLSRead&, const std::string&, int, bool& readIt) { readIt = true; };
    events.OnNumberCell = [&](TXLSRead&, int, int, int, double, bool) { ++cells; };
    events.OnStringCell = [&](TXLSRead&, int, int, int, const std::string& s, bool) { cells += s.size() > 0; };
    events.OnBoolCell = [&](TXLSRead&, int, int, int, bool, bool) { ++cells; };
    events.OnFormulaCell = [&](TXLSRead&, int, int, const std::string& f) { cells += f.size() > 0; };
    try {
      workbook::ReadLimits limits{workbook::InflateBudget(std::uint64_t{8} << 20, std::uint64_t{32} << 20), rows};
      workbook::ZipArchive zip({reinterpret_cast<const std::uint8_t*>(zipBytes.data()), zipBytes.size()},
                               limits.budget);
      workbook::ReadXlsxPackage(events, zip, limits);
    } catch (const Exception&) {
    }
  }
  return 0;
}
