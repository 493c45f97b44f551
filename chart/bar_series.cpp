#include "chart/bar_series.h"

#include <algorithm>
#include <cstdlib>

#include "chart/axis.h"
#include "chart/axis_math.h"
#include "chart/chart.h"
#include "chart/pixel_math.h"

namespace {

void SelectFont(TChartCanvas3D& canvas, const TChartFont& font) { canvas.Font() = ToSurfaceFont(font); }

}  // namespace

// ---------------------------------------------------------------------------
// TCustomBarSeries: settings

TCustomBarSeries::TCustomBarSeries() {
  marks_.SetVisible(true);
  marks_.SetArrowLength(20);
}

void TCustomBarSeries::SetAutoMarkPosition(bool v) { Store(auto_mark_position_, v); }
void TCustomBarSeries::SetBarStyle(TBarStyle v) { Store(bar_style_, v); }
void TCustomBarSeries::SetBarWidthPercent(int v) {
  if (v < 1 || v > 100) throw BarException("Prozentwert für Balkenbreite muß zwischen 1 und 100 liegen.");
  Store(bar_width_percent_, v);
}
void TCustomBarSeries::SetDark3D(bool v) { Store(dark_3d_, v); }
void TCustomBarSeries::SetOffsetPercent(int v) {
  if (v < -100 || v > 100) throw BarException("Prozentwert für Balken-Offset muß zwischen -100% und 100% liegen.");
  Store(offset_percent_, v);
}
void TCustomBarSeries::SetUseYOrigin(bool v) { Store(use_y_origin_, v); }
void TCustomBarSeries::SetYOrigin(double v) { Store(y_origin_, v); }

void TCustomBarSeries::SetMultiBar(TMultiBar v) {
  multi_bar_ = v;
  for (TCustomBarSeries* s : SameKindSeries()) s->multi_bar_ = v;
  Repaint();
}

void TCustomBarSeries::SetSideMargins(bool v) {
  side_margins_ = v;
  for (TCustomBarSeries* s : SameKindSeries()) s->side_margins_ = v;
  Repaint();
}

std::vector<TCustomBarSeries*> TCustomBarSeries::SameKindSeries() const {
  std::vector<TCustomBarSeries*> out;
  const TCustomAxisPanel* chart = ParentChart();
  if (!chart) return out;
  for (int i = 0; i < chart->SeriesCount(); ++i) {
    auto* s = dynamic_cast<TCustomBarSeries*>(chart->Series(i));
    if (s && SameKindAs(*s)) out.push_back(s);
  }
  return out;
}

bool TCustomBarSeries::SameKindAs(const TChartSeries& other) const {
  return dynamic_cast<const TCustomBarSeries*>(&other) != nullptr && TChartSeries::SameKindAs(other);
}

void TCustomBarSeries::Assign(const TCustomBarSeries& other) {
  bar_width_percent_ = other.bar_width_percent_;
  bar_style_ = other.bar_style_;
  use_y_origin_ = other.use_y_origin_;
  y_origin_ = other.y_origin_;
  bar_pen_.Assign(other.bar_pen_);
  bar_brush_.Assign(other.bar_brush_);
  multi_bar_ = other.multi_bar_;
  custom_bar_size_ = other.custom_bar_size_;
  side_margins_ = other.side_margins_;
  dark_3d_ = other.dark_3d_;
  offset_percent_ = other.offset_percent_;
  auto_mark_position_ = other.auto_mark_position_;
}

// ---------------------------------------------------------------------------
// Arithmetic

int TCustomBarSeries::NumBars() const {
  if (multi_bar_ != mbSide) return 1;
  int n = 0;
  for (const TCustomBarSeries* s : SameKindSeries()) n += s->Active() ? 1 : 0;
  return std::max(n, 1);
}

int TCustomBarSeries::BarOrder() const {
  int order = 1;
  for (const TCustomBarSeries* s : SameKindSeries()) {
    if (s == this) break;
    if (s->Active()) ++order;
  }
  return order;
}

