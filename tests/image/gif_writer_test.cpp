#include "image/gif_writer.h"

#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "image/gif_test_peers.h"

namespace {
using gif_test::ColorBitmap;
using gif_test::DistinctColor;
using gif_test::ParseGif;
using gif_test::TBytes;

TFrameInfo Frame(const platform::Bitmap* bitmap, std::int32_t left = 0, std::int32_t top = 0) {
  TFrameInfo f;
  f.Bitmap = bitmap, f.Left = left, f.Top = top;
  return f;
}

TFrameList OneFrame(const TFrameInfo& frame) {
  TFrameList list;
  list.Count = 1;
  list.Frames[0] = &frame;
  return list;
}

TBytes WriteOne(const TFrameInfo& frame) {
  TFrameList list = OneFrame(frame);
  TMemoryGifOutput out;
  EXPECT_TRUE(WriteGIF(out, list));
  return out.Bytes;
}

// Twelve colours in flat stripes, the way charts look.
platform::Bitmap Chart(int width, int height) {
  return gif_test::MakeBitmap(width, height, [](int x, int y) { return (x / 40 + y / 100) % 12; });
}

// Records the largest piece; throws on the write numbered `FailAt`.
struct TRecordingOutput : TMemoryGifOutput {
  void Write(const void* buffer, std::size_t count) override {
    if (WriteCount == FailAt) throw std::runtime_error("connection lost");
    LargestPiece = std::max(LargestPiece, count);
    TMemoryGifOutput::Write(buffer, count);
  }
  int FailAt = -1;
  std::size_t LargestPiece = 0;
};

// giflib and ImageMagick both give back exactly the source pixels, with the
// transparent colour (where a frame holds it) and only that one transparent.
TEST(GifWriter, PeersDecodeExactlyTheSourcePixels) {
  using TShared = std::shared_ptr<const platform::Bitmap>;
  auto share = [](platform::Bitmap b) { return std::make_shared<const platform::Bitmap>(std::move(b)); };
  const TShared a = share(ColorBitmap(120, 80, 12, 7));
  const TShared b = share(ColorBitmap(50, 40, 200, 1));
  const TShared c = share(ColorBitmap(70, 30, 150, 2, 1000));  // with b: too many colours for one table
  const TShared d = share(ColorBitmap(33, 17, 7, 3));
  struct Case {
    std::string name;
    std::vector<TShared> bitmaps;
    bool interlaced = false;  // a still image, or every other frame of an animation
    int transparent = -1;     // colour number marked transparent in every frame
    bool global = true;
    bool globalAfter = true;
  };
  std::vector<Case> cases = {
      {"1 x 1", {share(ColorBitmap(1, 1, 1))}}, {"4096 x 1", {share(ColorBitmap(4096, 1, 8))}},
      {"1 x 4096", {share(ColorBitmap(1, 4096, 8))}},
      // Long runs of index 0, and strings whose table key is 0.
      {"one colour, long runs", {share(ColorBitmap(500, 300, 1))}},
      {"speckles on one colour", {share(gif_test::MakeBitmap(300, 200, [r = std::mt19937(3)](int x, int y) mutable {
         return (x + y) % 5 == 4 ? static_cast<int>(r() % 256) : 0;
       }))}},
      {"noise with clears", {share(ColorBitmap(400, 300, 256, 3))}},
      {"two-colour noise with clears", {share(ColorBitmap(500, 400, 2, 4))}},
      {"chart 400 x 250", {share(Chart(400, 250))}}, {"interlaced chart", {share(Chart(400, 250))}, true},
      {"interlaced noise", {share(ColorBitmap(300, 99, 256, 5))}, true}, {"shared table", {a, d, b}, true, 5},
      {"local tables", {a, b, c, d}, true, 5, false, false},
      // c fills the shared table first; b overflows it, and then each frame,
      // transparent index included, is indexed into its own table.
      {"shared table overflows", {c, b, d}, true, 5, true, false},
  };
  for (const int colors : {1, 2, 3, 16, 17, 256}) {
    cases.push_back({std::to_string(colors) + " colours", {share(ColorBitmap(61, 29, colors))}});
  }
  // 256 colours: colour number k lands on entry k.
  for (const int entry : {0, 17, 255}) {
    cases.push_back({"transparent entry " + std::to_string(entry), {share(ColorBitmap(64, 32, 256, 8))}, false, entry});
  }
  // Every pixel different: the decoded rows show the interlaced row order.
  for (int height = 1; height <= 10; ++height) {
    cases.push_back({"interlaced height " + std::to_string(height),
                     {share(gif_test::MakeBitmap(3, height, [](int x, int y) { return 3 * y + x; }))}, true});
  }
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    const std::size_t n = k.bitmaps.size();
    const std::uint32_t clearRgb = k.transparent >= 0 ? DistinctColor(static_cast<std::uint32_t>(k.transparent)) : ~0u;
    std::vector<TFrameInfo> frames;
    TFrameList list;
    list.Count = static_cast<std::int32_t>(n);
    list.LoopCount = 0x1234;
    list.GlobalColorMap = k.global;
    for (std::size_t i = 0; i < n; ++i) {
      frames.push_back(Frame(k.bitmaps[i].get(), static_cast<std::int32_t>(3 * i), static_cast<std::int32_t>(i)));
      frames[i].Interlaced = k.interlaced && (n == 1 || i % 2 == 1);
      frames[i].Transparent = k.transparent >= 0;
      frames[i].TransparentColor = RGB(clearRgb >> 16, clearRgb >> 8, clearRgb);
    }
    for (std::size_t i = 0; i < n; ++i) list.Frames[i] = &frames[i];
    TRecordingOutput out;
    ASSERT_TRUE(WriteGIF(out, list));
    EXPECT_LE(out.LargestPiece, 65536u);
    EXPECT_EQ(list.GlobalColorMap, k.globalAfter);

    // Blocks: the loop count only for animations, a control block per frame.
    const auto g = ParseGif(out.Bytes);
    std::string order = n > 1 ? "A" : "";
    for (std::size_t i = 0; i < n; ++i) order += "GI";
    EXPECT_EQ(g.Order, order + "C");
    if (n > 1) {
      EXPECT_EQ(g.Application, std::string("NETSCAPE2.0\x01\x34\x12", 14));
    }
    EXPECT_EQ(g.GlobalTable.empty(), !k.globalAfter);
    const auto decoded = gif_test::GiflibDecode(out.Bytes);
    const auto rgba = gif_test::ImageMagickRgba(out.Bytes);
    ASSERT_EQ(decoded.Frames.size(), n);
    std::size_t p = 0;
    int screenWidth = 0, screenHeight = 0;
    for (std::size_t i = 0; i < n; ++i) {
      const platform::Bitmap& bitmap = *k.bitmaps[i];
      const auto& f = decoded.Frames[i];
      EXPECT_EQ(g.Images.at(i).LocalTable.empty(), k.globalAfter);
      EXPECT_EQ(std::pair(f.Left, f.Top), std::pair(frames[i].Left, frames[i].Top));
      ASSERT_EQ(std::pair(f.Width, f.Height), std::pair(bitmap.Width(), bitmap.Height()));
      ASSERT_GE(rgba.size(), p + 4 * f.Rgb.size());
      screenWidth = std::max(screenWidth, f.Left + f.Width);
      screenHeight = std::max(screenHeight, f.Top + f.Height);
      long giflibWrong = 0, magickWrong = 0;
      bool holdsTransparent = false;
      for (int y = 0, at = 0; y < bitmap.Height(); ++y) {
        for (int x = 0; x < bitmap.Width(); ++x, ++at, p += 4) {
          const std::uint32_t want = gif_test::BitmapRgb(bitmap, x, y);
          const bool clear = want == clearRgb;
          holdsTransparent |= clear;
          const auto s = static_cast<std::size_t>(at);
          if (f.Rgb[s] != want || (clear && f.Indices[s] != f.TransparentIndex)) ++giflibWrong;
          const std::uint32_t got = (static_cast<std::uint32_t>(rgba[p]) << 16) | (rgba[p + 1] << 8) | rgba[p + 2];
          if (rgba[p + 3] != (clear ? 0 : 255) || (!clear && got != want)) ++magickWrong;
        }
      }
      if (!holdsTransparent) {
        EXPECT_EQ(f.TransparentIndex, -1) << "frame " << i;
      }
      EXPECT_EQ(giflibWrong, 0) << "giflib, frame " << i;
      EXPECT_EQ(magickWrong, 0) << "ImageMagick, frame " << i;
    }
    EXPECT_EQ(p, rgba.size());
    EXPECT_EQ(decoded.ScreenWidth, screenWidth);
    EXPECT_EQ(decoded.ScreenHeight, screenHeight);
  }
}

