// libFuzzer target: any bytes as a resident server's request file, read in
// chunks of a size the input picks, give the head that the whole bytes
// give (or none), and any bytes as a queue file decode into records that
// encode back to themselves. Anything else (a sanitizer report, a hang, a
// huge allocation, a mismatch) is a find.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "resident/cgi_exchange_format.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::size_t chunk = size == 0 ? 1 : 1 + (static_cast<std::size_t>(data[0]) * 37) % 8192;
  std::size_t at = 0;
  const TRequestFileHead head = ReadRequestFileHead([&](char* buffer, std::size_t count) {
    const std::size_t n = std::min({count, chunk, size - at});
    std::memcpy(buffer, bytes.data() + at, n);
    at += n;
    return n;
  });
  std::vector<std::string> lines;
  const auto length = ParseRequestHead(bytes, lines);
  if (head.Complete != length.has_value()) __builtin_trap();
  if (length && (head.Lines != lines || bytes.substr(*length, head.BodyStart.size()) != head.BodyStart)) {
    __builtin_trap();
  }
  for (const char* name : {"CONTENT_LENGTH", "CONTENT_TYPE", "QUERY_STRING", ""}) {
    (void)RequestVariable(head.Lines, name);
  }
  for (const auto& record : DecodeQueue(bytes)) {
    const auto encoded = EncodeQueueRecord(record);
    const TQueueRecord again = DecodeQueueRecord(encoded.data());
    if (again.Status != record.Status || again.RequestName != record.RequestName ||
        std::memcmp(&again.QueuedAt, &record.QueuedAt, sizeof(double)) != 0) {
      __builtin_trap();
    }
  }
  return 0;
}
