// The PNG encoder: writes a bitmap as an 8-bit palette PNG with exact
// colours, the same pixels and colour table as the GIF encoder gives the
// bitmap (every distinct colour one palette entry, in first-seen order).
#pragma once

#include <cstdint>
#include <vector>

#include "platform/bitmap.h"

// Maximum number of palette entries of an 8-bit palette PNG.
inline constexpr int kMaxPngColors = 256;

// The PNG file of the bitmap: signature, IHDR (width, height, bit depth 8,
// colour type 3 palette, not interlaced), PLTE with the bitmap's colours,
// IDAT (deflate level 3, no row filter) and IEND.
//
// Raises Exception, having produced nothing, with
// - "PNG: the bitmap has no pixels" for an empty bitmap,
// - "PNG: the bitmap holds more than 256 colours" when a palette cannot hold it,
// - "PNG: encoding failed: <libpng's message>" when libpng fails.
std::vector<std::uint8_t> EncodePalettePNG(const platform::Bitmap& bitmap);
