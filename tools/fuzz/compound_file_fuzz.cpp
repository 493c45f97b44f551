// libFuzzer target: any bytes handed to the compound-file reader either open
// or end in CompoundFileError; every stream of an opened container reads or
// ends in CompoundFileError. Anything else (another exception, a sanitizer
// report, a hang, a huge allocation) is a find.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/codepage.h"
#include "platform/compound_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    const platform::CompoundFile cf(std::vector<std::uint8_t>(data, data + size));
    for (const auto& element : cf.Elements()) {
      try {
        const auto bytes = cf.ReadStream(element.name);
        // Exercise the text decoders on whatever the streams hold.
        if (!bytes.empty()) {
          static const int kCodepages[] = {1252, 932, 1200, 1258, 367};
          const std::string_view text(reinterpret_cast<const char*>(bytes.data()), std::min<std::size_t>(bytes.size(), 512));
          (void)platform::CodepageToUtf8(text, kCodepages[bytes[0] % 5]);
        }
      } catch (const platform::CompoundFileError&) {
      }
    }
  } catch (const platform::CompoundFileError&) {
  }
  return 0;
}
