#include "workbook/xlsx_read.h"

#include "platform/sysutils.h"
#include "workbook/format_readers.h"

namespace workbook {

bool NamesWorkbookPart(ZipArchive&) { return false; }

void ReadXlsxPackage(TXLSRead&, ZipArchive&, const ReadLimits&) { throw Exception("not yet"); }

}  // namespace workbook
