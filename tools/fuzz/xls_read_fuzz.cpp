// libFuzzer target: any bytes handed to the workbook reader (as a file, and
// as a bare BIFF8 record stream) end in a read or in the reader's Exception;
// every event handler is assigned so that every record handler runs.
// Anything else (another exception, a sanitizer report, a hang, a huge
// allocation) is a find.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/sysutils.h"
#include "xls/xls_read.h"

namespace {

void Attach(TXLSRead& r) {
  r.ErrorLevel = xelMessage;
  r.OnMessageBox = [](const std::string&, bool) { return true; };  // read on
  r.OnSheet = [](TXLSRead&, const std::string&, int, bool& readIt) { readIt = true; };
  r.OnNumberCell = [](TXLSRead& s, int, int, int xf, double, bool) { (void)s.GetCellColor(xf); };
  r.OnStringCell = [](TXLSRead& s, int, int, int xf, const std::string&, bool) { (void)s.GetCellColor(xf); };
  r.OnBoolCell = [](TXLSRead&, int, int, int, bool, bool) {};
  r.OnBlankCell = [](TXLSRead&, int, int, int) {};
  r.OnRichCell = [](TXLSRead&, int, int, int, const std::string&, std::span<const std::uint32_t>) {};
  r.OnFormulaCell = [](TXLSRead&, int, int, const std::string&) {};
  r.OnErrorCell = [](TXLSRead&, int, int, int, int, bool) {};
  r.OnCol = [](TXLSRead&, int, int, int, int) {};
  r.OnRow = [](TXLSRead&, int, int, int, int, int) {};
  r.OnProgress = [](TXLSRead&, int) {};
  r.OnRecord = [](TXLSRead&, std::uint16_t, int, const std::uint8_t*) {};
  r.OnUnhandled = [](TXLSRead&, std::uint16_t, int, const std::uint8_t*) {};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> bytes(data, data + size);
  TXLSRead reader;
  Attach(reader);
  try {
    reader.ReadMemory(bytes);
  } catch (const Exception&) {
  }
  try {
    reader.ReadRecordStream(bytes, true);
  } catch (const Exception&) {
  }
  return 0;
}
