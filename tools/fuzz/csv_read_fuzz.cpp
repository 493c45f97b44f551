// libFuzzer target: any bytes read as a CSV workbook, whole (as the dump
// reads) and for a chart (two rows), end in cells or in the reader's
// Exception; the dialect found is used to split the bytes once more with
// every field checked to be valid UTF-8. Anything else (another exception, a
// sanitizer report, a hang, a huge allocation) is a find.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/sysutils.h"
#include "workbook/csv_read.h"
#include "workbook/format_readers.h"

namespace {

bool ValidUtf8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    const std::size_t len = b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 0;
    if (len == 0 || i + len > s.size()) return false;
    for (std::size_t k = 1; k < len; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    }
    i += len;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> file(data, size);
  for (const auto& limits : {workbook::ReadLimits::Dump(), workbook::ReadLimits::Chart()}) {
    TXLSRead events;
    int lastRow = -1;
    events.OnSheet = [](TXLSRead&, const std::string&, int, bool& readIt) { readIt = true; };
    events.OnNumberCell = [&](TXLSRead&, int, int row, int, double, bool) { lastRow = row; };
    events.OnStringCell = [&](TXLSRead&, int, int row, int, const std::string& v, bool) {
      if (v.empty() || !ValidUtf8(v)) std::abort();
      lastRow = row;
    };
    try {
      workbook::ReadCsvWorkbook(events, file, "fuzz.csv", limits);
    } catch (const Exception&) {
    }
    if (limits.rowLimit > 0 && lastRow >= limits.rowLimit) std::abort();
  }
  const workbook::CsvDialect dialect = workbook::DetectCsvDialect(file);
  try {
    workbook::ReadCsvFields(file, dialect, [](int, int, std::string_view text) {
      (void)workbook::CsvNumber(text, ';');
      return true;
    });
  } catch (const Exception&) {
  }
  return 0;
}
