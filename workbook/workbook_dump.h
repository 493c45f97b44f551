// The dump of a workbook of any format (xls-dump, the corpus tests): the
// format's first line ("#biff\tN" for BIFF, else "#format\txlsx", "ods" or
// "csv"), then the sheet and cell lines of xls/xls_dump.h.
#pragma once

#include <string>

#include "xls/xls_dump.h"

namespace workbook {

// Reads the whole workbook file under the dump's limits. A BIFF file is
// dumped exactly as xls::DumpWorkbookFile does; refusals raise Exception.
xls::DumpResult DumpWorkbookFile(const std::string& path);

}  // namespace workbook
