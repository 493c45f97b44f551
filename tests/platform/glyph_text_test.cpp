#include "platform/glyph_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace platform {
namespace {

TEST(GlyphText, ValidUtf8ReplacesEachBadByte) {
  struct Row {
    std::string in, out;
  } rows[] = {
      {"abc", "abc"},
      {"\xC3\xA4", "\xC3\xA4"},                           // ä
      {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},           // U+1F600
      {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},           // overlong '/'
      {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // a surrogate
      {"\xF4\x90\x80\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // above U+10FFFF
      {"a\xE2\x82", "a\xEF\xBF\xBD\xEF\xBF\xBD"},          // cut short at the end
      {std::string("a\0b", 3), "a b"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(ValidUtf8(row.in), row.out) << row.in;
    EXPECT_EQ(CodePoints(ValidUtf8(row.in)).size(), CodePoints(row.out).size());
  }
  EXPECT_EQ(CodePoints("a\xC3\xA4\xF0\x9F\x98\x80"), (std::u32string{U'a', U'\u00E4', U'\U0001F600'}));
}

// A font whose every glyph is a filled 3 x 3 square standing on the baseline.
class SquareFont : public MonoFont {
 public:
  SquareFont() {
    glyph_.Advance = 4;
    glyph_.BoxLeft = 0, glyph_.BoxTop = -3, glyph_.BoxRight = 3, glyph_.BoxBottom = 0;
    glyph_.Left = 0, glyph_.Top = -3, glyph_.Width = 3, glyph_.Rows = 3;
    glyph_.Bits = {0xE0, 0xE0, 0xE0};
  }
  int Ascent() const override { return 3; }
  int Descent() const override { return 0; }
  const MonoGlyph& Glyph(char32_t) override { return glyph_; }

 private:
  MonoGlyph glyph_;
};

TEST(GlyphText, GlyphRunStaysInsideTheClip) {
  constexpr int kWidth = 8, kHeight = 4;
  SquareFont font;
  struct Row {
    int x, y;
    TRect clip;
    const char* picture;  // kHeight rows of kWidth, '#' written
  } rows[] = {
      {0, 3, {0, 0, 8, 4}, "###.###.###.###.###.###........."},
      {-2, 4, {0, 0, 8, 4}, "........#.###...#.###...#.###..."},
      {1, 3, {2, 1, 6, 3}, "..........##.#....##.#.........."},
      {9, 3, {0, 0, 8, 4}, "................................"},
  };
  for (const auto& row : rows) {
    std::vector<std::uint32_t> pixels(kWidth * kHeight, 0);
    WriteGlyphRun(font, row.x, row.y, U"ab", 1, row.clip, reinterpret_cast<unsigned char*>(pixels.data()),
                  kWidth * 4);
    std::string picture;
    for (const auto p : pixels) picture += p ? '#' : '.';
    EXPECT_EQ(picture, row.picture) << row.x << "," << row.y;
  }
}

}  // namespace
}  // namespace platform
