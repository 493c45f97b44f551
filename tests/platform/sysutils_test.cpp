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
  const std::pair<double, const char*> cases[] = {{12, "12"}, {2.5, "2.5"}, {-0.125, "-0.125"}, {0.1, "0.1"},
                                                  {1e20, "1E20"}, {1e-5, "1E-5"}, {123456789012345.0, "123456789012345"}};
  for (const auto& [value, text] : cases) EXPECT_EQ(FloatToStr(value), text) << value;
}

TEST(HtmlEscape, EscapesMarkupAndNonAscii) {
  const std::pair<std::string, const char*> cases[] = {
      {"a<b>&\"c\"", "a&lt;b&gt;&amp;\"c\""}, {"S\xC3\xBC" "d", "S&#252;d"}, {"\xE4\xB8\xAD", "&#20013;"},
      {"\xFF" "x", "&#65533;x"}, {"\xC3", "&#65533;"},
      // Control characters, C1 ones included, but not tab, CR and LF.
      {std::string("a\0b\x01\x1F\x7F\xC2\x85\t\r\n", 11), "a&#65533;b&#65533;&#65533;&#65533;&#65533;\t\r\n"},
  };
  for (const auto& [text, html] : cases) EXPECT_EQ(HtmlEscape(text), html) << text;
}
