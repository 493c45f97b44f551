// Files written by WriteGIF decoded by two independent decoders, giflib and
// ImageMagick, compared pixel by pixel with the source bitmaps.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "image/gif_test_peers.h"
#include "image/gif_writer.h"

namespace {

using gif_test::ColorBitmap;
using gif_test::DistinctColor;

TColor AsTColor(std::uint32_t rgb) {
  return RGB(static_cast<std::uint8_t>(rgb >> 16), static_cast<std::uint8_t>(rgb >> 8), static_cast<std::uint8_t>(rgb));
}

// Large flat areas, a few lines and a text-like speckle, as charts look.
platform::Bitmap ChartLike(int width, int height) {
  platform::Bitmap bitmap(width, height);
  std::mt19937 random(42);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint32_t c = y < height / 8 ? 0xC0C0C0u : 0xFFFFFFu;
      if (x > width / 10 && x < width / 10 + width / 8 && y > height / 3) c = 0x0000FFu;
      if (x > width / 3 && x < width / 3 + width / 8 && y > height / 2) c = 0xFF0000u;
      if (y % 25 == 0 || x == width / 12) c = 0x000000u;
      if (y > height - 20 && random() % 7 == 0) c = 0x808080u;
      gif_test::FillRgb(bitmap, x, y, c);
    }
  }
  return bitmap;
}

// Compares the decoded frames with the bitmaps, in giflib's and in
// ImageMagick's reading. `transparent` gives, per frame, the colour that must
// come out fully transparent (or -1).
void ExpectPeersDecode(const std::vector<std::uint8_t>& file, const std::vector<const platform::Bitmap*>& bitmaps,
                       const std::vector<long>& transparent, const std::string& name) {
  const auto decoded = gif_test::GiflibDecode(file);
  ASSERT_EQ(decoded.Frames.size(), bitmaps.size()) << name;
  for (std::size_t i = 0; i < bitmaps.size(); ++i) {
    const auto& f = decoded.Frames[i];
    const auto& b = *bitmaps[i];
    ASSERT_EQ(f.Width, b.Width()) << name;
    ASSERT_EQ(f.Height, b.Height()) << name;
    long mismatches = 0;
    for (int y = 0; y < b.Height(); ++y) {
      for (int x = 0; x < b.Width(); ++x) {
        const std::uint32_t want = gif_test::BitmapRgb(b, x, y);
        const std::size_t k = static_cast<std::size_t>(y) * static_cast<std::size_t>(b.Width()) + static_cast<std::size_t>(x);
        if (f.Rgb[k] != want) ++mismatches;
        if (transparent[i] >= 0 && static_cast<long>(want) == transparent[i]) {
          EXPECT_EQ(f.TransparentIndex, f.Indices[k]) << name;
        }
      }
    }
    EXPECT_EQ(mismatches, 0) << name << ", giflib, frame " << i;
    if (transparent[i] < 0) {
      EXPECT_EQ(f.TransparentIndex, -1) << name;
    }
  }

  const auto rgba = gif_test::ImageMagickRgba(file);
  std::size_t p = 0;
  for (std::size_t i = 0; i < bitmaps.size(); ++i) {
    const auto& b = *bitmaps[i];
    ASSERT_GE(rgba.size(), p + 4u * static_cast<std::size_t>(b.Width()) * static_cast<std::size_t>(b.Height())) << name;
    long mismatches = 0;
    for (int y = 0; y < b.Height(); ++y) {
      for (int x = 0; x < b.Width(); ++x, p += 4) {
        const std::uint32_t want = gif_test::BitmapRgb(b, x, y);
        const bool clear = transparent[i] >= 0 && static_cast<long>(want) == transparent[i];
        if (rgba[p + 3] != (clear ? 0 : 255)) ++mismatches;
        if (!clear && ((static_cast<std::uint32_t>(rgba[p]) << 16) | (rgba[p + 1] << 8) | rgba[p + 2]) != want) {
          ++mismatches;
        }
      }
    }
    EXPECT_EQ(mismatches, 0) << name << ", ImageMagick, frame " << i;
  }
  EXPECT_EQ(p, rgba.size()) << name;
}

