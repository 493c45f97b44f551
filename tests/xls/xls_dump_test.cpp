// The dump's number and text forms must be exactly Python's repr(float) and
// json.dumps(), or every corpus comparison would fail on form alone.
#include <gtest/gtest.h>

#include <limits>

#include "xls/xls_dump.h"

TEST(XlsDump, PythonFloatRepr) {
  const struct { double value; const char* text; } cases[] = {
      {3.0, "3.0"}, {0.1, "0.1"}, {-0.5, "-0.5"}, {0.0, "0.0"}, {-0.0, "-0.0"},
      // Python switches to exponents below 1e-4 and from 1e16 on.
      {1e-05, "1e-05"}, {0.0001, "0.0001"}, {1.5e-07, "1.5e-07"}, {1e+16, "1e+16"},
      {1e15, "1000000000000000.0"}, {1234567890123456.0, "1234567890123456.0"},
      {12345678901234567.0, "1.2345678901234568e+16"}, {-2.5e+100, "-2.5e+100"},
      {5e-324, "5e-324"}, {1.7976931348623157e+308, "1.7976931348623157e+308"},
      {0.30000000000000004, "0.30000000000000004"}, {std::numeric_limits<double>::infinity(), "inf"},
  };
  for (const auto& c : cases) EXPECT_EQ(xls::PyFloatRepr(c.value), c.text);
}

TEST(XlsDump, JsonQuote) {
  const struct { std::string text; const char* json; } cases[] = {
      {"", "\"\""}, {"a\"b\\c/", "\"a\\\"b\\\\c/\""},
      {"\n\r\t\b\f\x01\x1f\x7f", "\"\\n\\r\\t\\b\\f\\u0001\\u001f\\u007f\""}, {"Grüße", "\"Gr\\u00fc\\u00dfe\""},
      {"中文", "\"\\u4e2d\\u6587\""}, {"\xF0\x9F\x98\x80", "\"\\ud83d\\ude00\""},
  };
  for (const auto& c : cases) EXPECT_EQ(xls::JsonQuote(c.text), c.json) << c.text;
}
