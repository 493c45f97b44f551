#include "image/http_chart.h"

#include "chart/canvas3d.h"
#include "chart/chart.h"
#include "http/http_proc_table.h"
#include "platform/surface.h"
#include "platform/sysutils.h"

namespace {

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

void THttpChart::SendChartImage() {
  const std::unique_ptr<platform::Bitmap> bitmap = CreateChartBitmap();
  if (ChartFormat == GifFormat) SendGIF(*bitmap);
}

std::unique_ptr<platform::Bitmap> THttpChartImage::CreateChartBitmap() {
  if (!Chart) throw Exception(Name + ": No chart assigned");
  const int width = Chart->Width();
  const int height = Chart->Height();
  if (width < 1 || height < 1) {
    throw Exception(Name + ": the chart has no pixels (" + std::to_string(width) + " x " + std::to_string(height) + ")");
  }
  auto bitmap = std::make_unique<platform::Bitmap>(width, height);
  platform::Surface surface(*bitmap);
  // The chart draws straight into the new bitmap: an off-screen buffer of
  // the same size and a copy from it would give the same pixels.
  TChartCanvas3D& canvas = Chart->Canvas();
  const bool buffered = canvas.GetBufferedDisplay();
  canvas.SetBufferedDisplay(false);
  struct RestoreBuffering {
    TChartCanvas3D& canvas;
    bool buffered;
    ~RestoreBuffering() { canvas.SetBufferedDisplay(buffered); }
  } restore{canvas, buffered};
  Chart->Draw(surface, TRect{0, 0, width, height});
  return bitmap;
}

void THttpChartImage::Notification(const void* component) {
  if (component != nullptr && component == Chart) Chart = nullptr;
}

void THttpStream::Write(const void* buffer, std::size_t count) {
  if (auto write = HttpProcTable().HttpWriteBinary) write(buffer, count);
}

void SendGIF(const platform::Bitmap& bitmap) {
  if (auto setKind = HttpProcTable().SetBinaryKind) setKind(2);
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
