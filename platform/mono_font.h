// Unsmoothed text without cairo: FreeType faces at whole-pixel sizes, their
// glyphs hinted for monochrome output and rendered to 1-bit bitmaps once per
// process, with whole-pixel advances. These are the glyphs, advances and
// font extents that cairo's FreeType backend makes for the surface's font
// options (no antialiasing, full hinting, hinted metrics), so text drawn
// from them has the same pixels; without cairo's scaled fonts, glyph caches
// and compositing a chart's few labels cost a fraction.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace platform {

struct MonoGlyph {
  int Advance = 0;  // whole pixels
  // Box of the hinted glyph metrics relative to the origin on the baseline
  // (y down), whole pixels; cairo draws nothing of a run outside the union
  // of these boxes.
  int BoxLeft = 0, BoxTop = 0, BoxRight = 0, BoxBottom = 0;
  // The bitmap: its top left corner relative to the origin (y down), its
  // size and rows of (Width + 7) / 8 bytes, most significant bit first.
  int Left = 0, Top = 0, Width = 0, Rows = 0;
  std::vector<std::uint8_t> Bits;
  // False for a glyph that is not a 1-bit image (an embedded grey or colour
  // bitmap): such text is left to cairo.
  bool Mono = true;

  bool Set(int x, int y) const {
    return (Bits[static_cast<std::size_t>(y) * static_cast<std::size_t>((Width + 7) / 8) +
                 static_cast<std::size_t>(x / 8)] >>
            (7 - x % 8)) & 1;
  }
};

class MonoFont {
 public:
  virtual ~MonoFont() = default;
  // Font extents as cairo rounds them for layout.
  virtual int Ascent() const = 0;
  virtual int Descent() const = 0;
  // The glyph for a code point (loaded on first use).
  virtual const MonoGlyph& Glyph(char32_t ch) = 0;
};

// Calls use(font) with the face of the font file at the pixel height (1 to
// 1000), holding the face's lock: the font and its glyphs may be used only
// inside the call. Raises Exception "Font file <path> not found" or "Font
// file <path> cannot be loaded" like FontFace.
void WithMonoFont(const std::string& path, int pixel_height, const std::function<void(MonoFont&)>& use);

}  // namespace platform
