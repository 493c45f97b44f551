#include "chart/line_series.h"

#include <algorithm>

#include "chart/axis.h"
#include "chart/chart.h"

namespace {

// Pixel positions beyond this range are not drawn.
constexpr int kMaxPixel = 32767;
bool Drawable(int v) { return v > -kMaxPixel && v < kMaxPixel; }

}  // namespace

// ===========================================================================
// TCustomSeries: settings

TCustomSeries::TCustomSeries() : pointer_(this) {}

void TCustomSeries::SetAreaBrush(platform::TBrushStyle v) { Store(area_brush_, v, *this); }
void TCustomSeries::SetAreaColor(TColor v) { Store(area_color_, v, *this); }
void TCustomSeries::SetDark3D(bool v) { Store(dark_3d_, v, *this); }
void TCustomSeries::SetDrawArea(bool v) { Store(draw_area_, v, *this); }
void TCustomSeries::SetDrawLine(bool v) { Store(draw_line_, v, *this); }
void TCustomSeries::SetInvertedStairs(bool v) { Store(inverted_stairs_, v, *this); }
void TCustomSeries::SetLineBrush(platform::TBrushStyle v) { Store(line_brush_, v, *this); }
void TCustomSeries::SetStairs(bool v) { Store(stairs_, v, *this); }

void TCustomSeries::AskHorizMargins(int& left, int& right) {
  left = right = 0;
  if (pointer_.Visible() && pointer_.InflateMargins()) left = right = pointer_.HorizSize() + 1;
}

void TCustomSeries::AskVertMargins(int& top, int& bottom) {
  top = bottom = 0;
  if (pointer_.Visible() && pointer_.InflateMargins()) top = bottom = pointer_.VertSize() + 1;
}

int TCustomSeries::GetOriginPos(int /*valueIndex*/) const {
  return ParentChart() ? ParentChart()->PlotRect().Bottom : 0;
}

bool TCustomSeries::SameKindAs(const TChartSeries& other) const {
  return dynamic_cast<const TCustomSeries*>(&other) != nullptr;
}

void TCustomSeries::Assign(const TCustomSeries& other) {
  stairs_ = other.stairs_;
  inverted_stairs_ = other.inverted_stairs_;
  line_brush_ = other.line_brush_;
  area_brush_ = other.area_brush_;
  area_color_ = other.area_color_;
  pointer_.Assign(other.pointer_);
  line_pen_.Assign(other.line_pen_);
  area_lines_pen_.Assign(other.area_lines_pen_);
  dark_3d_ = other.dark_3d_;
  clickable_line_ = other.clickable_line_;
  Repaint();
}

TColor TCustomSeries::AreaColorOf(TColor colour) const {
  return ColorEachPoint() || area_color_ == clAutomatic ? colour : area_color_;
}

// ===========================================================================
// TCustomSeries: drawing

void TCustomSeries::DrawValue(int valueIndex) {
  TCustomAxisPanel* chart = ParentChart();
  if (!chart) return;
  const int x = CalcXPos(valueIndex);
  const int y = CalcYPos(valueIndex);
  if (!Drawable(x) || !Drawable(y)) return;
  TChartCanvas3D& canvas = ParentCanvas();
  const TColor colour = ValueColor(valueIndex);
  canvas.Pen().Color = clBlack;
  canvas.Brush().Color = colour;
  if (old_color_ == clNone) {
    old_x_ = x;
    old_y_ = y;
  }
  bottom_pos_ = GetOriginPos(valueIndex);
  if (valueIndex == FirstValueIndex()) {
    if (dark_3d_) {
      const int w = chart->SeriesWidth3D();
      dark_ratio_ = w == 0 ? 1 : static_cast<double>(chart->SeriesHeight3D()) / w;
    }
    if (valueIndex > 0) {
      const int before = valueIndex - 1;
      if (draw_area_) {
        old_x_ = CalcXPos(before);
        old_y_ = CalcYPos(before);
        old_bottom_pos_ = GetOriginPos(before);
      } else {
        // The line enters the plotting area at its edge, at the height it has
        // there.
        const TChartAxis* horiz = GetHorizAxis();
        old_x_ = horiz && horiz->Inverted() ? chart->PlotRect().Right : chart->PlotRect().Left;
        if (stairs_ || !horiz) {
          old_y_ = CalcYPos(before);
        } else {
          const double v = horiz->CalcPosPoint(old_x_);
          const double enter = line_math::InterpolateY(XValue(before), YValue(before), XValue(valueIndex),
                                                       YValue(valueIndex), v);
          old_y_ = XValue(valueIndex) == XValue(before) ? CalcYPos(before) : CalcYPosValue(enter);
        }
      }
      if (ValueColor(before) != clNone) DrawSegment(valueIndex, x, y, colour, false);
    }
    if (valueIndex == LastValueIndex() && pointer_.Visible() && colour != clNone)
      DrawPointer(x, y, valueIndex, colour);
  } else {
    DrawSegment(valueIndex, x, y, colour, true);
  }
  old_x_ = x;
  old_y_ = y;
  old_bottom_pos_ = bottom_pos_;
  old_color_ = colour;
}