void TCustomBarSeries::CalcBarWidth() {
  if (custom_bar_size_ != 0) {
    bar_width_ = custom_bar_size_;
    return;
  }
  int n = Count();
  if (multi_bar_ == mbSide) {
    for (const TCustomBarSeries* s : SameKindSeries()) {
      if (s->Active()) n = std::max(n, s->Count());
    }
  }
  if (ParentChart() && ParentChart()->MaxPointsPerPage() > 0) n = ParentChart()->MaxPointsPerPage();
  if (n < 1) {
    bar_width_ = 0;
    return;
  }
  if (side_margins_) ++n;
  bar_width_ = RoundHalfEven(SizePerPoint(n) * (bar_width_percent_ * 0.01)) / NumBars();
  if (bar_width_ % 2 != 0) ++bar_width_;
}

int TCustomBarSeries::CategoryOffset() const {
  int shift;
  if (multi_bar_ == mbSide) {
    shift = RoundHalfEven((Vertical() ? BarOrder() - NumBars() * 0.5 - 1 : NumBars() * 0.5 - BarOrder()) * bar_width_);
  } else {
    shift = -(bar_width_ / 2);
  }
  if (offset_percent_ != 0) shift += RoundHalfEven(offset_percent_ * bar_width_ / 100.0);
  return shift;
}

double TCustomBarSeries::PointOrigin(int index, bool sumAll) const {
  if (multi_bar_ == mbNone || multi_bar_ == mbSide) return y_origin_;
  return TChartSeries::PointOrigin(index, sumAll);
}

double TCustomBarSeries::ValueExtent(double own, bool maximum) const {
  if (multi_bar_ == mbStacked100) return maximum ? 100 : 0;
  const auto further = [maximum](double a, double b) { return maximum ? std::max(a, b) : std::min(a, b); };
  double result = own;
  if (multi_bar_ == mbStacked) {
    // Stacks grow both ways (negative values downwards): the scale must reach their ends.
    for (int i = 0; i < Count(); ++i) {
      result = further(result, PointOrigin(i, false) + (Vertical() ? YValue(i) : XValue(i)));
    }
  }
  if (use_y_origin_) result = further(result, y_origin_);
  return result;
}

int TCustomBarSeries::ValuePos(double value) const { return Vertical() ? CalcYPosValue(value) : CalcXPosValue(value); }

int TCustomBarSeries::StackedPos(int index, double ownValue) const {
  if (multi_bar_ == mbStacked) return ValuePos(PointOrigin(index, false) + ownValue);
  // Stacked to 100 %: a category whose total is 0 has nothing to share out;
  // its bars collapse onto the zero line.
  const double total = PointOrigin(index, true);
  if (total == 0) return ValuePos(0);
  return ValuePos((PointOrigin(index, false) + ownValue) * 100 / total);
}

int TCustomBarSeries::ValueEndPos(int index) const {
  if (multi_bar_ == mbNone || multi_bar_ == mbSide) {
    return Vertical() ? TChartSeries::CalcYPos(index) : TChartSeries::CalcXPos(index);
  }
  return StackedPos(index, MarkValue(index));
}

int TCustomBarSeries::GetOriginPos(int valueIndex) const {
  if (multi_bar_ == mbStacked || multi_bar_ == mbStacked100) return StackedPos(valueIndex, 0);
  if (use_y_origin_) return ValuePos(y_origin_);
  if (!ParentChart()) return 0;
  return Vertical() ? ParentChart()->PlotRect().Bottom : ParentChart()->PlotRect().Left;
}

TBarStyle TCustomBarSeries::GetBarStyle(int valueIndex) {
  TBarStyle style = bar_style_;
  if (OnGetBarStyle) OnGetBarStyle(*this, valueIndex, style);
  return style;
}

void TCustomBarSeries::CalcZOrder() {
  if (multi_bar_ != mbNone && ParentChart()) {
    // Same-kind bars share the depth of the first active one.
    for (const TCustomBarSeries* s : SameKindSeries()) {
      if (s == this) break;
      if (s->Active()) {
        SetZOrder(s->ZOrder());
        return;
      }
    }
  }
  TChartSeries::CalcZOrder();
}

bool TCustomBarSeries::DrawValuesForward() const {
  const TChartAxis* category = Vertical() ? GetHorizAxis() : GetVertAxis();
  return !(category && category->Inverted());
}

bool TCustomBarSeries::DrawSeriesForward(int index) const {
  if (multi_bar_ == mbNone || multi_bar_ == mbSide) return true;
  const TChartAxis* valueAxis = Vertical() ? GetVertAxis() : GetHorizAxis();
  const bool inverted = valueAxis && valueAxis->Inverted();
  return MarkValue(index) < 0 ? inverted : !inverted;
}

