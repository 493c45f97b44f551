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

// As ReadWorkbookFile, but a file for the BIFF reader (also one no reader
// takes) is not read: kBiff comes back with nothing reported. For a caller
// that reads BIFF files its own way (the dump), so that a file of another
// format is opened and its container read only once.
Format ReadWorkbookFileUnlessBiff(TXLSRead& events, const std::string& path, const ReadLimits& limits,
                                  const std::string& name = {});

}  // namespace workbook
