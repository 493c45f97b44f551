// The markers at the points of line and point series: their settings, and
// the drawing of one marker in any of the nine shapes, flat or in 3D.
#pragma once

#include "chart/canvas3d.h"
#include "chart/line_math.h"

class TChartSeries;

class TSeriesPointer {
 public:
  explicit TSeriesPointer(TChartSeries* owner);

  bool Draw3D() const { return draw_3d_; }
  void SetDraw3D(bool v);
  // Marker fill; colour clAutomatic means the point's colour.
  TChartBrush& Brush() { return brush_; }
  const TChartBrush& Brush() const { return brush_; }
  int HorizSize() const { return horiz_size_; }
  // >= 1, else ChartException "Die Größe des Pointers muß > 0 sein.".
  void SetHorizSize(int v);
  bool InflateMargins() const { return inflate_margins_; }
  void SetInflateMargins(bool v);
  // Marker outline; colour clAutomatic means the point's colour.
  TChartPen& Pen() { return pen_; }
  const TChartPen& Pen() const { return pen_; }
  TSeriesPointerStyle Style() const { return style_; }
  void SetStyle(TSeriesPointerStyle v);
  int VertSize() const { return vert_size_; }
  void SetVertSize(int v);
  bool Visible() const { return visible_; }
  void SetVisible(bool v);

  void Assign(const TSeriesPointer& other);

  // Sets the canvas pen and brush for a marker in colour.
  void PrepareCanvas(TChartCanvas3D& canvas, TColor colour) const;
  // Draws a marker of half sizes hs, vs centred on (x, y) with the prepared
  // pen and brush: flat, or in 3D between depths z0 and z1 (solid shapes
  // with Draw3D, darker sides with dark).
  void DrawShape(TChartCanvas3D& canvas, bool view3D, int x, int y, int hs, int vs, int z0, int z1, bool dark,
                 TSeriesPointerStyle style, TColor colour) const;

 private:
  void Repaint() const;
  TChartSeries* owner_;
  bool draw_3d_ = true;
  TChartBrush brush_;
  int horiz_size_ = 4;
  bool inflate_margins_ = true;
  TChartPen pen_;
  TSeriesPointerStyle style_ = psRectangle;
  int vert_size_ = 4;
  bool visible_ = true;
};