void TCustomSeries::PrepareLinePen(TColor colour) {
  TChartCanvas3D& canvas = ParentCanvas();
  canvas.AssignPen(line_pen_);
  canvas.Brush().Style = platform::bsClear;
  canvas.Pen().Color = colour;
}

void TCustomSeries::DrawSegment(int valueIndex, int x, int y, TColor colour, bool withMarkers) {
  TCustomAxisPanel& chart = *ParentChart();
  TChartCanvas3D& canvas = ParentCanvas();
  const bool view3D = chart.View3D();
  const int z0 = StartZ();
  const int z1 = EndZ();
  if (!(x == old_x_ && y == old_y_) && colour != clNone) {
    if (view3D && (draw_area_ || (draw_line_ && line_brush_ != platform::bsClear))) {
      // The ribbon: the line's top face through the depth of the series.
      TColor fill = AreaColorOf(colour);
      canvas.AssignPen(line_pen_);
      canvas.Brush().Style = line_brush_;
      canvas.Brush().Image.reset();
      if (stairs_ && inverted_stairs_) {
        canvas.Brush().Color = fill;
        canvas.RectangleZ(old_x_, old_y_, y, z0, z1);
        canvas.RectangleY(x, y, old_x_, z0, z1);
      } else if (stairs_) {
        canvas.Brush().Color = fill;
        canvas.RectangleY(old_x_, old_y_, x, z0, z1);
        canvas.RectangleZ(x, y, old_y_, z0, z1);
      } else {
        if (dark_3d_ && line_math::SteepRibbon(old_x_, old_y_, x, y, dark_ratio_))
          fill = ShadeColor(fill, TopFaceShade);
        canvas.Brush().Color = fill;
        canvas.Plane3D(TPoint{x, y}, TPoint{old_x_, old_y_}, z0, z1);
      }
    }
    if (draw_area_) {
      DrawAreaPiece(valueIndex, x, y, AreaColorOf(colour));
    } else if (!view3D && draw_line_) {
      PrepareLinePen(colour);
      const std::vector<TPoint> path =
          line_math::SegmentPath(TPoint{old_x_, old_y_}, TPoint{x, y}, stairs_, inverted_stairs_);
      canvas.MoveTo(path.front().X, path.front().Y);
      for (std::size_t k = 1; k < path.size(); ++k) canvas.LineTo(path[k].X, path[k].Y);
    }
  }
  if (withMarkers && pointer_.Visible()) {
    // A marker is drawn after the segment that leaves its point.
    if (old_color_ != clNone) DrawPointer(old_x_, old_y_, valueIndex - 1, old_color_);
    if (valueIndex == LastValueIndex() && colour != clNone) DrawPointer(x, y, valueIndex, colour);
  }
}