// ---------------------------------------------------------------------------
// Margins

int TCustomBarSeries::CategoryMargin() {
  CalcBarWidth();
  int m = bar_width_ * NumBars();
  if (!side_margins_) m /= 2;
  return m;
}

int TCustomBarSeries::MarkRoom() {
  if (Count() == 0 || !marks_.Visible() || !ParentChart()) return 0;
  SelectFont(ParentCanvas(), marks_.Font());
  int room = MarkExtentAll() + marks_.ArrowLength();
  if (marks_.Frame().Visible()) room += 2 * marks_.Frame().Width();
  return room > 0 ? room + 1 : room;
}

void TCustomBarSeries::ValueMargins(int& low, int& high, bool inverted, int depthExtra) {
  // low: the room before the origin side (bottom / left), high: beyond the
  // value ends (top / right).
  const int room = MarkRoom();
  const double maxValue = Vertical() ? MaxYValue() : MaxXValue();
  const double minValue = Vertical() ? MinYValue() : MinXValue();
  if (!(use_y_origin_ && maxValue <= y_origin_)) {
    if (inverted)
      low += depthExtra + room;
    else
      high += room;
  }
  if (use_y_origin_ && minValue < y_origin_) low += room;
}

// ---------------------------------------------------------------------------
// Drawing

void TCustomBarSeries::DrawValue(int valueIndex) {
  const TColor colour = ValueColor(valueIndex);
  if (colour == clNone || !ParentChart()) return;
  bar_color_ = colour;
  if (Vertical()) {
    bar_bounds_.Left = CalcXPos(valueIndex);
    bar_bounds_.Right = bar_bounds_.Left + bar_width_;
    bar_bounds_.Top = CalcYPos(valueIndex);
    bar_bounds_.Bottom = GetOriginPos(valueIndex);
    DrawBar(valueIndex, std::min(bar_bounds_.Top, bar_bounds_.Bottom), std::max(bar_bounds_.Top, bar_bounds_.Bottom));
  } else {
    bar_bounds_.Top = CalcYPos(valueIndex);
    bar_bounds_.Bottom = bar_bounds_.Top + bar_width_;
    bar_bounds_.Right = CalcXPos(valueIndex);
    bar_bounds_.Left = GetOriginPos(valueIndex);
    DrawBar(valueIndex, std::min(bar_bounds_.Left, bar_bounds_.Right), std::max(bar_bounds_.Left, bar_bounds_.Right));
  }
}

void TCustomBarSeries::PrepareBarCanvas() {
  TChartCanvas3D& canvas = ParentCanvas();
  canvas.AssignPen(bar_pen_);
  if (bar_brush_.Image()) {
    canvas.Brush() = bar_brush_.Brush();
    return;
  }
  PrepareFillBrush(bar_color_, bar_brush_.Style(), bar_brush_.Color());
}

void TCustomBarSeries::BarRectangle(int left, int top, int right, int bottom) {
  TChartCanvas3D& canvas = ParentCanvas();
  if (bar_brush_.Style() == platform::bsSolid) {
    const auto penInBarColour = [&] {
      canvas.Pen().Color = canvas.Brush().Color;
      if (canvas.Pen().Style == platform::psClear) canvas.Pen().Style = platform::psSolid;
    };
    if (right == left || bottom == top) {
      penInBarColour();
      canvas.Line(left, top, right, bottom);
    } else if (canvas.Pen().Width > std::abs(right - left) || canvas.Pen().Width > std::abs(bottom - top)) {
      // A bar thinner than its outline: drawn as the outline, in the bar colour.
      penInBarColour();
      canvas.Brush().Style = platform::bsClear;
    }
  }
  canvas.Rectangle(left, top, right, bottom);
}

void TCustomBarSeries::PrepareLegendCanvas(int /*valueIndex*/, TColor& backColor, platform::TBrushStyle& style) {
  if (!ParentChart()) return;
  TChartCanvas3D& canvas = ParentCanvas();
  canvas.AssignPen(bar_pen_);
  style = bar_brush_.Style();
  backColor = bar_brush_.Color() == clAutomatic ? ParentChart()->Color() : bar_brush_.Color();
  canvas.Brush().Image = bar_brush_.Image();
}

