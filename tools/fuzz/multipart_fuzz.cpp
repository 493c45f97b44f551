// libFuzzer target: any bytes as a multipart/form-data request body end in
// content or in TRequestBodyError. The first byte chooses how the body
// arrives (piece size, an announced length longer than the bytes, a read
// that fails) and how large the field limit is; the rest is the body. Upload
// files go to a scratch folder and leave no name there.
// Anything else (another exception, a sanitizer report, a hang, a huge
// allocation, a file left in the folder) is a find.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "http/form_data.h"
#include "http/http_fields.h"

namespace {

const std::string& Folder() {
  static const std::string folder = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "multipart_fuzz_XXXXXX").string();
    return std::string(::mkdtemp(pattern.data())) + "/";
  }();
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::uint8_t mode = data[0];
  const std::string body(reinterpret_cast<const char*>(data + 1), size - 1);
  static constexpr std::size_t kPieces[] = {1, 3, 7, 100, 4096, 1 << 20};
  const std::size_t piece = kPieces[mode % 6];
  const bool announceMore = (mode & 0x08) != 0;
  const bool failAtEnd = (mode & 0x10) != 0;
  TMultipartInput input;
  input.ContentLength = static_cast<std::int64_t>(body.size()) + (announceMore ? 17 : 0);
  input.Folder = Folder();
  input.FieldLimit = (mode & 0x20) != 0 ? 40 : 10000;
  std::size_t pos = 0;
  input.Read = [&](void* buffer, int count) -> int {
    if (pos == body.size() && failAtEnd) return -1;
    const std::size_t n = std::min({static_cast<std::size_t>(count), piece, body.size() - pos});
    std::memcpy(buffer, body.data() + pos, n);
    pos += n;
    return static_cast<int>(n);
  };
  std::vector<TUploadFile> files;
  try {
    const std::string content = ReadMultipartBody(input, files);
    for (const auto& name : FieldNames(content)) (void)LookupField(content, name, "");
  } catch (const TRequestBodyError&) {
  }
  if (!std::filesystem::is_empty(Folder())) std::abort();
  return 0;
}
