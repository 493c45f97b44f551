#include "chart/series_pointer.h"

#include "chart/series.h"
#include "chart/chart.h"

TSeriesPointer::TSeriesPointer(TChartSeries* owner) : owner_(owner), brush_(clAutomatic, platform::bsSolid) {}

void TSeriesPointer::Repaint() const {
  if (owner_) owner_->Repaint();
}
void TSeriesPointer::SetDraw3D(bool v) {
  if (draw_3d_ != v) { draw_3d_ = v; Repaint(); }
}
void TSeriesPointer::SetHorizSize(int v) {
  if (v < 1) throw ChartException("Die Größe des Pointers muß > 0 sein.");
  if (horiz_size_ != v) { horiz_size_ = v; Repaint(); }
}
void TSeriesPointer::SetVertSize(int v) {
  if (v < 1) throw ChartException("Die Größe des Pointers muß > 0 sein.");
  if (vert_size_ != v) { vert_size_ = v; Repaint(); }
}
void TSeriesPointer::SetInflateMargins(bool v) {
  if (inflate_margins_ != v) { inflate_margins_ = v; Repaint(); }
}
void TSeriesPointer::SetStyle(TSeriesPointerStyle v) {
  if (style_ != v) { style_ = v; Repaint(); }
}
void TSeriesPointer::SetVisible(bool v) {
  if (visible_ != v) { visible_ = v; Repaint(); }
}
void TSeriesPointer::Assign(const TSeriesPointer& other) {
  draw_3d_ = other.draw_3d_;
  brush_.Assign(other.brush_);
  horiz_size_ = other.horiz_size_;
  inflate_margins_ = other.inflate_margins_;
  pen_.Assign(other.pen_);
  style_ = other.style_;
  vert_size_ = other.vert_size_;
  visible_ = other.visible_;
  Repaint();
}

void TSeriesPointer::PrepareCanvas(TChartCanvas3D& canvas, TColor colour) const {
  canvas.AssignPen(pen_);
  if (pen_.Visible() && pen_.Color() == clAutomatic) canvas.Pen().Color = colour;
  canvas.AssignBrush(brush_);
  if (brush_.Color() == clAutomatic) canvas.Brush().Color = colour;
  canvas.SetBackMode(brush_.Style() == platform::bsSolid ? platform::bmTransparent : platform::bmOpaque);
}

void TSeriesPointer::DrawShape(TChartCanvas3D& canvas, bool view3D, int x, int y, int hs, int vs, int z0, int z1,
                               bool dark, TSeriesPointerStyle style, TColor colour) const {
  const int l = x - hs, r = x + hs, t = y - vs, b = y + vs;
  // The line shapes draw with the pen in the point's colour.
  const auto lines = [&] { canvas.Pen().Color = colour; };
  const auto cross = [&] {
    if (view3D) {
      canvas.VertLine3D(x, t, b + 1, z0);
      canvas.HorizLine3D(l, r + 1, y, z0);
    } else {
      canvas.DoVertLine(x, t, b + 1);
      canvas.DoHorizLine(l, r + 1, y);
    }
  };
  const auto diagCross = [&] {
    if (view3D) {
      canvas.LineWithZ(l, t, r + 1, b + 1, z0);
      canvas.LineWithZ(r, t, l - 1, b + 1, z0);
    } else {
      canvas.Line(l, t, r + 1, b + 1);
      canvas.Line(r, t, l - 1, b + 1);
    }
  };
  switch (style) {
    case psRectangle:
      if (!view3D)
        canvas.Rectangle(l, t, r + 1, b + 1);
      else if (draw_3d_)
        canvas.Cube(l, r, t, b, z0, z1, dark);
      else
        canvas.RectangleWithZ(line_math::MarkerRect(x, y, hs, vs), z0);
      break;
    case psCircle:
      if (view3D)
        canvas.EllipseWithZ(l, t, r, b, z0);
      else
        canvas.Ellipse(l, t, r, b);
      break;
    case psTriangle:
    case psDownTriangle:
    case psDiamond: {
      const std::vector<TPoint> corners = line_math::MarkerPolygon(style, x, y, hs, vs);
      if (!view3D) {
        canvas.Polygon(corners);
      } else if (style == psDiamond) {
        canvas.PlaneWithZ(corners[0], corners[1], corners[2], corners[3], z0);
      } else if (draw_3d_) {
        // A down triangle is the pyramid standing on its apex.
        if (style == psTriangle)
          canvas.Pyramid(true, l, t, r, b, z0, z1, dark);
        else
          canvas.Pyramid(true, l, b, r, t, z0, z1, dark);
      } else {
        canvas.TriangleWithZ(corners[0], corners[1], corners[2], z0);
      }
      break;
    }
    case psCross:
      lines();
      cross();
      break;
    case psDiagCross:
      lines();
      diagCross();
      break;
    case psStar:
      lines();
      cross();
      diagCross();
      break;
    case psSmallDot:
      if (view3D)
        canvas.Pixel3D(x, y, z0, colour);
      else
        canvas.SetPixel(x, y, colour);
      break;
  }
}
