// A drawing surface that writes every drawing call as SVG elements instead
// of pixels, so that the chart code that draws the GIF draws a vector
// document too. Shapes land where the bitmap surface puts their pixels
// (fills on the shape's edges, 1-pixel outlines on pixel centres), text stays
// text in the chart font with metric-compatible fallbacks, and nothing in
// the document refers outside it (patterns, clips and pictures are inside).
//
// Element per call (attributes after the geometry: fill, then stroke):
//   LineTo, Polyline    path "M.. L.." (connected lines with the same pen
//                       share one path; dashed pens with an opaque
//                       background get a solid path in the background
//                       colour under the dashes)
//   Polygon             polygon, fill-rule evenodd
//   Rectangle, FillRect, PatBlt, SetPixel, RoundRect
//                       rect (rounded: rx, ry)
//   Ellipse             ellipse
//   Arc, Pie            path with an elliptical arc ("A"); a pie whose rays
//                       meet is an ellipse
//   TextOut             text (rotated: transform rotate), a rect under it
//                       when the background is opaque
//   ClipRectangle, ClipPolygon
//                       clipPath, then a group using it up to the next clip
//                       change
//   hatch brushes       pattern of 8 × 8 user units
//   Draw, StretchDraw, BitBlt, brush pictures
//                       image holding the picture as a PNG data URI
#pragma once

#include <string>

#include "platform/svg_document.h"
#include "platform/surface.h"

namespace platform {

class SvgSurface final : public Surface {
 public:
  // A document of width × height user units, both at least 1 (raises
  // Exception otherwise), white like a new bitmap.
  SvgSurface(int width, int height);

  // The finished document. The surface takes no more drawing afterwards.
  std::string Finish();

  void MoveTo(int x, int y) override;
  void LineTo(int x, int y) override;
  void Polygon(std::span<const TPoint> points) override;
  void Rectangle(int left, int top, int right, int bottom) override;
  void RoundRect(int left, int top, int right, int bottom, int corner_w, int corner_h) override;
  void Ellipse(int left, int top, int right, int bottom) override;
  void Arc(int left, int top, int right, int bottom, int x1, int y1, int x2, int y2) override;
  void Pie(int left, int top, int right, int bottom, int x1, int y1, int x2, int y2) override;
  void FillRect(const TRect& r) override;
  void PatBlt(const TRect& r, TColor colour) override;
  void SetPixel(int x, int y, TColor colour) override;
  void TextOut(int x, int y, std::string_view text) override;
  void ClipRectangle(const TRect& r) override;
  void ClipPolygon(std::span<const TPoint> points) override;
  void UnClip() override;
  void Draw(int x, int y, const Bitmap& picture) override;
  void StretchDraw(const TRect& r, const Bitmap& picture) override;
  void BitBlt(int x, int y, const Bitmap& source, const TRect& source_rect) override;

 private:
  // Writes the pending line path, if any.
  void FlushPath();
  // The fill value of the brush: a colour, "url(#id)" of a pattern written
  // here (so call it before starting the element) or "none".
  std::string BrushFill();
  // stroke attributes of the pen in the given colour; dashed when the pen's
  // style asks for it (width 1 only).
  void StrokeAttrs(TColor colour, bool dashed);
  bool HasOutline() const { return Pen.Style != psClear; }
  void ArcPath(int left, int top, int right, int bottom, int x1, int y1, int x2, int y2, bool pie);
  void Picture(double x, double y, double width, double height, const Bitmap& picture);

  SvgDocument doc_;
  bool clipped_ = false;  // a clip group is open
  // The pending path of connected lines and the pen it is drawn with.
  std::string path_;
  TPen path_pen_;
  TColor path_back_ = clWhite;
  bool path_gaps_ = false;  // dashed with the gaps in path_back_
  TPoint path_end_{};
};

}  // namespace platform