void TCustomSeries::DrawAreaPiece(int valueIndex, int x, int y, TColor fill) {
  TCustomAxisPanel& chart = *ParentChart();
  TChartCanvas3D& canvas = ParentCanvas();
  // The area's pen: AreaLinesPen, in the point's colour when automatic or
  // hidden (a hidden outline still closes the seams between pieces).
  canvas.AssignPen(area_lines_pen_);
  if (area_lines_pen_.Color() == clAutomatic || !area_lines_pen_.Visible()) {
    canvas.Pen().Style = platform::psSolid;
    canvas.Pen().Color = fill;
  }
  // The series brush set-up: colour, style, SeriesColor behind hatches.
  const TColor back = SeriesColor();
  TColor brushColour = fill;
  if (area_brush_ != platform::bsSolid && brushColour == back) brushColour = back != 0 ? clBlack : clWhite;
  canvas.Brush().Color = brushColour;
  canvas.Brush().Style = area_brush_;
  canvas.Brush().Image.reset();
  canvas.SetBackColor(back);
  canvas.SetBackMode(area_brush_ == platform::bsSolid ? platform::bmTransparent : platform::bmOpaque);

  const int z0 = StartZ();
  if (chart.View3D() && valueIndex == LastValueIndex()) canvas.RectangleZ(x, y, bottom_pos_, z0, EndZ());
  if (stairs_) {
    canvas.RectangleWithZ(TRect{old_x_, bottom_pos_, x + 1, inverted_stairs_ ? y : old_y_}, z0);
  } else {
    canvas.PlaneWithZ(TPoint{old_x_, old_bottom_pos_}, TPoint{old_x_, old_y_}, TPoint{x, y}, TPoint{x, bottom_pos_},
                      z0);
  }
}

void TCustomSeries::DrawPointer(int x, int y, int valueIndex, TColor colour) {
  TCustomAxisPanel* chart = ParentChart();
  if (!chart) return;
  TSeriesPointerStyle style = pointer_.Style();
  if (OnGetPointerStyle) style = OnGetPointerStyle(*this, valueIndex);
  TChartCanvas3D& canvas = ParentCanvas();
  pointer_.PrepareCanvas(canvas, colour);
  pointer_.DrawShape(canvas, chart->View3D(), x, y, pointer_.HorizSize(), pointer_.VertSize(), StartZ(), EndZ(),
                     dark_3d_, style, colour);
}

void TCustomSeries::DrawMark(int index, const std::string& text, TSeriesMarkPosition& position) {
  marks_.SetZPosition(StartZ());
  position.LeftTop.Y -= marks_.ArrowLength();
  position.ArrowTo.Y -= marks_.ArrowLength();
  TChartSeries::DrawMark(index, text, position);
}

void TCustomSeries::PrepareLegendCanvas(int /*valueIndex*/, TColor& backColor, platform::TBrushStyle& style) {
  if (!ParentChart()) return;
  TChartCanvas3D& canvas = ParentCanvas();
  if (draw_area_) {
    backColor = AreaColorOf(canvas.Brush().Color);
    canvas.AssignPen(area_lines_pen_);
    style = area_brush_;
  } else {
    canvas.AssignPen(line_pen_);
    style = line_brush_;
  }
}

void TCustomSeries::DrawLegendSymbol(int valueIndex, const TRect& rect) {
  TChartCanvas3D& canvas = ParentCanvas();
  const TColor colour = valueIndex == -1 ? SeriesColor() : ValueColor(valueIndex);
  const int middleY = (rect.Top + rect.Bottom) / 2;
  if (pointer_.Visible()) {
    if (draw_line_) {
      PrepareLinePen(colour);
      canvas.DoHorizLine(rect.Left, rect.Right, middleY);
    }
    const int w = line_pen_.Visible() ? rect.Width() / 3 : rect.Width() / 2 + 1;
    const int h = line_pen_.Visible() ? rect.Height() / 3 : rect.Height() / 2 + 1;
    TSeriesPointerStyle style = pointer_.Style();
    if (OnGetPointerStyle && valueIndex >= 0) style = OnGetPointerStyle(*this, valueIndex);
    pointer_.PrepareCanvas(canvas, colour);
    pointer_.DrawShape(canvas, false, (rect.Left + rect.Right) / 2, middleY, std::min(pointer_.HorizSize(), w),
                       std::min(pointer_.VertSize(), h), 0, 0, dark_3d_, style, colour);
  } else if (draw_line_ && !draw_area_) {
    const platform::TBrush brush = canvas.Brush();
    PrepareLinePen(colour);
    if (ParentChart() && ParentChart()->View3D()) {
      canvas.Brush() = brush;
      canvas.Rectangle(rect.Left, rect.Top, rect.Right, rect.Bottom);
    } else {
      canvas.DoHorizLine(rect.Left, rect.Right, middleY);
    }
  } else {
    TChartSeries::DrawLegendSymbol(valueIndex, rect);
  }
}

