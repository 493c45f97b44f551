#include "chart/format_float.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

struct Case {
  const char* format;
  double value;
  const char* text;
};

void Check(const Case* begin, const Case* end) {
  for (const Case* c = begin; c != end; ++c) {
    EXPECT_EQ(FormatFloat(c->format, c->value), c->text) << "format \"" << c->format << "\" value " << c->value;
  }
}

TEST(FormatFloat, ChartPictures) {
  const Case cases[] = {
      // axis labels and mark values
      {"#,##0.###", 0, "0"},
      {"#,##0.###", 65, "65"},
      {"#,##0.###", 1234.5, "1,234.5"},
      {"#,##0.###", 1234567.8916, "1,234,567.892"},
      {"#,##0.###", -1234.5, "-1,234.5"},
      {"#,##0.###", 0.0004, "0"},
      {"#,##0.###", -0.0004, "0"},  // rounds to zero: no minus sign
      {"#,##0.###", 999.9996, "1,000"},
      {"#,##0.###", 0.25, "0.25"},
      {"#,##0.###", 1e-12, "0"},
      // percentages
      {"##0.## %", 67.0 * 100 / 181, "37.02 %"},
      {"##0.## %", 100, "100 %"},
      {"##0.## %", 0, "0 %"},
      {"##0.## %", 12.5, "12.5 %"},
      {"##0.## %", 3.3149171270718, "3.31 %"},
      // whole numbers
      {"0", 2.5, "3"},
      {"0", -2.5, "-3"},
      {"0", 0.5, "1"},
      {"0", 0.49, "0"},
      {"#,##0", 1234567, "1,234,567"},
      {"#,##0", 999, "999"},
      {"#,##0", 1000, "1,000"},
      {"#,##0", -1000, "-1,000"},
      {"#,##0", 2147483647, "2,147,483,647"},
  };
  Check(std::begin(cases), std::end(cases));
}

TEST(FormatFloat, PlaceholderRules) {
  const Case cases[] = {
      {"#", 0, ""},
      {"#.##", 0.5, ".5"},
      {"#.##", -0.5, "-.5"},
      {"000", 5, "005"},
      {"0.00", 1.125, "1.13"},   // an exact half rounds away from zero
      {"0.00", -1.125, "-1.13"},
      {"0.00", 1.005, "1.00"},   // the double lies just below the half
      {"0.00", 7, "7.00"},
      {"0.0#", 7.1, "7.1"},
      {"0.0#", 7, "7.0"},
      {".00", 12.5, "12.50"},
      {"0", 123456, "123456"},   // more digits than placeholders
      {"#,#", 1234567, "1,234,567"},
      {"0.##", 9.999, "10"},
      {"\"Wert: \"0", 5, "Wert: 5"},
      {"'x'0'y'", 5, "x5y"},
      {"0 Stück", 3, "3 Stück"},
      {"0.00E+00", 12345, "1.23E+04"},
      {"0.00E+00", 0.00012345, "1.23E-04"},
      {"0.00E-00", 12345, "1.23E04"},
      {"0.00E+00", 0, "0.00E+00"},
      {"0.0E+0", 9.96, "1.0E+1"},
  };
  Check(std::begin(cases), std::end(cases));
}

TEST(FormatFloat, Sections) {
  const Case cases[] = {
      {"0;(0)", -5, "(5)"},
      {"0;(0)", 5, "5"},
      {"0;(0);'null'", 0, "null"},
      {"0;(0);'null'", -0.2, "null"},  // rounds to zero: the zero section
      {"0;;'null'", -5, "-5"},         // empty negative section: the first one
      {"0.0;-0.0 'neg'", -1.25, "-1.3 neg"},
      {"'a;b'0", 1, "a;b1"},           // ';' inside quotes is literal
  };
  Check(std::begin(cases), std::end(cases));
}

TEST(FormatFloat, FallsBackToGeneralText) {
  EXPECT_EQ(FormatFloat("", 2.5), "2.5");
  EXPECT_EQ(FormatFloat("#,##0", 1e20), "1E20");
  EXPECT_EQ(FormatFloat("0", std::numeric_limits<double>::quiet_NaN()), "NAN");
  EXPECT_EQ(FormatFloat("0", -std::numeric_limits<double>::infinity()), "-INF");
  EXPECT_EQ(FormatFloat("#,##0", 123456789012345678.0), "123,456,789,012,345,680");
}

}  // namespace
