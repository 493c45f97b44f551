#include <gtest/gtest.h>
#include <vector>
#include "app/hauptseite.h"
#include "chart/chart.h"
#include "image/http_chart.h"
#include "platform/surface.h"
#include "driver_harness.h"

namespace {

std::string FailureOf(THttpChartImage& image) {
  try {
    image.CreateChartBitmap();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "no failure";
}

}  // namespace

TEST(ChartImage, FailuresNameTheComponent) {
  THttpChartImage image("Ausgabegrafik");
  EXPECT_EQ(FailureOf(image), "Ausgabegrafik: No chart assigned");
  auto chart = CreateMainChart();
  image.Chart = chart.get();
  image.Notification(nullptr);  // another component going away changes nothing
  EXPECT_EQ(image.Chart, chart.get());
  image.Notification(chart.get());  // the chart going away is forgotten
  EXPECT_EQ(FailureOf(image), "Ausgabegrafik: No chart assigned");
  // A chart without pixels cannot become a GIF: the request ends with a clear
  // error instead of an empty image.
  image.Chart = chart.get();
  chart->SetWidth(0);
  EXPECT_EQ(FailureOf(image), "Ausgabegrafik: the chart has no pixels (0 x 250)");
}

TEST(ChartImage, BitmapHasTheChartSizeAndTheBufferedPixels) {
  auto chart = CreateMainChart();
  chart->SetWidth(123);
  chart->SetHeight(45);
  chart->Series(0)->SetActive(true);
  chart->Series(0)->Add(3, "a", clRed);
  THttpChartImage image("Ausgabegrafik");
  image.Chart = chart.get();
  const auto bitmap = image.CreateChartBitmap();
  EXPECT_EQ(bitmap->Width(), 123);
  EXPECT_EQ(bitmap->Height(), 45);
  // Drawn straight into the bitmap: the same pixels as through the chart's
  // off-screen buffer, whose setting is left as it was.
  EXPECT_TRUE(chart->Canvas().GetBufferedDisplay());
  platform::Bitmap buffered(123, 45);
  platform::Surface surface(buffered);
  chart->Draw(surface, TRect{0, 0, 123, 45});
  for (int y = 0; y < 45; ++y) {
    ASSERT_EQ(std::vector<std::uint32_t>(bitmap->Row(y), bitmap->Row(y) + 123),
              std::vector<std::uint32_t>(buffered.Row(y), buffered.Row(y) + 123))
        << "row " << y;
  }
}

TEST(ChartImage, TheDefaultRequestAnswersOneGifFrame) {
  DriverRun run("");
  run.Run();
  const std::string head = "HTTP/1.1 200 OK\r\ncontent-type:image/gif\r\n\r\n";
  ASSERT_EQ(run.output.compare(0, head.size(), head), 0);
  const auto* gif = reinterpret_cast<const unsigned char*>(run.output.data() + head.size());
  const auto u16 = [&](std::size_t at) { return gif[at] | (gif[at + 1] << 8); };
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(gif), 6), "GIF89a");
  EXPECT_EQ(u16(6), 400);
  EXPECT_EQ(u16(8), 250);
  // 9 colours: a global table of 16 entries.
  EXPECT_EQ(gif[10], 0x80 | 3);
  const std::size_t gce = 13 + 3 * 16;
  EXPECT_EQ(gif[gce], 0x21);
  EXPECT_EQ(gif[gce + 1], 0xF9);
  EXPECT_EQ(gif[gce + 3], 0x00);   // disposal 0, no transparency
  EXPECT_EQ(u16(gce + 4), 100);    // 1000 ms
  const std::size_t descriptor = gce + 8;
  EXPECT_EQ(gif[descriptor], 0x2C);
  EXPECT_EQ(u16(descriptor + 1), 0);
  EXPECT_EQ(u16(descriptor + 3), 0);
  EXPECT_EQ(u16(descriptor + 5), 400);
  EXPECT_EQ(u16(descriptor + 7), 250);
  EXPECT_EQ(gif[descriptor + 9], 0x00);  // no local table, not interlaced
  EXPECT_EQ(static_cast<unsigned char>(run.output.back()), 0x3B);
}
