#include "xlswrite/encode_formula.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace {
// An encoder as the BIFF5 writer sets it up: sheets Sheet1, Data and
// "My Sheet"; defined names Rate and Tax (1-based); one external function.
TEncodeFormula Encoder(char separator = ',') {
  TEncodeFormula e;
  e.VersionCode = 4;
  e.FuncArgSeparator = separator;
  e.AddInLinkIndex = 4;
  e.OnSheet = [](const std::string& n) { return n == "Sheet1" ? 0 : n == "Data" ? 1 : n == "My Sheet" ? 2 : -1; };
  e.OnDefinedName = [](const std::string& n) { return n == "Rate" ? 1 : n == "Tax" ? 2 : -1; };
  e.OnExternalFunction = [](const std::string& n) { return n == "MYADDIN" ? 0 : -1; };
  return e;
}

std::string Encode(TEncodeFormula e, const std::string& text, int capacity = 2058) {
  std::vector<std::uint8_t> buf(static_cast<std::size_t>(capacity));
  const int n = e.Encode(text, buf.data(), capacity);
  return testing_support::Hex(buf.data(), static_cast<std::size_t>(n));
}

TEST(EncodeFormula, Tokens) {
  struct Case { const char* text; char separator; const char* tokens; };
  const Case cases[] = {
      {"1+2*3", ',', "1E 01 00 1E 02 00 1E 03 00 05 03"}, {"1-2-3", ',', "1E 01 00 1E 02 00 04 1E 03 00 04"},
      {"-A1", ',', "44 00 C0 00 13"}, {"$B$2", ',', "44 01 00 01"},
      {"SUM(A1;B1)", ';', "44 00 C0 00 44 00 C0 01 42 02 04 00"}, {"PI()", ',', "41 13 00"},
      {"40000", ',', "1F 00 00 00 00 00 88 E3 40"}, {"#DIV/0!", ',', "1C 07"}, {"", ',', ""},
      // Columns up to IV, rows up to 16384; mixed absolute flags.
      {"HA1+IV$16384", ',', "44 00 C0 D0 44 FF 7F FF 03"}, {"A$1:$B2", ',', "25 00 40 01 80 00 01"},
      // Operators: precedence, "&" with "+", comparison lowest, power, parentheses.
      {"1<>2&\"x\"", ',', "1E 01 00 1E 02 00 17 01 78 08 0E"}, {"(1+2)^2", ',', "1E 01 00 1E 02 00 03 15 1E 02 00 07"},
      {"A1<=B1", ',', "44 00 C0 00 44 00 C0 01 0A"}, {"1.5e-1", ',', "1F 33 33 33 33 33 33 C3 3F"},
      // Strings: a doubled quote is one quote, text in code page 1252.
      {"\"a\"\"b\"", ',', "17 03 61 22 62"}, {"\"\xC3\xA4\xE2\x82\xAC\"", ',', "17 02 E4 80"}, {"true", ',', "1D 01"},
      // Functions: corrected fixed counts, missing argument, separators and
      // parentheses inside strings, nested calls.
      {"MID(A1,1,2)", ',', "44 00 C0 00 1E 01 00 1E 02 00 41 1F 00"},
      {"IF(1,,2)", ',', "1E 01 00 16 1E 02 00 42 03 01 00"}, {"LEN(\"a,)\")", ',', "17 03 61 2C 29 41 20 00"},
      {"ROUND(SUM(1,2),0)", ',', "1E 01 00 1E 02 00 42 02 04 00 1E 00 00 41 1B 00"},
      // Sheets: link index -(n + 1), sheet n twice, then the cell or area.
      {"Data!B3", ',', "5A FE FF 00 00 00 00 00 00 00 00 01 00 01 00 02 C0 01"},
      {"'My Sheet'!A1:A2", ',',
       "5B FD FF 00 00 00 00 00 00 00 00 02 00 02 00 00 C0 01 C0 00 00"},
      // Names and external functions.
      {"Tax", ',', "43 02 00 00 00 00 00 00 00 00 00 00 00 00 00"},
      {"MYADDIN(1)", ',',
       "39 04 00 00 00 00 00 00 00 00 00 01 00 00 00 00 00 00 00 00 00 00 00 00 00 1E 01 00 42 02 FF 00"},
  };
  for (const auto& c : cases) EXPECT_EQ(Encode(Encoder(c.separator), c.text), c.tokens) << c.text;
}

