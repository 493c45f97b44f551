#include "workbook/workbook_dump.h"

#include "workbook/workbook_read.h"
#include "xls/xls_read.h"

namespace workbook {

xls::DumpResult DumpWorkbookFile(const std::string& path) {
  if (FileFormat(path) == Format::kBiff) return xls::DumpWorkbookFile(path);
  return xls::DumpEvents([&](TXLSRead& reader) {
    return std::string("#format\t") + FormatName(ReadWorkbookFile(reader, path, ReadLimits::Dump()));
  });
}

}  // namespace workbook
