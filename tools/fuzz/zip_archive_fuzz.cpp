// libFuzzer target: any bytes handed to the zip reader either open or end in
// Exception; every entry of an opened archive inflates or ends in Exception,
// within a small inflate budget. Anything else (another exception, a
// sanitizer report, a hang, a huge allocation) is a find.
#include <cstddef>
#include <cstdint>

#include "platform/sysutils.h"
#include "workbook/zip_archive.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  workbook::InflateBudget budget(std::uint64_t{4} << 20, std::uint64_t{16} << 20);
  try {
    workbook::ZipArchive zip({data, size}, budget);
    for (const auto& entry : zip.Entries()) {
      (void)zip.Find(entry.name);
      try {
        std::size_t seen = 0;
        zip.Read(entry, [&](std::span<const std::uint8_t> chunk) {
          seen += chunk.size();
          return chunk.empty() || chunk[0] != 'S';  // sometimes stop early
        });
      } catch (const Exception&) {
      }
    }
  } catch (const Exception&) {
  }
  return 0;
}
