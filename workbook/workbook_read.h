// The one place that opens a workbook file, finds its format and runs its
// reader: the loader (chart requests through every gateway and upload) and
// the dump both come here.
#pragma once

#include <string>

#include "workbook/sheet_events.h"
#include "workbook/workbook_format.h"
#include "xls/xls_read.h"

namespace workbook {

// Reads the workbook file `path` into the events of `events` (see
// sheet_events.h). A BIFF workbook is read by events.Read() exactly as
// before (events.FileName is set to `path`); the other formats by their
// readers under `limits`. Returns the format read. Raises Exception
// "Filename is missing", "Cannot open file ...", "File is not a Excel
// file", "Can not read, file is encrypted" for an encrypted OOXML package,
// and each reader's refusals.
// `name` (when not empty) stands for the path where the name counts: the
// .csv/.txt test and the CSV sheet's name (an upload's own file name).
Format ReadWorkbookFile(TXLSRead& events, const std::string& path, const ReadLimits& limits,
                        const std::string& name = {});

// The format ReadWorkbookFile would read the file as, without reading it
// (kBiff also for files no reader takes). Raises as ReadWorkbookFile does
// for a missing file, a damaged zip or an encrypted package.
Format FileFormat(const std::string& path, const std::string& name = {});

}  // namespace workbook