TEST(EncodeFormula, Refusals) {
  struct Case { std::string text; std::string message; int version = 4; int capacity = 2058; };
  const std::string longText(256, 'x');
  const Case cases[] = {
      {"\"abc", "Missing right quote"}, {"Data!X", "Invalid reference \"Data!X\""},
      {"Rate%", "Invalid symbol \"Rate\" in formula \"Rate%\""},
      {"A1 %", "Invalid character \"%\" in formula \"A1 %\""}, {"SUM(1", "Right paranthese is missing \"SUM(1\""},
      {"(1+2", "Right paranthese is missing \"(1+2\""}, {"Nope+1", "Unknown Name \"Nope\" in function \"Nope+1\""},
      {"1.2.3", "Invalid number \"1.2.3\" in formula \"1.2.3\""},
      {"#FOO!", "Unknown error value \"#FOO!\" in formula \"#FOO!\""},
      {"'My Sheet'+1", "Bad Sheet Reference \"'My Sheet'\" in formula \"'My Sheet'+1\""},
      {"'My Sheet'!Z", "Invalid Reference \"'My Sheet'!Z\" in formula \"'My Sheet'!Z\""},
      {"Other!A1", "Unknown Sheet \"Other!A1\" in formula \"Other!A1\""},
      {"FOO(1)", "Unknown function \"FOO\" in formula"}, {"MYADDIN(1)", "Unknown function \"MYADDIN\" in formula", 3},
      {"POWER(2,3)", "Unknown function \"POWER\" in formula", 3}, {"IF(1)", "To few arguments to function \"IF\""},
      {"PI(1)", "To many arguments to function \"PI\""},
      {"\"" + longText + "\"", "String constant longer than 255 bytes in formula \"\"" + longText + "\"\""},
      {"\"\xD0\xB6\"", "Character \"\xD0\xB6\" is not in code page 1252 in formula \"\"\xD0\xB6\"\""},
      {"1+", "Missing operand in formula \"1+\""}, {"1 2", "Unexpected \"2\" in formula \"1 2\""},
      {"IW1+1", "Unknown Name \"IW1\" in function \"IW1+1\""},
      {std::string(70, '(') + "1" + std::string(70, ')'),
       "Formula nested too deeply in formula \"" + std::string(70, '(') + "1" + std::string(70, ')') + "\""},
      {"1+2", "Formula buffer owerflow", 4, 6},  // needs 7 bytes
  };
  for (const auto& c : cases) {
    TEncodeFormula e = Encoder();
    e.VersionCode = c.version;
    EXPECT_THAT([&] { Encode(e, c.text, c.capacity); },
                testing::ThrowsMessage<EncodeFormulaError>(testing::StrEq(c.message))) << c.text;
  }
}

// Any text ends in tokens within the capacity or in an EncodeFormulaError.
TEST(EncodeFormula, RandomTextNeverEscapes) {
  const std::string alphabet = "AB$19:!'\"(),;+-*/^&<>=#.E_ SUMIFDatPaxyz%\xC3\xA4";
  std::mt19937 random(13);
  for (int n = 0; n < 20000; ++n) {
    std::string text;
    const std::size_t length = random() % 24;
    for (std::size_t i = 0; i < length; ++i) text += alphabet[random() % alphabet.size()];
    std::vector<std::uint8_t> buf(40);
    try {
      const int size = Encoder().Encode(text, buf.data(), 40);
      EXPECT_LE(size, 40) << text;
    } catch (const EncodeFormulaError&) {
    }
  }
}
}  // namespace
