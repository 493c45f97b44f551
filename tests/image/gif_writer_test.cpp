// The layout of the files WriteGIF produces, block by block.
#include "image/gif_writer.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "image/gif_test_peers.h"

namespace {

using gif_test::ColorBitmap;
using gif_test::DistinctColor;
using gif_test::ParseGif;

struct TEncoded {
  bool Ok = false;
  std::vector<std::uint8_t> Bytes;
};

TEncoded Write(TFrameList& list) {
  TMemoryGifOutput out;
  const bool ok = WriteGIF(out, list);
  return {ok, out.Bytes};
}

TEncoded WriteOne(const TFrameInfo& frame) {
  TFrameList list;
  list.Count = 1;
  list.Frames[0] = &frame;
  list.GlobalColorMap = true;
  return Write(list);
}

TFrameInfo Frame(const platform::Bitmap& bitmap) {
  TFrameInfo f;
  f.Bitmap = &bitmap;
  f.Width = bitmap.Width();
  f.Height = bitmap.Height();
  return f;
}

std::uint32_t TableColor(const std::vector<std::uint8_t>& table, int index) {
  return (static_cast<std::uint32_t>(table.at(3 * index)) << 16) | (table.at(3 * index + 1) << 8) |
         table.at(3 * index + 2);
}

// A chart-sized image drawn in twelve colours: the file the gateway sends.
TEST(GifWriter, ChartImageLayout) {
  platform::Bitmap bitmap(400, 250);
  for (int y = 0; y < 250; ++y) {
    for (int x = 0; x < 400; ++x) gif_test::FillRgb(bitmap, x, y, DistinctColor(static_cast<std::uint32_t>((x / 40 + y / 100) % 12)));
  }
  TFrameInfo frame = Frame(bitmap);
  frame.Delay = 1000;
  const auto e = WriteOne(frame);
  ASSERT_TRUE(e.Ok);
  const auto g = ParseGif(e.Bytes);

  EXPECT_EQ(std::string(e.Bytes.begin(), e.Bytes.begin() + 6), "GIF89a");
  EXPECT_EQ(g.ScreenWidth, 400);
  EXPECT_EQ(g.ScreenHeight, 250);
  EXPECT_EQ(g.ScreenFlags, 0x83);  // global table of 16 entries
  EXPECT_EQ(g.Background, 0);
  EXPECT_EQ(g.Aspect, 0);
  ASSERT_EQ(g.GlobalTable.size(), 48u);
  // Colours in the order they are first met, left to right, top to bottom.
  for (int i = 0; i < 10; ++i) EXPECT_EQ(TableColor(g.GlobalTable, i), DistinctColor(static_cast<std::uint32_t>(i)));
  for (int i = 12; i < 16; ++i) EXPECT_EQ(TableColor(g.GlobalTable, i), 0u) << i;

  EXPECT_EQ(g.Order, "GIC");  // no application extension for one frame
  ASSERT_EQ(g.Controls.size(), 1u);
  EXPECT_EQ(g.Controls[0].Flags, 0);
  EXPECT_EQ(g.Controls[0].Delay, 100);
  EXPECT_EQ(g.Controls[0].TransparentIndex, 0);
  ASSERT_EQ(g.Images.size(), 1u);
  const auto& image = g.Images[0];
  EXPECT_EQ(image.Left, 0);
  EXPECT_EQ(image.Top, 0);
  EXPECT_EQ(image.Width, 400);
  EXPECT_EQ(image.Height, 250);
  EXPECT_EQ(image.Flags, 0);
  EXPECT_EQ(image.MinCodeSize, 4);
  for (std::size_t k = 0; k + 1 < image.SubBlockSizes.size(); ++k) EXPECT_EQ(image.SubBlockSizes[k], 255);
  EXPECT_EQ(gif_test::ReadCodes(image.Data, 4).Indices.size(), 100000u);

  ASSERT_EQ(g.Comments.size(), 1u);
  EXPECT_EQ(g.Comments[0], CreditComment);
  EXPECT_TRUE(g.Trailer);
}

// Colour table size and LZW minimum code size follow the colour count.
TEST(GifWriter, TableSizeAndCodeSizeFollowTheColourCount) {
  struct Case {
    int colors, entries, minCodeSize;
  } cases[] = {{1, 2, 2},   {2, 2, 2},   {3, 4, 2},   {4, 4, 2},    {5, 8, 3},    {8, 8, 3},   {9, 16, 4},
               {16, 16, 4}, {17, 32, 5}, {33, 64, 6}, {65, 128, 7}, {128, 128, 7}, {129, 256, 8}, {256, 256, 8}};
  for (const auto& c : cases) {
    const auto bitmap = ColorBitmap(37, 11, c.colors);
    const auto e = WriteOne(Frame(bitmap));
    ASSERT_TRUE(e.Ok) << c.colors;
    const auto g = ParseGif(e.Bytes);
    EXPECT_EQ(static_cast<int>(g.GlobalTable.size()), 3 * c.entries) << c.colors;
    EXPECT_EQ(g.Images[0].MinCodeSize, c.minCodeSize) << c.colors;
    for (int i = 0; i < c.colors; ++i) EXPECT_EQ(TableColor(g.GlobalTable, i), DistinctColor(static_cast<std::uint32_t>(i)));
    for (int i = c.colors; i < c.entries; ++i) EXPECT_EQ(TableColor(g.GlobalTable, i), 0u) << c.colors;
  }
}

TEST(GifWriter, ControlExtensionFields) {
  const auto bitmap = ColorBitmap(4, 4, 3);
  struct Case {
    std::int32_t delay;
    int disposal;
    int delayField;
    int flags;
  } cases[] = {
      {1000, 0, 100, 0x00}, {5, 1, 0, 0x04},     {0, 2, 0, 0x08},        {19, 3, 1, 0x0C},
      {20, 4, 2, 0x00},     {-20, 255, 0, 0x00}, {700000, 0, 65535, 0x00},
  };
  for (const auto& c : cases) {
    TFrameInfo frame = Frame(bitmap);
    frame.Delay = c.delay;
    frame.Disposal = static_cast<std::uint8_t>(c.disposal);
    const auto g = ParseGif(WriteOne(frame).Bytes);
    EXPECT_EQ(g.Controls.at(0).Delay, c.delayField) << c.delay;
    EXPECT_EQ(g.Controls.at(0).Flags, c.flags) << c.disposal;
  }
}

TEST(GifWriter, FrameCommentsAreCutIntoSubBlocks) {
  const auto bitmap = ColorBitmap(3, 3, 2);
  struct Case {
    std::size_t length;
    std::vector<int> blocks;
  } cases[] = {{1, {1}}, {254, {254}}, {255, {255}}, {256, {255, 1}}, {300, {255, 45}}, {765, {255, 255, 255}}};
  for (const auto& c : cases) {
    TFrameInfo frame = Frame(bitmap);
    for (std::size_t k = 0; k < c.length; ++k) frame.Comment += static_cast<char>('a' + k % 26);
    const auto g = ParseGif(WriteOne(frame).Bytes);
    EXPECT_EQ(g.Order, "CGIC") << c.length;
    ASSERT_EQ(g.Comments.size(), 2u);
    EXPECT_EQ(g.Comments[0], frame.Comment);
    EXPECT_EQ(g.CommentSubBlocks[0], c.blocks) << c.length;
  }
}

// Row y gets colour y, so the palette index of a sent row names the source row.
TEST(GifWriter, InterlacedRowsGoOutInFourPasses) {
  struct Case {
    int height;
    std::vector<int> rows;
  } cases[] = {
      {1, {0}},
      {2, {0, 1}},
      {3, {0, 2, 1}},
      {5, {0, 4, 2, 1, 3}},
      {9, {0, 8, 4, 2, 6, 1, 3, 5, 7}},
      {10, {0, 8, 4, 2, 6, 1, 3, 5, 7, 9}},
      {17, {0, 8, 16, 4, 12, 2, 6, 10, 14, 1, 3, 5, 7, 9, 11, 13, 15}},
  };
  for (const auto& c : cases) {
    platform::Bitmap bitmap(3, c.height);
    for (int y = 0; y < c.height; ++y) {
      for (int x = 0; x < 3; ++x) gif_test::FillRgb(bitmap, x, y, DistinctColor(static_cast<std::uint32_t>(y)));
    }
    TFrameInfo frame = Frame(bitmap);
    frame.Interlaced = true;
    const auto g = ParseGif(WriteOne(frame).Bytes);
    const auto& image = g.Images.at(0);
    EXPECT_EQ(image.Flags, 0x40);
    const auto s = gif_test::ReadCodes(image.Data, image.MinCodeSize);
    ASSERT_EQ(s.Indices.size(), static_cast<std::size_t>(3 * c.height));
    std::vector<int> sent;
    for (int k = 0; k < c.height; ++k) {
      const std::uint32_t rgb = TableColor(g.GlobalTable, s.Indices[static_cast<std::size_t>(3 * k)]);
      sent.push_back(static_cast<int>(rgb >> 16));  // DistinctColor keeps y in red
    }
    EXPECT_EQ(sent, c.rows) << c.height;
  }
}

TEST(GifWriter, TransparentIndexIsTheTransparentColoursEntry) {
  // 256 colours: colour k lands on entry k, including the last entry 255.
  const auto bitmap = ColorBitmap(32, 16, 256);
  struct Case {
    bool transparent;
    std::uint32_t colorNumber;  // 1000: a colour the frame does not hold
    int flags;
    int index;
  } cases[] = {
      {true, 0, 1, 0}, {true, 17, 1, 17}, {true, 255, 1, 255}, {true, 1000, 0, 0}, {false, 17, 0, 0},
  };
  for (const auto& c : cases) {
    TFrameInfo frame = Frame(bitmap);
    frame.Transparent = c.transparent;
    const std::uint32_t rgb = DistinctColor(c.colorNumber);
    frame.TransparentColor = RGB(static_cast<std::uint8_t>(rgb >> 16), static_cast<std::uint8_t>(rgb >> 8),
                                 static_cast<std::uint8_t>(rgb));
    const auto g = ParseGif(WriteOne(frame).Bytes);
    EXPECT_EQ(g.Controls.at(0).Flags, c.flags) << c.colorNumber;
    EXPECT_EQ(g.Controls.at(0).TransparentIndex, c.index) << c.colorNumber;
  }
}

TEST(GifWriter, RefusesWithoutWritingAnything) {
  const auto good = ColorBitmap(5, 5, 4);
  const auto tooMany = ColorBitmap(20, 20, 257);
  const platform::Bitmap empty;
  struct Case {
    const char* name;
    int count;
    const platform::Bitmap* bitmap;
    std::int32_t left;
    std::int32_t top;
  } cases[] = {
      {"no frames", 0, &good, 0, 0},
      {"negative count", -1, &good, 0, 0},
      {"257 frames", 257, &good, 0, 0},
      {"no bitmap", 1, nullptr, 0, 0},
      {"empty bitmap", 1, &empty, 0, 0},
      {"257 colours", 1, &tooMany, 0, 0},
      {"negative left", 1, &good, -1, 0},
      {"negative top", 1, &good, 0, -1},
      {"beyond 65535 across", 1, &good, 65531, 0},
      {"beyond 65535 down", 1, &good, 0, 65531},
      {"huge position", 1, &good, 2147483647, 0},
  };
  for (const auto& c : cases) {
    TFrameInfo frame;
    frame.Bitmap = c.bitmap;
    frame.Left = c.left;
    frame.Top = c.top;
    TFrameList list;
    list.Count = c.count;
    list.Frames.fill(&frame);
    list.GlobalColorMap = true;
    TMemoryGifOutput out;
    EXPECT_FALSE(WriteGIF(out, list)) << c.name;
    EXPECT_EQ(out.WriteCount, 0) << c.name;
  }
  // A missing frame entry among good ones.
  TFrameInfo frame = Frame(good);
  TFrameList list;
  list.Count = 3;
  list.Frames[0] = list.Frames[2] = &frame;
  TMemoryGifOutput out;
  EXPECT_FALSE(WriteGIF(out, list));
  EXPECT_EQ(out.WriteCount, 0);
  // The largest screen that still fits.
  TFrameInfo edge = Frame(good);
  edge.Left = edge.Top = 65530;
  const auto e = WriteOne(edge);
  ASSERT_TRUE(e.Ok);
  EXPECT_EQ(ParseGif(e.Bytes).ScreenWidth, 65535);
}

TEST(GifWriter, AnimationLayout) {
  const auto a = ColorBitmap(10, 6, 3, 1);
  const auto b = ColorBitmap(4, 9, 5, 2);
  TFrameInfo first = Frame(a);
  TFrameInfo second = Frame(b);
  second.Left = 7;
  second.Top = 2;
  second.Comment = "second";
  for (const bool shared : {true, false}) {
    TFrameList list;
    list.Count = 2;
    list.Frames = {&first, &second};
    list.LoopCount = 0x1234;
    list.GlobalColorMap = shared;
    const auto e = Write(list);
    ASSERT_TRUE(e.Ok);
    const auto g = ParseGif(e.Bytes);
    EXPECT_EQ(g.ScreenWidth, 11);
    EXPECT_EQ(g.ScreenHeight, 11);
    EXPECT_EQ(g.Order, "AGICGIC");
    const std::string netscape = std::string("NETSCAPE2.0") + '\x01' + '\x34' + '\x12';
    EXPECT_EQ(std::string(g.Application.begin(), g.Application.end()), netscape);
    ASSERT_EQ(g.Images.size(), 2u);
    EXPECT_EQ(g.Images[1].Left, 7);
    EXPECT_EQ(g.Images[1].Top, 2);
    if (shared) {
      // Colour 0 is shared, so the first frame's 3 colours and the second's 4
      // new ones make 7 entries in one table of 8.
      EXPECT_EQ(g.ScreenFlags, 0x82);
      EXPECT_EQ(g.Images[0].Flags, 0);
      EXPECT_EQ(g.Images[1].Flags, 0);
      EXPECT_EQ(g.Images[1].MinCodeSize, 3);
    } else {
      EXPECT_EQ(g.ScreenFlags, 0);
      EXPECT_TRUE(g.GlobalTable.empty());
      EXPECT_EQ(g.Images[0].Flags, 0x81);
      EXPECT_EQ(g.Images[0].LocalTable.size(), 12u);
      EXPECT_EQ(g.Images[1].Flags, 0x82);
      EXPECT_EQ(g.Images[1].LocalTable.size(), 24u);
    }
  }
}

// Two frames of 200 colours each, only 100 of them in common: a shared table
// would need 300 entries, so every frame gets its own table and the caller's
// flag is cleared. The transparent index then refers to the frame's own table.
TEST(GifWriter, OverfullSharedTableFallsBackToLocalTables) {
  platform::Bitmap a(20, 10), b(20, 10);
  for (int k = 0; k < 200; ++k) {
    gif_test::FillRgb(a, k % 20, k / 20, DistinctColor(static_cast<std::uint32_t>(k)));
    gif_test::FillRgb(b, k % 20, k / 20, DistinctColor(static_cast<std::uint32_t>(k + 100)));
  }
  TFrameInfo first = Frame(a);
  TFrameInfo second = Frame(b);
  second.Transparent = true;
  const std::uint32_t rgb = DistinctColor(250);  // entry 150 of the second frame's table
  second.TransparentColor = RGB(static_cast<std::uint8_t>(rgb >> 16), static_cast<std::uint8_t>(rgb >> 8),
                                static_cast<std::uint8_t>(rgb));
  TFrameList list;
  list.Count = 2;
  list.Frames = {&first, &second};
  list.GlobalColorMap = true;
  const auto e = Write(list);
  ASSERT_TRUE(e.Ok);
  EXPECT_FALSE(list.GlobalColorMap);
  const auto g = ParseGif(e.Bytes);
  EXPECT_TRUE(g.GlobalTable.empty());
  ASSERT_EQ(g.Images.size(), 2u);
  EXPECT_EQ(g.Images[0].Flags, 0x87);
  EXPECT_EQ(g.Images[1].Flags, 0x87);
  EXPECT_EQ(TableColor(g.Images[1].LocalTable, 0), DistinctColor(100));
  EXPECT_EQ(g.Controls.at(1).Flags, 1);
  EXPECT_EQ(g.Controls.at(1).TransparentIndex, 150);
}

// A frame that cannot be written is found before anything goes out, whichever
// frame it is.
TEST(GifWriter, OverfullLaterFrameWritesNothing) {
  const auto good = ColorBitmap(8, 8, 10);
  const auto bad = ColorBitmap(20, 20, 300);
  TFrameInfo first = Frame(good);
  TFrameInfo second = Frame(bad);
  for (const bool shared : {true, false}) {
    TFrameList list;
    list.Count = 2;
    list.Frames = {&first, &second};
    list.GlobalColorMap = shared;
    TMemoryGifOutput out;
    EXPECT_FALSE(WriteGIF(out, list));
    EXPECT_EQ(out.WriteCount, 0);
  }
}

}  // namespace

