#include "platform/color.h"

#include <array>

namespace {

// The classic Windows default colour scheme, indexed by COLOR_* number.
constexpr std::array<TColor, 31> kSystemColors = {
    0xC8D0D4,  // 0x00 scrollbar
    0xA56E3A,  // 0x01 background (desktop)
    0x6A240A,  // 0x02 active caption
    0x808080,  // 0x03 inactive caption
    0xC0C0C0,  // 0x04 menu
    0xFFFFFF,  // 0x05 window
    0x000000,  // 0x06 window frame
    0x000000,  // 0x07 menu text
    0x000000,  // 0x08 window text
    0xFFFFFF,  // 0x09 caption text
    0xC0C0C0,  // 0x0A active border
    0xC0C0C0,  // 0x0B inactive border
    0x808080,  // 0x0C application workspace
    0x800000,  // 0x0D highlight
    0xFFFFFF,  // 0x0E highlight text
    0xC0C0C0,  // 0x0F button face
    0x808080,  // 0x10 button shadow
    0x808080,  // 0x11 gray text
    0x000000,  // 0x12 button text
    0xC0C0C0,  // 0x13 inactive caption text
    0xFFFFFF,  // 0x14 button highlight
    0x000000,  // 0x15 3D dark shadow
    0xC0C0C0,  // 0x16 3D light
    0x000000,  // 0x17 info text
    0xE1FFFF,  // 0x18 info background
    0xC0C0C0,  // 0x19 (unused)
    0x800000,  // 0x1A hot light
    0xD08A0A,  // 0x1B gradient active caption
    0xC0C0C0,  // 0x1C gradient inactive caption
    0x800000,  // 0x1D menu highlight
    0xC0C0C0,  // 0x1E menu bar
};

}  // namespace

TColor ColorToRGB(TColor c) {
  if ((c & 0xFF000000u) == 0x80000000u) {
    const auto index = c & 0xFFu;
    return index < kSystemColors.size() ? kSystemColors[index] : 0;
  }
  return c & 0x00FFFFFFu;
}
