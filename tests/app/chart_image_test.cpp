#include <gtest/gtest.h>
#include <vector>
#include "app/hauptseite.h"
#include "app/http_chart.h"
#include "chart/chart.h"
#include "driver_harness.h"
#include "platform/surface.h"
#include "support/cgi_harness.h"

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
  EXPECT_EQ((std::vector<int>{bitmap->Width(), bitmap->Height()}), (std::vector<int>{123, 45}));
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

// An image the encoder refuses takes the request's error path: a log line
// and no answer at all, never an image header without an image.
TEST(ChartImage, EncodingFailureIsLoggedAndSendsNothing) {
  for (const char* method : {"GET", "HEAD"}) {
    CgiRun run;
    run.env = {{"SERVER_SOFTWARE", "lighttpd"}, {"REQUEST_METHOD", method}};
    run.handler = [](THttpEngine&) {
      HttpAddAnswerHeader("ETag", "\"1\"");
      platform::Bitmap bitmap(20, 15);  // 300 colours
      for (int i = 0; i < 300; ++i) bitmap.SetPixel(i % 20, i / 20, RGB(i % 256, i / 256, 7));
      SendGIF(bitmap);
    };
    run.Run();
    EXPECT_EQ(run.output, "") << method;
    ASSERT_EQ(run.logLines.size(), 1u) << method;
    EXPECT_EQ(LogMessage(run.logLines[0]),
              "Unhandled exception : GIF encoding failed for the 20 x 15 chart (a GIF holds at most 256 colours)");
  }
}

TEST(ChartImage, TheFormatFieldChoosesTheAnswer) {
  // query, content type, first bytes of the body
  struct Case { const char* query; const char* type; std::string body; };
  const Case cases[] = {
      {"format=", "image/gif", "GIF89a"},
      {"format=gif", "image/gif", "GIF89a"},
      {"format=png&style=3", "image/png", "\x89PNG\r\n\x1a\n"},
      {"format=svg&3D=yes", "image/svg+xml", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg "},
  };
  for (const Case& c : cases) {
    DriverRun run(c.query);
    run.Run();
    const std::string head = std::string("HTTP/1.1 200 OK\r\ncontent-type:") + c.type + "\r\n";
    EXPECT_EQ(run.output.substr(0, head.size()), head) << c.query;
    EXPECT_EQ(run.output.substr(run.output.find("\r\n\r\n") + 4, c.body.size()), c.body) << c.query;
    EXPECT_EQ(run.log, "") << c.query;
  }
  // The GIF is one still frame: after the 16-entry table a control block
  // (no transparency, disposal 0, 1000 ms) and an unlaced 400 x 250 image.
  DriverRun gif("");
  gif.Run();
  const std::string body = gif.output.substr(gif.output.find("\r\n\r\n") + 4);
  EXPECT_EQ(body.substr(13 + 3 * 16, 18),
            std::string("\x21\xF9\x04\x00\x64\x00\x00\x00\x2C\0\0\0\0\x90\x01\xFA\x00\x00", 18));
  // The SVG holds the chart's texts as text and the request's size.
  DriverRun svg("format=svg&width=300&height=200&number=yes");
  svg.Run();
  EXPECT_NE(svg.output.find("width=\"300\" height=\"200\" viewBox=\"0 0 300 200\""), std::string::npos);
  EXPECT_NE(svg.output.find(">181 yes</text>"), std::string::npos);
  EXPECT_NE(svg.output.find(">67 sehr gut</text>"), std::string::npos);
}
