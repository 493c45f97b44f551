#include "platform/glyph_text.h"

#include <algorithm>
#include <climits>

#include "platform/sysutils.h"

namespace platform {

std::string ValidUtf8(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    const std::size_t start = i;
    // An invalid sequence decodes as U+FFFD one byte on; a U+FFFD written
    // in the text takes three.
    if (DecodeUtf8(s, i) == 0xFFFD && i == start + 1) {
      out += "\xEF\xBF\xBD";
    } else {
      out.append(s.substr(start, i - start));
    }
  }
  // cairo takes NUL-terminated text; keep what follows a NUL visible.
  std::replace(out.begin(), out.end(), '\0', ' ');
  return out;
}

std::u32string CodePoints(std::string_view valid) {
  std::u32string out;
  out.reserve(valid.size());
  for (std::size_t i = 0; i < valid.size();) out.push_back(DecodeUtf8(valid, i));
  return out;
}

void WriteGlyphRun(MonoFont& font, std::int64_t x, std::int64_t y, const std::u32string& chars,
                   std::uint32_t pixel, const TRect& clip, unsigned char* data, int stride) {
  std::int64_t left = INT64_MAX, top = INT64_MAX, right = INT64_MIN, bottom = INT64_MIN;
  std::int64_t pen = x;
  for (const char32_t ch : chars) {
    const MonoGlyph& g = font.Glyph(ch);
    left = std::min(left, pen + g.BoxLeft);
    right = std::max(right, pen + g.BoxRight);
    top = std::min(top, y + g.BoxTop);
    bottom = std::max(bottom, y + g.BoxBottom);
    pen += g.Advance;
  }
  if (left >= right) return;
  left = std::max<std::int64_t>(left, clip.Left);
  top = std::max<std::int64_t>(top, clip.Top);
  right = std::min<std::int64_t>(right, clip.Right);
  bottom = std::min<std::int64_t>(bottom, clip.Bottom);
  if (left >= right || top >= bottom) return;
  pen = x;
  for (const char32_t ch : chars) {
    const MonoGlyph& g = font.Glyph(ch);
    const std::int64_t gx = pen + g.Left, gy = y + g.Top;
    pen += g.Advance;
    const std::int64_t y0 = std::max(gy, top), y1 = std::min(gy + g.Rows, bottom);
    const std::int64_t x0 = std::max(gx, left), x1 = std::min(gx + g.Width, right);
    for (std::int64_t py = y0; py < y1; ++py) {
      auto* row = reinterpret_cast<std::uint32_t*>(data + py * stride);
      for (std::int64_t px = x0; px < x1; ++px) {
        if (g.Set(static_cast<int>(px - gx), static_cast<int>(py - gy))) row[px] = pixel;
      }
    }
  }
}

}  // namespace platform
