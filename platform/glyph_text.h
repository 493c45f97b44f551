// Text of the bitmap surface apart from cairo: UTF-8 made safe to draw, its
// code points, and runs of 1-bit glyphs written straight into 32-bit pixels.
// Pure pixel and string work, so it can be tested without a surface.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/geometry.h"
#include "platform/mono_font.h"

namespace platform {

// The text with every invalid UTF-8 sequence replaced by U+FFFD and every NUL
// by a blank (cairo refuses invalid text, would put its whole context into an
// error state, and stops at a NUL).
std::string ValidUtf8(std::string_view text);

// The code points of valid UTF-8 (as ValidUtf8 returns it).
std::u32string CodePoints(std::string_view valid);

// Writes the glyphs of `chars` with the origin of the first at (x, y) on the
// baseline into 32-bit pixels (`data`, rows `stride` bytes apart), each set
// bit as `pixel`: the pixels cairo gives for the same glyphs with an opaque
// colour and no smoothing. Like cairo, nothing is written outside the union of
// the glyphs' metric boxes, nor outside `clip` (which must lie inside the
// pixels).
void WriteGlyphRun(MonoFont& font, std::int64_t x, std::int64_t y, const std::u32string& chars,
                   std::uint32_t pixel, const TRect& clip, unsigned char* data, int stride);

}  // namespace platform
