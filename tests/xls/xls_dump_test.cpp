// The dump's number and text forms must be exactly Python's repr(float) and
// json.dumps(), or every corpus comparison would fail on form alone.
#include <gtest/gtest.h>

#include <limits>

#include "xls/xls_dump.h"
#include "xls/xls_read.h"

TEST(XlsDump, PythonFloatRepr) {
  const struct { double value; const char* text; } cases[] = {
      {3.0, "3.0"}, {0.1, "0.1"}, {-0.5, "-0.5"}, {0.0, "0.0"}, {-0.0, "-0.0"},
      // Python switches to exponents below 1e-4 and from 1e16 on.
      {1e-05, "1e-05"}, {0.0001, "0.0001"}, {1.5e-07, "1.5e-07"}, {1e+16, "1e+16"},
      {1e15, "1000000000000000.0"}, {1234567890123456.0, "1234567890123456.0"},
      {12345678901234567.0, "1.2345678901234568e+16"}, {-2.5e+100, "-2.5e+100"},
      {5e-324, "5e-324"}, {1.7976931348623157e+308, "1.7976931348623157e+308"},
      {0.30000000000000004, "0.30000000000000004"}, {std::numeric_limits<double>::infinity(), "inf"},
      // Whole numbers on both sides of 2^53, where exact integers end.
      {43831.0, "43831.0"}, {-7.0, "-7.0"}, {9007199254740991.0, "9007199254740991.0"},
      {-9007199254740992.0, "-9007199254740992.0"}, {9007199254740994.0, "9007199254740994.0"},
      {9999999999999998.0, "9999999999999998.0"},
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

// Cells come out in sheet, row, column order whatever order they were
// reported in, and a place reported again keeps its last value, also when
// it is reported often enough for the dump to compact its cells meanwhile.
TEST(XlsDump, CellsInOrderLastReportCounts) {
  const auto dump = [](int repeats) {
    return xls::DumpEvents([repeats](TXLSRead& r) {
      bool read = true;
      r.OnSheet(r, "S", 0, read);
      r.OnNumberCell(r, 2, 1, 0, 7.0, false);
      for (int i = 0; i <= repeats; ++i) r.OnNumberCell(r, 0, 0, 0, i, false);
      r.OnStringCell(r, 1, 0, 0, "b", false);
      r.OnNumberCell(r, 0, 1, 0, 5.0, false);
      return std::string("#format\ttest");
    }).Lines();
  };
  for (const int repeats : {0, 3, 200000}) {
    const std::vector<std::string> expected = {
        "#format\ttest", "#sheet\t0\t\"S\"\t2\t3", "0\t0\t0\tnumber\t" + xls::PyFloatRepr(repeats),
        "0\t0\t1\ttext\t\"b\"", "0\t1\t0\tnumber\t5.0", "0\t1\t2\tnumber\t7.0"};
    EXPECT_EQ(dump(repeats), expected) << repeats;
  }
}
