#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {
using platform::CodepageToUtf8;
using platform::Utf16LeToUtf8;

const std::string kBad = "\xEF\xBF\xBD";  // U+FFFD

TEST(Utf16LeToUtf8, JoinsPairsAndReplacesLoneSurrogates) {
  struct Case { const char* what; std::vector<std::uint16_t> units; std::string expected; };
  const std::vector<Case> cases = {
      {"empty", {}, ""}, {"ASCII", {'a', 'b'}, "ab"}, {"two-byte", {0x00FC}, "\xC3\xBC"},
      {"three-byte", {0x20AC}, "\xE2\x82\xAC"}, {"last BMP character", {0xFFFF}, "\xEF\xBF\xBF"},
      {"NUL kept", {'a', 0, 'b'}, std::string("a\0b", 3)}, {"surrogate pair", {0xD83D, 0xDE00}, "\xF0\x9F\x98\x80"},
      {"highest pair", {0xDBFF, 0xDFFF}, "\xF4\x8F\xBF\xBF"}, {"high surrogate at the end", {'a', 0xD800}, "a" + kBad},
      {"high surrogate before a letter", {0xD800, 'a'}, kBad + "a"},
      {"two high surrogates then a low one", {0xD800, 0xD83D, 0xDE00}, kBad + "\xF0\x9F\x98\x80"},
      {"lone low surrogate", {0xDC00, 'x'}, kBad + "x"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::uint8_t> bytes;
    for (auto u : c.units) bytes.insert(bytes.end(), {static_cast<std::uint8_t>(u), static_cast<std::uint8_t>(u >> 8)});
    EXPECT_EQ(Utf16LeToUtf8(bytes.data(), c.units.size()), c.expected);
  }
}

// Unknown or unsupported numbers fall back to cp1252; bytes a code page
// cannot decode become U+FFFD and decoding goes on.
TEST(CodepageToUtf8, DecodesWindowsCodePagesAndMarksUndecodableBytes) {
  struct Case { int codepage; std::string bytes; std::string expected; };
  const std::vector<Case> cases = {
      {1252, "", ""}, {1252, "Gr\xFC\xDF" "e \x80", "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC"},
      {1252, std::string("a\0b", 3), std::string("a\0b", 3)},
      {32769, "\x80", "\xE2\x82\xAC"},          // cp1252 by another number
      {0, "\x80\xE9", "\xE2\x82\xAC\xC3\xA9"},  // unknown: cp1252
      {-5, "\x80", "\xE2\x82\xAC"},
      {1125, "\x80", "\xE2\x82\xAC"},         // a real code page, but none a workbook names
      {1250, "\x8A", "\xC5\xA0"},               // S caron
      {1251, "\xC0\xFF", "\xD0\x90\xD1\x8F"},   // Cyrillic A, ya
      {1253, "\xE1\xE2", "\xCE\xB1\xCE\xB2"},   // alpha, beta
      {1254, "\xF0", "\xC4\x9F"},               // g breve
      {1257, "\xE0", "\xC4\x85"},               // a ogonek
      {1258, "Vi\xEA\xF2t", "Vi\xE1\xBB\x87t"}, // base and combining mark composed
      {10000, "\x80\x8A", "\xC3\x84\xC3\xA4"},  // Mac Roman
      {32768, "\x80", "\xC3\x84"},
      {874, "\xA1", "\xE0\xB8\x81"},            // Thai ko kai
      {932, "\x82\xA0x", "\xE3\x81\x82x"},      // hiragana a
      {936, "\xC4\xE3", "\xE4\xBD\xA0"}, {949, "\xB0\xA1", "\xEA\xB0\x80"}, {950, "\xA4\xA4", "\xE4\xB8\xAD"},
      {1200, std::string("a\0\xFC\0", 4), "a\xC3\xBC"}, {65001, "\xC3\xA9", "\xC3\xA9"},
      {437, "\x81", "\xC3\xBC"},                // DOS code pages through iconv
      {850, "\x9C", "\xC2\xA3"},
      {1252, "a\x81z", "a" + kBad + "z"},  // a hole in cp1252
      {367, "a\xE9z", "a" + kBad + "z"},   // ASCII
      {20127, "\xFF\xFF", kBad + kBad},
      {932, "x\x82", "x" + kBad},          // lead byte cut off at the end
      {932, "\x82\xA0\xFF\x82\xA0", "\xE3\x81\x82" + kBad + "\xE3\x81\x82"},
      {1200, std::string("a\0b", 3), "a" + kBad},  // odd byte count
      {65001, "\xFFok", kBad + "ok"},
  };
  for (const auto& c : cases) EXPECT_EQ(CodepageToUtf8(c.bytes, c.codepage), c.expected) << c.codepage;
}

TEST(CodepageToUtf8, LongTextsAndSeveralThreads) {
  // Longer than any internal chunk, in a double-byte code page.
  std::string sjis, expected;
  for (int i = 0; i < 3000; ++i) sjis += "\x82\xA0", expected += "\xE3\x81\x82";
  EXPECT_EQ(CodepageToUtf8(sjis, 932), expected);
  std::vector<int> failures(4, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) {
        failures[t] += CodepageToUtf8(sjis, 932) != expected;
        failures[t] += CodepageToUtf8("\x80", 1252) != "\xE2\x82\xAC";
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures, std::vector<int>(4, 0));
}
}  // namespace