void TCustomBarSeries::DrawBarShape(int valueIndex, int startPos, int endPos) {
  TChartCanvas3D& canvas = ParentCanvas();
  TCustomAxisPanel& chart = *ParentChart();
  PrepareBarCanvas();
  const TBarStyle style = GetBarStyle(valueIndex);
  const bool vertical = Vertical();
  // The bar's rectangle with its value extent ordered: S..E along the value
  // axis, the bar's thickness across it.
  TRect r = bar_bounds_;
  if (vertical) {
    r.Top = startPos;
    r.Bottom = endPos;
  } else {
    r.Left = startPos;
    r.Right = endPos;
  }
  const int S = startPos;
  const int E = endPos;
  const int z0 = StartZ();
  const int z1 = EndZ();
  const int zm = MiddleZ();
  const bool view3D = chart.View3D();
  const int middle = vertical ? (r.Left + r.Right) / 2 : (r.Top + r.Bottom) / 2;
  const int thickness = vertical ? r.Right - r.Left : r.Bottom - r.Top;

  switch (style) {
    case bsRectangle:
    case bsCilinder:
      if (!view3D) {
        BarRectangle(r.Left, r.Top, r.Right, r.Bottom);
      } else if (style == bsRectangle) {
        if (vertical)
          canvas.Cube(r.Left, r.Right, S, E, z0, z1, dark_3d_);
        else
          canvas.Cube(S, E, r.Top, r.Bottom, z0, z1, dark_3d_);
      } else {
        canvas.Cylinder(vertical, r.Left, r.Top, r.Right, r.Bottom, z0, z1, dark_3d_);
      }
      break;
    case bsPyramid:
    case bsInvPyramid: {
      const bool inverted = style == bsInvPyramid;
      if (view3D) {
        if (vertical) {
          canvas.Pyramid(true, r.Left, inverted ? E : S, r.Right, inverted ? S : E, z0, z1, dark_3d_);
        } else {
          canvas.Pyramid(false, inverted ? E : S, r.Top, inverted ? S : E, r.Bottom, z0, z1, dark_3d_);
        }
      } else {
        const int base = inverted ? S : E;
        const int apex = inverted ? E : S;
        if (vertical) {
          const TPoint pts[] = {{r.Left, base}, {middle, apex}, {r.Right, base}};
          canvas.Polygon(pts);
        } else {
          // Horizontal bars grow to the right: the apex lies at the far end.
          const int hbase = inverted ? E : S;
          const int happex = inverted ? S : E;
          const TPoint pts[] = {{hbase, r.Top}, {happex, middle}, {hbase, r.Bottom}};
          canvas.Polygon(pts);
        }
      }
      break;
    }
    case bsEllipse:
      if (view3D)
        canvas.EllipseWithZ(r.Left, r.Top, r.Right, r.Bottom, zm);
      else
        canvas.Ellipse(r.Left, r.Top, r.Right, r.Bottom);
      break;
    case bsArrow:
      if (vertical) {
        canvas.Arrow(true, TPoint{middle, E}, TPoint{middle, S}, thickness, thickness / 2, zm);
      } else {
        canvas.Arrow(true, TPoint{S, middle}, TPoint{E, middle}, thickness, thickness / 2, zm);
      }
      break;
    case bsRectGradient: {
      const TGradientDirection direction = vertical ? gdBottomTop : gdLeftRight;
      if (view3D) {
        if (vertical)
          canvas.Cube(r.Left, r.Right, S, E, z0, z1, dark_3d_);
        else
          canvas.Cube(S, E, r.Top, r.Bottom, z0, z1, dark_3d_);
        if (chart.View3DOptions().Orthogonal()) {
          const TPoint a = canvas.ProjectPoint(r.Left, r.Top, z0);
          const TPoint b = canvas.ProjectPoint(r.Right, r.Bottom, z0);
          canvas.GradientFill(TRect{a.X, a.Y, b.X, b.Y}, clWhite, bar_color_, direction);
        }
      } else {
        canvas.GradientFill(r, clWhite, bar_color_, direction);
      }
      break;
    }
  }
}

// ---------------------------------------------------------------------------
// TBarSeries

TBarSeries::TBarSeries() { y_values_.SetName("Balken"); }

void TBarSeries::SetCustomBarWidth(int v) { Store(custom_bar_size_, v); }