// A 400 x 250 chart in twelve colours, byte for byte up to the image data.
TEST(GifWriter, ChartImageLayout) {
  const auto bitmap = Chart(400, 250);
  TFrameInfo frame = Frame(&bitmap);
  frame.Delay = 1000;  // written in hundredths
  const auto bytes = WriteOne(frame);
  // Header; screen 400 x 250, global table of 16 entries, background and aspect 0.
  TBytes want = {'G', 'I', 'F', '8', '9', 'a', 0x90, 0x01, 0xFA, 0x00, 0x83, 0x00, 0x00};
  // The colours in the order they are first met, then four black entries.
  for (std::uint32_t i = 0; i < 16; ++i) {
    const std::uint32_t rgb = i < 12 ? DistinctColor(i) : 0;
    want.insert(want.end(), {std::uint8_t(rgb >> 16), std::uint8_t(rgb >> 8), std::uint8_t(rgb)});
  }
  // No application extension; graphic control (delay 100); image descriptor;
  // minimum code size 4.
  want.insert(want.end(), {0x21, 0xF9, 0x04, 0x00, 0x64, 0x00, 0x00, 0x00, 0x2C, 0x00, 0x00, 0x00, 0x00, 0x90,
                           0x01, 0xFA, 0x00, 0x00, 0x04});
  ASSERT_GE(bytes.size(), want.size());
  EXPECT_EQ(TBytes(bytes.begin(), bytes.begin() + static_cast<long>(want.size())), want);
  const auto g = ParseGif(bytes);
  EXPECT_EQ(g.Order, "GIC");
  EXPECT_EQ(g.Comments.at(0), CreditComment);
}

