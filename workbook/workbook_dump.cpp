#include "workbook/workbook_dump.h"

#include "workbook/workbook_read.h"
#include "xls/xls_read.h"

namespace workbook {

xls::DumpResult DumpWorkbookFile(const std::string& path) {
  bool biff = false;
  xls::DumpResult dump = xls::DumpEvents([&](TXLSRead& reader) {
    const Format format = ReadWorkbookFileUnlessBiff(reader, path, ReadLimits::Dump());
    biff = format == Format::kBiff;
    return std::string("#format\t") + FormatName(format);
  });
  // Nothing was reported for a BIFF file: it is dumped as the BIFF reader reads it.
  if (biff) return xls::DumpWorkbookFile(path);
  return dump;
}

}  // namespace workbook
