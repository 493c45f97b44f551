// libFuzzer target: request header values (the first line of the input an
// If-None-Match or If-Modified-Since value, the rest the current tag) never
// crash the validator rules, and every date that parses formats back to the
// same moment.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "http/cache_validators.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t newline = input.find('\n');
  const std::string_view field = input.substr(0, newline);
  const std::string_view tag = newline == std::string_view::npos ? std::string_view("\"t\"") : input.substr(newline + 1);
  if (const auto seconds = ParseHttpDate(field)) {
    if (ParseHttpDate(FormatHttpDate(*seconds)) != seconds) std::abort();
  }
  (void)IfNoneMatchMatches(field, tag);
  (void)NotModifiedSince(field, 784111777, 1796471595);
  (void)EvaluateConditional("GET", field, field, tag, 0, 1796471595);
  (void)MaxAgeCacheControl(field);
  TEntityTagBuilder builder;
  builder.Add(field, tag);
  if (IfNoneMatchMatches(builder.Tag(), builder.Tag()) != true) std::abort();
  return 0;
}
