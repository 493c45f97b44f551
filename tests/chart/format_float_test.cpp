#include "chart/format_float.h"
#include <gtest/gtest.h>
#include <limits>

namespace {

TEST(FormatFloat, Pictures) {
  const struct { const char* format; double value; const char* text; } cases[] = {
      // axis labels and mark values
      {"#,##0.###", 1234567.8916, "1,234,567.892"}, {"#,##0.###", -1234.5, "-1,234.5"},
      {"#,##0.###", -0.0004, "0"},  // rounds to zero: no minus sign
      {"#,##0.###", 999.9996, "1,000"},
      // percentages
      {"##0.## %", 67.0 * 100 / 181, "37.02 %"}, {"##0.## %", 100, "100 %"},
      // whole numbers
      {"0", 2.5, "3"}, {"0", -2.5, "-3"}, {"#,##0", -1000, "-1,000"}, {"#,##0", 2147483647, "2,147,483,647"},
      // placeholders
      {"#", 0, ""}, {"#.##", -0.5, "-.5"}, {"000", 5, "005"},
      {"0.00", 1.125, "1.13"},  // an exact half rounds away from zero
      {"0.00", 1.005, "1.00"},  // the double lies just below the half
      {"0.0#", 7, "7.0"}, {".00", 12.5, "12.50"},
      {"0", 123456, "123456"},  // more digits than placeholders
      {"#,#", 1234567, "1,234,567"}, {"0.##", 9.999, "10"}, {"\"Wert: \"0", 5, "Wert: 5"}, {"0 Stück", 3, "3 Stück"},
      {"0.00E+00", 12345, "1.23E+04"}, {"0.00E+00", 0.00012345, "1.23E-04"}, {"0.00E-00", 12345, "1.23E04"},
      {"0.0E+0", 9.96, "1.0E+1"},
      // sections
      {"0;(0)", -5, "(5)"}, {"0;(0);'null'", 0, "null"},
      {"0;(0);'null'", -0.2, "null"},  // rounds to zero: the zero section
      {"0;;'null'", -5, "-5"},         // empty negative section: the first one
      {"'a;b'0", 1, "a;b1"},           // ';' inside quotes is literal
      // general text where no picture applies
      {"", 2.5, "2.5"}, {"#,##0", 1e20, "1E20"}, {"0", std::numeric_limits<double>::quiet_NaN(), "NAN"},
      {"0", -std::numeric_limits<double>::infinity(), "-INF"},
      {"#,##0", 123456789012345678.0, "123,456,789,012,345,680"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FormatFloat(c.format, c.value), c.text) << "format \"" << c.format << "\" value " << c.value;
  }
}

}  // namespace