// Table size and minimum code size follow the colour count (unused entries
// black); the delay is clamped to 0..65535 hundredths; a disposal beyond 3 goes
// out as 0; a comment precedes the control block in sub-blocks of <= 255 bytes.
TEST(GifWriter, SingleFrameFields) {
  struct Case {
    int colors, entries, minCodeSize;
    std::int32_t delay = 0;
    int disposal = 0, delayField = 0, flags = 0;
    std::size_t comment = 0;
    std::vector<int> blocks = {};
  } cases[] = {
      {1, 2, 2, 1000, 0, 100, 0x00, 255, {255}}, {2, 2, 2, 5, 1, 0, 0x04, 256, {255, 1}},
      {3, 4, 2, 0, 2, 0, 0x08, 300, {255, 45}}, {4, 4, 2, 19, 3, 1, 0x0C}, {5, 8, 3, 20, 4, 2, 0x00},
      {8, 8, 3, -20, 255, 0, 0x00}, {9, 16, 4, 700000, 0, 65535, 0x00}, {16, 16, 4}, {17, 32, 5}, {33, 64, 6},
      {65, 128, 7}, {128, 128, 7}, {129, 256, 8}, {256, 256, 8},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.colors);
    const auto bitmap = ColorBitmap(37, 11, c.colors);
    TFrameInfo frame = Frame(&bitmap);
    frame.Delay = c.delay;
    frame.Disposal = static_cast<std::uint8_t>(c.disposal);
    for (std::size_t k = 0; k < c.comment; ++k) frame.Comment += static_cast<char>('a' + k % 26);
    const auto g = ParseGif(WriteOne(frame));
    ASSERT_EQ(static_cast<int>(g.GlobalTable.size()), 3 * c.entries);
    const TBytes black(3u * static_cast<std::size_t>(c.entries - c.colors), 0);
    EXPECT_EQ(TBytes(g.GlobalTable.begin() + 3 * c.colors, g.GlobalTable.end()), black);
    EXPECT_EQ(g.Images.at(0).MinCodeSize, c.minCodeSize);
    const TBytes control = {std::uint8_t(c.flags), std::uint8_t(c.delayField), std::uint8_t(c.delayField >> 8), 0};
    EXPECT_EQ(g.Controls.at(0), control);
    EXPECT_EQ(g.Order, c.comment ? "CGIC" : "GIC");
    if (c.comment) {
      EXPECT_EQ(g.Comments.at(0), frame.Comment);
      EXPECT_EQ(g.CommentSubBlocks.at(0), c.blocks);
    }
  }
}

