#include "platform/sysutils.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

TEST(StrToInt, AcceptsWhatTheRuntimeAcceptsAndRejectsWithItsMessage) {
  const std::pair<const char*, int> accepted[] = {{"0", 0},   {"42", 42},   {" 7", 7},           {"-5", -5},
                                                  {"+3", 3},  {"$FF", 255}, {"0x10", 16},        {"2147483647", 2147483647},
                                                  {"-2147483648", -2147483647 - 1}};
  for (const auto& [text, value] : accepted) EXPECT_EQ(StrToInt(text), value) << text;
  for (const char* text : {"", " ", "abc", "1 ", "1.5", "2147483648", "-", "12a", "$"}) {
    EXPECT_THAT([&] { (void)StrToInt(text); }, testing::ThrowsMessage<EConvertError>(testing::StrEq(
                                              std::string("'") + text + "' ist kein gültiger Integerwert")));
  }
}

TEST(FloatToStr, ShortestGeneralText) {
  EXPECT_EQ(FloatToStr(12), "12");
  EXPECT_EQ(FloatToStr(2.5), "2.5");
  EXPECT_EQ(FloatToStr(-0.125), "-0.125");
  EXPECT_EQ(FloatToStr(0.1), "0.1");
  EXPECT_EQ(FloatToStr(1e20), "1E20");
  EXPECT_EQ(FloatToStr(1e-5), "1E-5");
  EXPECT_EQ(FloatToStr(123456789012345.0), "123456789012345");
}

TEST(HtmlEscape, EscapesMarkupAndNonAscii) {
  EXPECT_EQ(HtmlEscape("a<b>&\"c\""), "a&lt;b&gt;&amp;\"c\"");
  EXPECT_EQ(HtmlEscape("S\xC3\xBC" "d"), "S&#252;d");
  EXPECT_EQ(HtmlEscape("\xE4\xB8\xAD"), "&#20013;");
  EXPECT_EQ(HtmlEscape("\xFF" "x"), "&#65533;x");
  EXPECT_EQ(HtmlEscape("\xC3"), "&#65533;");
  // Control characters, C1 ones included, but not tab, CR and LF.
  EXPECT_EQ(HtmlEscape(std::string("a\0b\x01\x1F\x7F\xC2\x85\t\r\n", 11)),
            "a&#65533;b&#65533;&#65533;&#65533;&#65533;\t\r\n");
}