TEST(GifPeerDecode, SingleFrames) {
  struct Case {
    std::string name;
    std::function<platform::Bitmap()> make;
    bool interlaced;
  };
  std::vector<Case> cases = {
      {"1 x 1", [] { return ColorBitmap(1, 1, 1); }, false},
      {"1 colour", [] { return ColorBitmap(13, 7, 1); }, false},
      {"2 colours", [] { return ColorBitmap(61, 29, 2); }, false},
      {"3 colours", [] { return ColorBitmap(61, 29, 3); }, false},
      {"16 colours", [] { return ColorBitmap(61, 29, 16); }, false},
      {"17 colours", [] { return ColorBitmap(61, 29, 17); }, false},
      {"256 colours", [] { return ColorBitmap(61, 29, 256); }, false},
      {"4096 x 1", [] { return ColorBitmap(4096, 1, 8); }, false},
      {"1 x 4096", [] { return ColorBitmap(1, 4096, 8); }, false},
      {"noise with clears", [] { return ColorBitmap(400, 300, 256, 3); }, false},
      {"two-colour noise with clears", [] { return ColorBitmap(500, 400, 2, 4); }, false},
      {"chart 400 x 250", [] { return ChartLike(400, 250); }, false},
      {"interlaced chart", [] { return ChartLike(400, 250); }, true},
      {"interlaced noise", [] { return ColorBitmap(300, 99, 256, 5); }, true},
  };
  for (int height = 1; height <= 9; ++height) {
    cases.push_back({"interlaced height " + std::to_string(height),
                     [height] { return ColorBitmap(5, height, 6, static_cast<unsigned>(height)); }, true});
  }
  for (const auto& c : cases) {
    const platform::Bitmap bitmap = c.make();
    TFrameInfo frame;
    frame.Bitmap = &bitmap;
    frame.Interlaced = c.interlaced;
    TFrameList list;
    list.Count = 1;
    list.Frames[0] = &frame;
    list.GlobalColorMap = true;
    TMemoryGifOutput out;
    ASSERT_TRUE(WriteGIF(out, list)) << c.name;
    ExpectPeersDecode(out.Bytes, {&bitmap}, {-1}, c.name);
  }
}

TEST(GifPeerDecode, TransparentColour) {
  // 256 colours: colour number k is entry k of the table.
  const auto bitmap = ColorBitmap(64, 32, 256, 8);
  for (const std::uint32_t number : {0u, 17u, 255u}) {
    TFrameInfo frame;
    frame.Bitmap = &bitmap;
    frame.Transparent = true;
    frame.TransparentColor = AsTColor(DistinctColor(number));
    TFrameList list;
    list.Count = 1;
    list.Frames[0] = &frame;
    TMemoryGifOutput out;
    ASSERT_TRUE(WriteGIF(out, list));
    ExpectPeersDecode(out.Bytes, {&bitmap}, {static_cast<long>(DistinctColor(number))},
                      "transparent entry " + std::to_string(number));
  }
}

TEST(GifPeerDecode, Animations) {
  const auto a = ChartLike(120, 80);
  const auto b = ColorBitmap(50, 40, 200, 1);
  const auto c = ColorBitmap(70, 30, 150, 2, 1000);  // 200 + 150 colours do not fit one table
  const auto d = ColorBitmap(33, 17, 7, 3);
  struct Case {
    std::string name;
    std::vector<const platform::Bitmap*> bitmaps;
    bool global;
    bool globalAfter;
  } cases[] = {
      {"shared table", {&a, &d, &b}, true, true},
      {"local tables", {&a, &b, &c, &d}, false, false},
      {"shared table overflows", {&b, &c, &d}, true, false},
  };
  for (const auto& k : cases) {
    std::vector<TFrameInfo> frames(k.bitmaps.size());
    TFrameList list;
    list.Count = static_cast<std::int32_t>(frames.size());
    list.GlobalColorMap = k.global;
    list.LoopCount = 3;
    std::vector<long> transparent;
    for (std::size_t i = 0; i < frames.size(); ++i) {
      frames[i].Bitmap = k.bitmaps[i];
      frames[i].Left = static_cast<std::int32_t>(i * 3);
      frames[i].Top = static_cast<std::int32_t>(i);
      frames[i].Delay = 100;
      frames[i].Disposal = static_cast<std::uint8_t>(i % 4);
      frames[i].Interlaced = i % 2 == 1;
      // Every frame marks the colour of its top left pixel transparent.
      frames[i].Transparent = true;
      const std::uint32_t rgb = gif_test::BitmapRgb(*k.bitmaps[i], 0, 0);
      frames[i].TransparentColor = AsTColor(rgb);
      transparent.push_back(static_cast<long>(rgb));
      list.Frames[i] = &frames[i];
    }
    TMemoryGifOutput out;
    ASSERT_TRUE(WriteGIF(out, list)) << k.name;
    EXPECT_EQ(list.GlobalColorMap, k.globalAfter) << k.name;
    ExpectPeersDecode(out.Bytes, k.bitmaps, transparent, k.name);
  }
}

}  // namespace
