// Chart image output: draws a chart and sends it as the body of the current
// HTTP response: a GIF (the default) or a PNG of the chart's bitmap, or an
// SVG document drawn by the same chart code on a vector surface.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "image/gif_writer.h"
#include "platform/bitmap.h"

class TChart;

enum TChartFormat : std::uint8_t { GifFormat = 0, SvgFormat = 1, PngFormat = 2 };

// The format a request's "format" field names: "gif" or an empty value,
// "svg", "png" (compared with case, like the other fields); nothing for
// any other value.
std::optional<TChartFormat> ChartFormatNamed(std::string_view name);

// The base component: knows the image format and how to send.
class THttpChart {
 public:
  explicit THttpChart(std::string name = {}) : Name(std::move(name)) {}
  virtual ~THttpChart() = default;

  std::string Name;
  TChartFormat ChartFormat = GifFormat;

  // Draws the chart and sends it in ChartFormat through the engine of the
  // running request.
  void SendChartImage();

  // A new bitmap holding the drawn chart; the caller owns it.
  virtual std::unique_ptr<platform::Bitmap> CreateChartBitmap() = 0;
  // The chart drawn as an SVG document.
  virtual std::string CreateChartSvg() = 0;
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
  // The same checks; the document is the chart's width × height in user units.
  std::string CreateChartSvg() override;

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

// Writes one bitmap as a palette PNG through the engine (binary kind PNG).
// Raises the encoder's Exception, before anything is written, when the
// bitmap cannot be encoded.
void SendPNG(const platform::Bitmap& bitmap);

// Writes an SVG document through the engine (binary kind SVG).
void SendSVG(std::string_view document);