int TBarSeries::MarkExtent(int /*valueIndex*/) { return ParentCanvas().FontHeight(); }
int TBarSeries::MarkExtentAll() { return MarkExtent(0); }

int TBarSeries::SizePerPoint(int n) const { return n > 0 && ParentChart() ? ParentChart()->PlotWidth() / n : 0; }

int TBarSeries::CalcXPos(int index) const { return TChartSeries::CalcXPos(index) + CategoryOffset(); }
int TBarSeries::CalcYPos(int index) const { return ValueEndPos(index); }

double TBarSeries::MaxYValue() const { return ValueExtent(TChartSeries::MaxYValue(), true); }
double TBarSeries::MinYValue() const { return ValueExtent(TChartSeries::MinYValue(), false); }

void TBarSeries::AskHorizMargins(int& left, int& right) { left = right = CategoryMargin(); }

void TBarSeries::AskVertMargins(int& top, int& bottom) {
  top = bottom = 0;
  const TChartAxis* axis = GetVertAxis();
  const int depth = ParentChart() ? ParentChart()->SeriesHeight3D() : 0;
  // "low" is the bottom room, "high" the top room.
  ValueMargins(bottom, top, axis && axis->Inverted(), depth);
}

void TBarSeries::DrawMark(int index, const std::string& text, TSeriesMarkPosition& position) {
  const int half = BarWidth() / 2;
  int d = marks_.ArrowLength();
  // A bar hanging below its base gets its mark below the bar's end.
  if (GetOriginPos(index) < position.ArrowFrom.Y) d = -marks_.ArrowLength() - position.Height;
  position.LeftTop.X += half;
  position.LeftTop.Y -= d;
  position.ArrowTo.X += half;
  position.ArrowTo.Y -= d;
  position.ArrowFrom.X += half;
  TChartSeries::DrawMark(index, text, position);
}

// ---------------------------------------------------------------------------
// THorizBarSeries

THorizBarSeries::THorizBarSeries() {
  x_values_.SetName("Balken");
  x_values_.SetOrder(loNone);
}

void THorizBarSeries::SetCustomBarHeight(int v) { Store(custom_bar_size_, v); }

int THorizBarSeries::MarkExtent(int valueIndex) {
  TChartCanvas3D& canvas = ParentCanvas();
  int widest = 0;
  for (const std::string& line : axis_math::SplitLines(marks_.MarkText(valueIndex)))
    widest = std::max(widest, canvas.TextWidth(line));
  return widest;
}

int THorizBarSeries::MarkExtentAll() {
  int widest = 0;
  for (int i = 0; i < Count(); ++i) widest = std::max(widest, MarkExtent(i));
  return widest;
}

int THorizBarSeries::SizePerPoint(int n) const {
  return n > 0 && ParentChart() ? ParentChart()->PlotHeight() / n : 0;
}

int THorizBarSeries::CalcXPos(int index) const { return ValueEndPos(index); }
int THorizBarSeries::CalcYPos(int index) const { return TChartSeries::CalcYPos(index) + CategoryOffset(); }

double THorizBarSeries::MaxXValue() const { return ValueExtent(TChartSeries::MaxXValue(), true); }
double THorizBarSeries::MinXValue() const { return ValueExtent(TChartSeries::MinXValue(), false); }

void THorizBarSeries::AskHorizMargins(int& left, int& right) {
  left = right = 0;
  const TChartAxis* axis = GetHorizAxis();
  ValueMargins(left, right, axis && axis->Inverted(), 0);
}

void THorizBarSeries::AskVertMargins(int& top, int& bottom) { top = bottom = CategoryMargin(); }

void THorizBarSeries::DrawMark(int index, const std::string& text, TSeriesMarkPosition& position) {
  const int half = BarWidth() / 2;
  int d = marks_.ArrowLength();
  // A bar growing to the left of its base gets its mark left of the bar's end.
  if (GetOriginPos(index) > position.ArrowFrom.X) d = -marks_.ArrowLength() - position.Width;
  position.LeftTop.X += d + position.Width / 2;
  position.LeftTop.Y += half + position.Height / 2;
  position.ArrowTo.X += d;
  position.ArrowTo.Y += half;
  position.ArrowFrom.Y += half;
  TChartSeries::DrawMark(index, text, position);
}
