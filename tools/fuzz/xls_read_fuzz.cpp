// libFuzzer target: any bytes handed to the workbook reader (as a file, and
// as a bare BIFF8 record stream) end in a read or in the reader's Exception;
// every event handler is assigned so that every record handler runs, the
// formula decoder included. The bytes also go straight to the formula
// decoder as a token stream of each version, against a workbook with a few
// names and sheets.
// Anything else (another exception, a sanitizer report, a hang, a huge
// allocation) is a find.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/sysutils.h"
#include "xls/formula_decoder.h"
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
  if (size >= 3) {
    xls::FormulaContext context;
    context.Names = {"<Np0>", "Alpha", "Beta"};
    context.ExternNames = {"<Ep0>", "Ext"};
    context.Sheets = {"Sheet1", "My Sheet", "2019"};
    context.ExternSheets = {{0, 0, 0}, {0, 1, 2}, {1, 0, 0}, {0, 0xFFFF, 0xFFFF}, {7, 0, 0}};
    context.SupBooks = {{xls::SupBook::sbInternal, {}, {}, {}}, {xls::SupBook::sbExternal, "b.xls", {"S"}, {"n"}}};
    // First byte: version; next two: token count; the rest: tokens and data.
    context.Version = 1 + data[0] % 6;
    const std::size_t count = static_cast<std::size_t>(data[1] | data[2] << 8);
    try {
      (void)xls::DecodeFormula({data + 3, size - 3}, count, data[0], data[1], context);
    } catch (const Exception&) {
    }
  }
  return 0;
}
