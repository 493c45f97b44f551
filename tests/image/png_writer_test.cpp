#include "image/png_writer.h"

#include <gtest/gtest.h>
#include <png.h>

#include <string>
#include <vector>

#include "platform/sysutils.h"

namespace {
// The PNG decoded by libpng's own reader as 0x00RRGGBB pixels, with its
// header fields; empty pixels when libpng refuses it.
struct Decoded { int width = 0, height = 0, colourType = -1, bitDepth = 0, paletteSize = 0; std::vector<std::uint32_t> pixels; };

Decoded DecodeWithLibpng(const std::vector<std::uint8_t>& file) {
  Decoded d;
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, file.data(), file.size())) return d;
  d.width = static_cast<int>(image.width);
  d.height = static_cast<int>(image.height);
  d.paletteSize = static_cast<int>(image.colormap_entries);
  image.format = PNG_FORMAT_RGB;
  std::vector<std::uint8_t> rgb(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) return d;
  for (std::size_t i = 0; i + 2 < rgb.size(); i += 3) d.pixels.push_back((rgb[i] << 16) | (rgb[i + 1] << 8) | rgb[i + 2]);
  // IHDR: bit depth and colour type follow width and height.
  d.bitDepth = file[24];
  d.colourType = file[25];
  return d;
}

std::string FailureOf(const platform::Bitmap& bitmap) {
  try {
    EncodePalettePNG(bitmap);
  } catch (const std::exception& e) {
    return e.what();
  }
  return "no failure";
}

TEST(PngWriter, DecodesToTheBitmapsPixelsWithItsColoursAsPalette) {
  // size, number of distinct colours drawn in stripes
  struct Case { int width, height, colours; };
  const Case cases[] = {{1, 1, 1}, {400, 250, 12}, {7, 3, 2}, {256, 2, 256}, {3000, 1, 200}};
  for (const Case& c : cases) {
    platform::Bitmap bitmap(c.width, c.height);
    for (int y = 0; y < c.height; ++y) {
      for (int x = 0; x < c.width; ++x) {
        const int k = (x + y) % c.colours;
        bitmap.SetPixel(x, y, RGB(static_cast<std::uint8_t>(k), static_cast<std::uint8_t>(255 - k), 7));
      }
    }
    const Decoded d = DecodeWithLibpng(EncodePalettePNG(bitmap));
    EXPECT_EQ((std::vector<int>{d.width, d.height, d.colourType, d.bitDepth}),
              (std::vector<int>{c.width, c.height, 3, 8}))
        << c.width;
    EXPECT_EQ(d.paletteSize, c.colours) << c.width;
    std::vector<std::uint32_t> expected;
    for (int y = 0; y < c.height; ++y) expected.insert(expected.end(), bitmap.Row(y), bitmap.Row(y) + c.width);
    for (auto& p : expected) p &= 0x00FFFFFFu;
    EXPECT_EQ(d.pixels, expected) << c.width;
  }
}

TEST(PngWriter, RefusesWhatAPaletteCannotHold) {
  platform::Bitmap many(257, 1);
  for (int x = 0; x < 257; ++x) many.SetPixel(x, 0, RGB(static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(x >> 8), 0));
  EXPECT_EQ(FailureOf(many), "PNG: the bitmap holds more than 256 colours");
  EXPECT_EQ(FailureOf(platform::Bitmap()), "PNG: the bitmap has no pixels");
}
}  // namespace
