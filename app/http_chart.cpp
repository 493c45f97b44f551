#include "app/http_chart.h"

#include "chart/canvas3d.h"
#include "chart/chart.h"
#include "http/http_proc_table.h"
#include "image/png_writer.h"
#include "platform/surface.h"
#include "platform/svg_surface.h"
#include "platform/sysutils.h"

namespace {

// Binary kinds of the request, which choose the answer's content type.
constexpr int kBinaryGif = 2;
constexpr int kBinaryPng = 3;
constexpr int kBinarySvg = 4;

TFrameInfo MakeDefaultFrameInfo() {
  TFrameInfo info;
  info.Left = -1;  // negative: 0
  info.Top = -1;
  info.Width = -1;  // negative: bitmap width - Left
  info.Height = -1;
  info.Delay = 1000;
  info.Interlaced = false;
  info.Transparent = false;
  info.TransparentColor = 0xFFFFFF;
  info.Disposal = 0;
  return info;
}

}  // namespace

const TFrameInfo DefaultFrameInfo = MakeDefaultFrameInfo();

std::optional<TChartFormat> ChartFormatNamed(std::string_view name) {
  if (name.empty() || name == "gif") return GifFormat;
  if (name == "svg") return SvgFormat;
  if (name == "png") return PngFormat;
  return std::nullopt;
}

void THttpChart::SendChartImage() {
  if (ChartFormat == SvgFormat) {
    SendSVG(CreateChartSvg());
    return;
  }
  const std::unique_ptr<platform::Bitmap> bitmap = CreateChartBitmap();
  if (ChartFormat == PngFormat) {
    SendPNG(*bitmap);
  } else {
    SendGIF(*bitmap);
  }
}

namespace {

// Draws the chart of the component on the surface, its own size.
void DrawChart(TChart& chart, platform::Surface& surface) {
  // The chart draws straight onto the surface: an off-screen buffer of the
  // same size and a copy from it would give the same pixels (and no vector
  // shapes).
  TChartCanvas3D& canvas = chart.Canvas();
  const bool buffered = canvas.GetBufferedDisplay();
  canvas.SetBufferedDisplay(false);
  struct RestoreBuffering {
    TChartCanvas3D& canvas;
    bool buffered;
    ~RestoreBuffering() { canvas.SetBufferedDisplay(buffered); }
  } restore{canvas, buffered};
  chart.Draw(surface, TRect{0, 0, chart.Width(), chart.Height()});
}

// The chart of an image component, checked to be there and to have pixels.
TChart& DrawableChart(const THttpChartImage& image) {
  if (!image.Chart) throw Exception(image.Name + ": No chart assigned");
  const int width = image.Chart->Width();
  const int height = image.Chart->Height();
  if (width < 1 || height < 1) {
    throw Exception(image.Name + ": the chart has no pixels (" + std::to_string(width) + " x " + std::to_string(height) +
                    ")");
  }
  return *image.Chart;
}

}  // namespace

std::unique_ptr<platform::Bitmap> THttpChartImage::CreateChartBitmap() {
  TChart& chart = DrawableChart(*this);
  auto bitmap = std::make_unique<platform::Bitmap>(chart.Width(), chart.Height());
  platform::Surface surface(*bitmap);
  DrawChart(chart, surface);
  return bitmap;
}

std::string THttpChartImage::CreateChartSvg() {
  TChart& chart = DrawableChart(*this);
  platform::SvgSurface surface(chart.Width(), chart.Height());
  DrawChart(chart, surface);
  return surface.Finish();
}

void THttpChartImage::Notification(const void* component) {
  if (component != nullptr && component == Chart) Chart = nullptr;
}

void THttpStream::Write(const void* buffer, std::size_t count) {
  if (auto write = HttpProcTable().HttpWriteBinary) write(buffer, count);
}

void SendGIF(const platform::Bitmap& bitmap) {
  if (auto setKind = HttpProcTable().SetBinaryKind) setKind(kBinaryGif);
  TFrameInfo frame = DefaultFrameInfo;
  if (frame.Left < 0) frame.Left = 0;
  if (frame.Top < 0) frame.Top = 0;
  if (frame.Width < 0) frame.Width = bitmap.Width() - frame.Left;
  if (frame.Height < 0) frame.Height = bitmap.Height() - frame.Top;
  frame.Bitmap = &bitmap;
  TFrameList list;
  list.Count = 1;
  list.Frames[0] = &frame;
  list.LoopCount = 0;
  list.GlobalColorMap = true;
  // The whole image is made before anything is sent: a failure then reaches
  // the request's error path (its log line) instead of an image header
  // with no image behind it, and a HEAD request learns the image's length.
  TMemoryGifOutput gif;
  if (!WriteGIF(gif, list)) {
    throw Exception("GIF encoding failed for the " + std::to_string(bitmap.Width()) + " x " +
                    std::to_string(bitmap.Height()) + " chart (a GIF holds at most 256 colours)");
  }
  if (auto write = HttpProcTable().HttpWriteImage) write(gif.Bytes.data(), gif.Bytes.size());
}

void SendPNG(const platform::Bitmap& bitmap) {
  const std::vector<std::uint8_t> png = EncodePalettePNG(bitmap);
  if (auto setKind = HttpProcTable().SetBinaryKind) setKind(kBinaryPng);
  if (auto write = HttpProcTable().HttpWriteImage) write(png.data(), png.size());
}

void SendSVG(std::string_view document) {
  if (auto setKind = HttpProcTable().SetBinaryKind) setKind(kBinarySvg);
  if (auto write = HttpProcTable().HttpWriteImage) write(document.data(), document.size());
}
