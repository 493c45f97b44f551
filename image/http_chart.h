// Chart image output: draws a chart into a bitmap and sends it as a GIF
// image, the body of the current HTTP response.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "image/gif_writer.h"
#include "platform/bitmap.h"

class TChart;

enum TChartFormat : std::uint8_t { GifFormat = 0 };

// The base component: knows the image format and how to send.
class THttpChart {
 public:
  explicit THttpChart(std::string name = {}) : Name(std::move(name)) {}
  virtual ~THttpChart() = default;

  std::string Name;
  TChartFormat ChartFormat = GifFormat;

  // Draws the chart into a new bitmap and sends it as a GIF through the
  // engine of the running request.
  void SendChartImage();

  // A new bitmap holding the drawn chart; the caller owns it.
  virtual std::unique_ptr<platform::Bitmap> CreateChartBitmap() = 0;
};

// The chart-specific output: its bitmap is the chart drawn at its own size.
class THttpChartImage : public THttpChart {
 public:
  using THttpChart::THttpChart;

  // The chart to draw; not owned.
  TChart* Chart = nullptr;

  // Raises "<Name>: No chart assigned" without a chart, and "<Name>: the chart
  // has no pixels (W x H)" for a chart without width or height, which no GIF
  // can show.
  std::unique_ptr<platform::Bitmap> CreateChartBitmap() override;

  // Called when a component goes away: forgets the chart if it is that one.
  void Notification(const void* component);
};

// Write-only stream that hands every byte block to the engine's raw write.
class THttpStream : public TGifOutput {
 public:
  void Write(const void* buffer, std::size_t count) override;
};

// Settings of chart images: position 0,0, size of the bitmap, delay 1000 ms,
// not interlaced, no transparency (white), disposal 0, no comment.
extern const TFrameInfo DefaultFrameInfo;

// Writes one bitmap as a GIF through the engine (binary kind GIF) as the
// answer's body (only its header for a HEAD request). Raises Exception "GIF
// encoding failed for the W x H chart (a GIF holds at most 256 colours)"
// when the encoder refuses the bitmap; nothing has been sent then.
void SendGIF(const platform::Bitmap& bitmap);