// Every frame is checked before the first byte goes out: no partial file.
TEST(GifWriter, RefusesWithoutWritingAnything) {
  const auto good = ColorBitmap(5, 5, 4);
  const auto tooMany = ColorBitmap(20, 20, 257);
  const auto many = ColorBitmap(20, 20, 256, 1, 1000);
  const platform::Bitmap empty;
  const TFrameInfo ok = Frame(&good), none = Frame(nullptr), blank = Frame(&empty), full = Frame(&tooMany),
                   other = Frame(&many), left = Frame(&good, -1, 0), top = Frame(&good, 0, -1),
                   across = Frame(&good, 65531, 0), down = Frame(&good, 0, 65531), huge = Frame(&good, INT_MAX, 0);
  // frames: repeated over the list
  struct Case { const char* name; int count; std::vector<const TFrameInfo*> frames; bool global = true; } cases[] = {
      {"no frames", 0, {&ok}}, {"negative count", -1, {&ok}}, {"257 frames", 257, {&ok}},
      {"missing frame entry", 3, {&ok, nullptr}}, {"no bitmap", 1, {&none}}, {"empty bitmap", 1, {&blank}},
      {"257 colours", 1, {&full}}, {"257 colours in a later frame, shared table", 2, {&other, &full}},
      {"257 colours in a later frame, own tables", 2, {&other, &full}, false}, {"negative left", 1, {&left}},
      {"negative top", 1, {&top}}, {"beyond 65535 across", 1, {&across}}, {"beyond 65535 down", 1, {&down}},
      {"huge position", 1, {&huge}},
  };
  for (const auto& c : cases) {
    TFrameList list;
    list.Count = c.count;
    for (std::size_t i = 0; i < list.Frames.size(); ++i) list.Frames[i] = c.frames[i % c.frames.size()];
    list.GlobalColorMap = c.global;
    TMemoryGifOutput out;
    EXPECT_FALSE(WriteGIF(out, list)) << c.name;
    EXPECT_EQ(out.WriteCount, 0) << c.name;
  }
  // The largest screen that still fits.
  const auto edge = WriteOne(Frame(&good, 65530, 65530));
  EXPECT_EQ(TBytes(edge.begin() + 6, edge.begin() + 10), TBytes({0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(GifWriter, StreamErrorsPassThrough) {
  const auto bitmap = ColorBitmap(400, 300, 256);  // a file of several pieces
  const TFrameInfo frame = Frame(&bitmap);
  TFrameList list = OneFrame(frame);
  TRecordingOutput failing;
  failing.FailAt = 2;
  EXPECT_THROW(WriteGIF(failing, list), std::runtime_error);
  EXPECT_EQ(failing.WriteCount, 2);
}
}  // namespace