namespace {

// Records the size of every write; throws on the write numbered `failAt`.
class TRecordingOutput : public TGifOutput {
 public:
  void Write(const void* buffer, std::size_t count) override {
    if (static_cast<int>(Sizes.size()) == FailAt) throw std::runtime_error("connection lost");
    Sizes.push_back(count);
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    Bytes.insert(Bytes.end(), bytes, bytes + count);
  }
  int FailAt = -1;
  std::vector<std::size_t> Sizes;
  std::vector<std::uint8_t> Bytes;
};

TEST(GifWriter, StreamGetsPiecesOfAtMost64KiBAndItsErrorsPassThrough) {
  const auto bitmap = ColorBitmap(700, 500, 256, 9);
  TFrameInfo frame = Frame(bitmap);
  TFrameList list;
  list.Count = 1;
  list.Frames[0] = &frame;

  TRecordingOutput out;
  ASSERT_TRUE(WriteGIF(out, list));
  ASSERT_GT(out.Sizes.size(), 3u);
  for (const std::size_t size : out.Sizes) EXPECT_LE(size, 65536u);
  TMemoryGifOutput whole;
  ASSERT_TRUE(WriteGIF(whole, list));
  EXPECT_EQ(out.Bytes, whole.Bytes);

  TRecordingOutput failing;
  failing.FailAt = 2;
  EXPECT_THROW(WriteGIF(failing, list), std::runtime_error);
  EXPECT_EQ(failing.Sizes.size(), 2u);
}

}  // namespace