// ===========================================================================
// The three kinds

TLineSeries::TLineSeries() {
  draw_line_ = true;
  pointer_.SetVisible(false);
}
bool TLineSeries::SameKindAs(const TChartSeries& other) const {
  return dynamic_cast<const TLineSeries*>(&other) != nullptr;
}

void TLineSeries::Assign(const TCustomSeries& other) {
  TCustomSeries::Assign(other);
  pointer_.SetVisible(false);
  draw_area_ = false;
  draw_line_ = true;
}

TAreaSeries::TAreaSeries() {
  draw_area_ = true;
  pointer_.SetVisible(false);
}

bool TAreaSeries::SameKindAs(const TChartSeries& other) const {
  return dynamic_cast<const TAreaSeries*>(&other) != nullptr;
}

void TAreaSeries::SetMultiArea(TMultiArea v) {
  if (multi_area_ == v) return;
  multi_area_ = v;
  if (TCustomAxisPanel* chart = ParentChart()) {
    for (int i = 0; i < chart->SeriesCount(); ++i)
      if (auto* other = dynamic_cast<TAreaSeries*>(chart->Series(i))) other->multi_area_ = v;
  }
  Repaint();
}

double TAreaSeries::MaxYValue() const {
  if (multi_area_ == maStacked100) return 100;
  double result = TCustomSeries::MaxYValue();
  if (multi_area_ == maStacked)
    for (int i = 0; i < Count(); ++i) result = std::max(result, PointOrigin(i, false) + YValue(i));
  return result;
}

double TAreaSeries::MinYValue() const {
  if (multi_area_ == maStacked100) return 0;
  return TCustomSeries::MinYValue();
}

int TAreaSeries::StackedPos(int index, double ownValue) const {
  const double t = PointOrigin(index, false) + ownValue;
  if (multi_area_ == maStacked) return CalcYPosValue(t);
  const double total = PointOrigin(index, true);
  return CalcYPosValue(total == 0 ? 0 : t * 100 / total);
}

int TAreaSeries::CalcYPos(int index) const {
  if (multi_area_ == maNone) return TCustomSeries::CalcYPos(index);
  return StackedPos(index, YValue(index));
}

int TAreaSeries::GetOriginPos(int valueIndex) const {
  if (multi_area_ == maNone) return TCustomSeries::GetOriginPos(valueIndex);
  return StackedPos(valueIndex, 0);
}

void TAreaSeries::CalcZOrder() {
  if (multi_area_ != maNone && ParentChart() && ParentChart()->View3D() && ParentChart()->TopZSlot() >= 0) {
    // A stacked area shares the depth of the series before it; the first
    // series of all claims a slot of its own.
    SetZOrder(ParentChart()->TopZSlot());
    return;
  }
  TCustomSeries::CalcZOrder();
}

void TAreaSeries::Assign(const TCustomSeries& other) {
  TCustomSeries::Assign(other);
  draw_area_ = true;
  draw_line_ = true;
  pointer_.SetVisible(false);
  if (const auto* area = dynamic_cast<const TAreaSeries*>(&other)) multi_area_ = area->multi_area_;
}

TPointSeries::TPointSeries() {
  draw_line_ = false;
  clickable_line_ = false;
  marks_.SetArrowLength(0);
  pointer_.SetVisible(true);
}

void TPointSeries::SetColorEachPoint(bool value) {
  TCustomSeries::SetColorEachPoint(value);
  if (value) pointer_.Brush().SetColor(clAutomatic);
}

void TPointSeries::Assign(const TCustomSeries& other) {
  TCustomSeries::Assign(other);
  pointer_.SetVisible(true);
  draw_area_ = false;
  draw_line_ = false;
  clickable_line_ = false;
}

bool TPointSeries::SameKindAs(const TChartSeries& other) const {
  return dynamic_cast<const TPointSeries*>(&other) != nullptr;
}
