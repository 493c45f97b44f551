// The output procedure table: the procedures through which the
// template filter and the image output reach the engine of the running
// request without knowing the engine classes. The engine core fills it in at
// start-up; tests may swap in their own procedures (save and restore the
// table around them).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

struct THttpProcTable {
  void (*HttpWriteText)(std::string_view text) = nullptr;
  void (*HttpWriteLine)(std::string_view text) = nullptr;
  void (*HttpWriteBinary)(const void* buffer, std::size_t count) = nullptr;
  int (*HttpReadBinary)(void* buffer, int count) = nullptr;
  void (*HttpWriteHeader)(std::string_view name, std::string_view value) = nullptr;
  std::string (*HttpServerVariable)(std::string_view name) = nullptr;
  std::string (*HttpFieldValue)(std::string_view name, std::string_view defaultValue) = nullptr;
  std::string (*HttpQueryString)() = nullptr;
  std::string (*HttpCookieString)() = nullptr;
  std::string (*HttpExecutablePath)() = nullptr;
  std::string (*HttpUserAgent)() = nullptr;
  void (*SetBinaryKind)(int kind) = nullptr;
  // A whole image as the body (a HEAD request gets only its header).
  void (*HttpWriteImage)(const void* buffer, std::size_t count) = nullptr;
};

// The process-wide table.
THttpProcTable& HttpProcTable();
