// An off-screen 24-bit bitmap over a Cairo image surface (CAIRO_FORMAT_RGB24).
// The chart draws into it through a Surface; the GIF encoder reads it back
// row by row.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <memory>

#include "platform/color.h"

namespace platform {

class Bitmap {
 public:
  // Largest width or height accepted; bigger sizes raise Exception.
  static constexpr int kMaxSide = 32767;

  Bitmap() = default;
  // Creates a bitmap of the given size, filled white. Raises Exception when a
  // side is negative or above kMaxSide, or Cairo cannot make the surface.
  Bitmap(int width, int height);

  int Width() const { return width_; }
  int Height() const { return height_; }
  bool Empty() const { return width_ == 0 || height_ == 0; }

  // Resizes (contents lost, filled white).
  void SetSize(int width, int height);

  // The pixel format is always 24 bits per pixel; kept for callers that ask
  // for the switch before reading rows.
  void SetPixelFormat24() {}

  // Pixel access; out-of-range reads give 0 and writes are ignored.
  TColor Pixel(int x, int y) const;
  void SetPixel(int x, int y, TColor colour);

  // Row y as Cairo keeps it: one 32-bit 0x00RRGGBB word per pixel. Flushes
  // pending drawing first. y must lie in 0..Height()-1.
  const std::uint32_t* Row(int y) const;
  // Row y as blue, green, red byte triples (3 × Width() bytes into out).
  void ReadRowBGR(int y, std::uint8_t* out) const;

  // The Cairo surface to draw on (null for an empty bitmap). Call
  // MarkDirty() after writing through Row pointers obtained elsewhere.
  cairo_surface_t* CairoSurface() const { return surface_.get(); }
  void MarkDirty() const;

  // Writes the bitmap as a PNG file (developer tools and tests); raises
  // Exception on failure.
  void SavePng(const char* path) const;

 private:
  struct SurfaceDeleter {
    void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
  };
  int width_ = 0;
  int height_ = 0;
  std::unique_ptr<cairo_surface_t, SurfaceDeleter> surface_;
};

}  // namespace platform
