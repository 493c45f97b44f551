#include "platform/glyph_text.h"

#include <algorithm>
#include <climits>

namespace platform {

std::string ValidUtf8(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  std::size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    int len = 0;
    std::uint32_t cp = 0;
    if (c < 0x80) {
      len = 1;
      cp = c;
    } else if ((c & 0xE0) == 0xC0) {
      len = 2;
      cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      len = 3;
      cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      len = 4;
      cp = c & 0x07;
    }
    bool ok = len > 0 && i + static_cast<std::size_t>(len) <= s.size();
    for (int k = 1; ok && k < len; ++k) {
      const auto cc = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
      if ((cc & 0xC0) != 0x80) ok = false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    if (ok) {
      static constexpr std::uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
      if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) ok = false;
    }
    if (ok) {
      out.append(s.substr(i, static_cast<std::size_t>(len)));
      i += static_cast<std::size_t>(len);
    } else {
      out += "\xEF\xBF\xBD";
      ++i;
    }
  }
  // cairo takes NUL-terminated text; keep what follows a NUL visible.
  std::replace(out.begin(), out.end(), '\0', ' ');
  return out;
}

std::u32string CodePoints(std::string_view valid) {
  std::u32string out;
  out.reserve(valid.size());
  for (std::size_t i = 0; i < valid.size();) {
    const auto c = static_cast<unsigned char>(valid[i]);
    const int len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    char32_t cp = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
    for (int k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(valid[i + static_cast<std::size_t>(k)]) & 0x3F);
    out.push_back(cp);
    i += static_cast<std::size_t>(len);
  }
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
