// libFuzzer target: any bytes as a WinCGI request file are read (from memory
// and from a file) into sections and keys, and every key is looked up again.
// Anything else (an exception, a sanitizer report, a hang, a huge
// allocation) is a find.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "gateways/cgi_ini_file.h"

namespace {

const std::string& FilePath() {
  static const std::string path = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "wincgi_request_fuzz_XXXXXX").string();
    return std::string(::mkdtemp(pattern.data())) + "/request.ini";
  }();
  return path;
}

void LookUpEverything(const TCGIIniFile& ini) {
  for (const auto& section : ini.Sections()) {
    for (const auto& key : ini.Keys(section)) {
      if (!ini.ValueExists(section, key)) std::abort();
      (void)ini.ReadString(" " + section + " ", key, "");
    }
  }
  (void)ini.ReadString("System", "Output File", "");
  (void)ini.ReadString("Form External", "x", "");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  TCGIIniFile parsed;
  parsed.Parse(text);
  LookUpEverything(parsed);
  std::ofstream(FilePath(), std::ios::binary | std::ios::trunc).write(text.data(), static_cast<std::streamsize>(size));
  const TCGIIniFile read(FilePath());
  if (read.Sections() != parsed.Sections()) std::abort();
  LookUpEverything(read);
  return 0;
}
