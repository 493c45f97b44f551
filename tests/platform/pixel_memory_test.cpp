#include "platform/pixel_memory.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "platform/bitmap.h"

namespace platform {
namespace {

TEST(PixelMemory, WholeHugePagesAlignedZeroedAndWritableToTheEnd) {
  for (std::size_t bytes : {std::size_t{1}, PixelMemory::kWorthwhile, PixelMemory::kHugePage, PixelMemory::kHugePage + 1}) {
    SCOPED_TRACE(bytes);
    PixelMemory memory(bytes);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(memory.Data()) % PixelMemory::kHugePage, 0u);
    EXPECT_GE(memory.Length(), bytes);
    EXPECT_EQ(memory.Length() % PixelMemory::kHugePage, 0u);
    EXPECT_EQ(memory.Data()[0], 0);
    EXPECT_EQ(memory.Data()[memory.Length() - 1], 0);
    memory.Data()[memory.Length() - 1] = 0xAB;
  }
}

// Bitmaps on either side of the size from which their pixels live in
// PixelMemory behave alike: filled white, every corner writable.
TEST(PixelMemory, BitmapsOfEverySizeKeepTheirPixels) {
  for (auto [w, h] : {std::pair{60, 60}, {256, 256}, {400, 250}, {1200, 900}}) {
    SCOPED_TRACE(testing::Message() << w << " x " << h);
    Bitmap bitmap(w, h);
    EXPECT_EQ(bitmap.Pixel(w - 1, h - 1), clWhite);
    bitmap.SetPixel(0, 0, clRed);
    bitmap.SetPixel(w - 1, h - 1, clBlue);
    EXPECT_EQ(bitmap.Pixel(0, 0), clRed);
    EXPECT_EQ(bitmap.Pixel(w - 1, h - 1), clBlue);
    bitmap.SetSize(w / 2 + 1, h / 2 + 1);
    EXPECT_EQ(bitmap.Pixel(w / 2, h / 2), clWhite);
  }
}

}  // namespace
}  // namespace platform
