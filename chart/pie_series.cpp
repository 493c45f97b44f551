#include "chart/pie_series.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "chart/axis.h"
#include "chart/axis_math.h"
#include "chart/chart_font.h"

namespace {

// Hatches of the slices with UsePatterns, repeating.
constexpr platform::TBrushStyle kSlicePatterns[] = {platform::bsHorizontal, platform::bsVertical,
                                                    platform::bsFDiagonal,  platform::bsBDiagonal,
                                                    platform::bsCross,      platform::bsDiagCross};
platform::TBrushStyle SlicePattern(int index) { return kSlicePatterns[index % 6]; }

}  // namespace

// ===========================================================================
// TCircledSeries

TCircledSeries::TCircledSeries() {
  x_values_.SetName("Winkel");
  draw_all_values_ = true;
}

void TCircledSeries::SetCircleBackColor(TColor v) { Store(circle_back_color_, v, *this); }

TColor TCircledSeries::ResolvedCircleBackColor() const {
  if (circle_back_color_ != clAutomatic) return circle_back_color_;
  const TCustomAxisPanel* chart = ParentChart();
  if (!chart) return clWhite;
  if (chart->BackColor() != clAutomatic) return chart->BackColor();
  return chart->Color();
}

template <class Fn>
void TCircledSeries::ForSameClassSeries(Fn fn) {
  TCustomAxisPanel* chart = ParentChart();
  if (!chart) {
    fn(*this);
    return;
  }
  for (int i = 0; i < chart->SeriesCount(); ++i) {
    TChartSeries* s = chart->Series(i);
    // This class or one of its ancestors: the other series is a base of ours.
    if (auto* circled = dynamic_cast<TCircledSeries*>(s); circled && circled->SameKindAs(*this)) fn(*circled);
  }
}

void TCircledSeries::SetCircled(bool v) {
  ForSameClassSeries([v](TCircledSeries& s) { s.circled_ = v; });
  Repaint();
}

void TCircledSeries::SetCustomXRadius(int v) {
  ForSameClassSeries([v](TCircledSeries& s) { s.custom_x_radius_ = v; });
  Repaint();
}

void TCircledSeries::SetCustomYRadius(int v) {
  ForSameClassSeries([v](TCircledSeries& s) { s.custom_y_radius_ = v; });
  Repaint();
}

void TCircledSeries::SetRotationAngle(int a) {
  if (a < 0) throw PieException("Drehung-Winkel muß zwischen 0 und 359 Grad liegen.");
  rotation_angle_ = a % 360;
  rotation_ = rotation_angle_ * std::numbers::pi / 180.0;
  Repaint();
}

void TCircledSeries::SetParentProperties(bool enable) {
  TCustomAxisPanel* chart = ParentChart();
  if (!chart || chart->Destroying()) return;
  chart->SetAxisVisible(enable);
  chart->SetClipPoints(enable);
  chart->SetView3DWalls(enable);
  if (auto* custom = dynamic_cast<TCustomChart*>(chart)) {
    custom->Frame().SetVisible(enable);
    custom->BackWall().Brush().SetStyle(enable ? platform::bsSolid : platform::bsClear);
  }
  TView3DOptions& view = chart->View3DOptions();
  view.SetOrthogonal(false);
  view.SetRotation(360);
  view.SetElevation(315);
  view.SetTilt(0);
}

void TCircledSeries::SetActive(bool value) {
  if (value == Active()) return;
  TChartSeries::SetActive(value);
  SetParentProperties(!value);
}

void TCircledSeries::SetParentChart(TCustomAxisPanel* chart) {
  if (chart == ParentChart()) return;
  // The chart left behind gets its axes and walls back.
  if (ParentChart()) SetParentProperties(true);
  TChartSeries::SetParentChart(chart);
  if (chart) SetParentProperties(false);
}

double TCircledSeries::MaxXValue() const { return GetHorizAxis() ? GetHorizAxis()->Maximum() : 0; }
double TCircledSeries::MinXValue() const { return GetHorizAxis() ? GetHorizAxis()->Minimum() : 0; }
double TCircledSeries::MaxYValue() const { return GetVertAxis() ? GetVertAxis()->Maximum() : 0; }
double TCircledSeries::MinYValue() const { return GetVertAxis() ? GetVertAxis()->Minimum() : 0; }

void TCircledSeries::DoBeforeDrawValues() {
  TChartSeries::DoBeforeDrawValues();
  TCustomAxisPanel* chart = ParentChart();
  if (!chart) return;
  circle_.Rect = chart->PlotRect();
  pie_math::AdjustCircleRect(circle_);
  if (marks_.Visible()) {
    // Room around the circle for the marks: one "W" and the arrow, and the
    // widest mark text on each side.
    TChartCanvas3D& canvas = ParentCanvas();
    canvas.Font() = ToSurfaceFont(marks_.Font());
    const int frame = marks_.Frame().Visible() ? 2 * marks_.Frame().Width() : 0;
    const int h = canvas.FontHeight() + marks_.ArrowLength() + frame;
    int widest = 0;
    for (int s = 0; s < chart->SeriesCount(); ++s) {
      const TChartSeries& series = *chart->Series(s);
      if (!series.Active() || !series.Marks().Visible()) continue;
      for (int i = 0; i < series.Count(); ++i)
        for (const std::string& line : axis_math::SplitLines(series.Marks().MarkText(i)))
          widest = std::max(widest, canvas.TextWidth(line));
    }
    const int w = canvas.TextWidth("W") + widest + marks_.ArrowLength() + frame;
    circle_.Rect.Top += h;
    circle_.Rect.Bottom -= h;
    circle_.Rect.Left += w;
    circle_.Rect.Right -= w;
    pie_math::AdjustCircleRect(circle_);
  }
  if (circled_) {
    // Square pixels: a true circle has equal radii.
    pie_math::CalcRadius(circle_, custom_x_radius_, custom_y_radius_);
    if (circle_.XRadius > circle_.YRadius) {
      const int d = circle_.XRadius - circle_.YRadius;
      circle_.Rect.Left += d;
      circle_.Rect.Right -= d;
    } else {
      const int d = circle_.YRadius - circle_.XRadius;
      circle_.Rect.Top += d;
      circle_.Rect.Bottom -= d;
    }
    pie_math::AdjustCircleRect(circle_);
  }
  pie_math::CalcRadius(circle_, custom_x_radius_, custom_y_radius_);
}

// ===========================================================================
// TPieOtherSlice

void TPieOtherSlice::SetStyle(TPieOtherStyle v) {
  if (style_ != v) { style_ = v; if (owner_) owner_->Repaint(); }
}
void TPieOtherSlice::SetText(std::string v) {
  if (text_ != v) { text_ = std::move(v); if (owner_) owner_->Repaint(); }
}
void TPieOtherSlice::SetValue(double v) {
  if (value_ != v) { value_ = v; if (owner_) owner_->Repaint(); }
}
void TPieOtherSlice::Assign(const TPieOtherSlice& other) {
  style_ = other.style_;
  text_ = other.text_;
  value_ = other.value_;
  if (owner_) owner_->Repaint();
}

// ===========================================================================
// TPieSeries: settings and values

TPieSeries::TPieSeries() {
  x_values_.SetName("");
  y_values_.SetName("Torte");
  SetColorEachPoint(true);
}

void TPieSeries::SetDark3D(bool v) { Store(dark_3d_, v, *this); }
void TPieSeries::SetUsePatterns(bool v) { Store(use_patterns_, v, *this); }

void TPieSeries::SetExplodeBiggest(int v) {
  explode_biggest_ = v;
  const int biggest = y_values_.Count() > 0 ? y_values_.Locate(y_values_.MaxValue()) : -1;
  if (biggest >= 0) SetExplodedSlice(biggest, v);
  Repaint();
}

int TPieSeries::ExplodedSlice(int index) const {
  if (index < 0 || index >= static_cast<int>(exploded_slices_.size())) return 0;
  return exploded_slices_[static_cast<size_t>(index)];
}

void TPieSeries::SetExplodedSlice(int index, int percent) {
  if (index < 0) return;
  if (index >= static_cast<int>(exploded_slices_.size())) exploded_slices_.resize(static_cast<size_t>(index) + 1, 0);
  int& slot = exploded_slices_[static_cast<size_t>(index)];
  if (slot == percent) return;
  slot = percent;
  Repaint();
}

bool TPieSeries::Folded(int index) const { return x_values_.Value(index) == kFoldedValue; }

void TPieSeries::ClearLists() {
  TCircledSeries::ClearLists();
  exploded_slices_.clear();
  angles_.clear();
}

void TPieSeries::DoBeforeDrawChart() {
  // The other slice of the previous drawing goes first.
  if (const int other = x_values_.Locate(kOtherSliceValue); other >= 0) Delete(other);
  // Slices are as wide as their values' magnitudes, so the total that
  // percentages refer to is the absolute one.
  double total = 0;
  for (int i = 0; i < Count(); ++i) {
    x_values_.SetValue(i, i);
    total += std::abs(y_values_.Value(i));
  }
  y_values_.SetAbsoluteTotal(total);
  y_values_.RecalcMinMax();
  if (other_slice_.Style() == poNone) return;
  // Percentages of a zero total do not exist: nothing is folded then.
  if (other_slice_.Style() == poBelowPercent && total == 0) return;

  double sum = 0;
  for (int i = 0; i < Count(); ++i) {
    double v = y_values_.Value(i);
    if (other_slice_.Style() == poBelowPercent) v = v * 100 / total;
    if (v < other_slice_.Value()) {
      sum += y_values_.Value(i);
      x_values_.SetValue(i, kFoldedValue);
    }
  }
  if (sum != 0) {
    AddPoint(kOtherSliceValue, sum, other_slice_.Text(), clAutomatic);
    // The real values are still counted once each.
    y_values_.SetAbsoluteTotal(total);
  }
}

int TPieSeries::CountLegendItems() const {
  int n = 0;
  for (int i = 0; i < Count(); ++i)
    if (!Folded(i)) ++n;
  return n;
}

int TPieSeries::LegendToValueIndex(int legendIndex) const {
  int n = -1;
  for (int i = 0; i < Count(); ++i) {
    if (Folded(i)) continue;
    if (++n == legendIndex) return i;
  }
  return legendIndex;
}

bool TPieSeries::SameKindAs(const TChartSeries& other) const {
  return dynamic_cast<const TPieSeries*>(&other) != nullptr;
}

void TPieSeries::PrepareLegendCanvas(int valueIndex, TColor& backColor, platform::TBrushStyle& style) {
  backColor = ResolvedCircleBackColor();
  if (use_patterns_ && valueIndex >= 0) style = SlicePattern(valueIndex);
}

// ===========================================================================
// TPieSeries: drawing

void TPieSeries::DrawVisibleValues() {
  if (!ParentChart()) return;
  const int count = Count();
  if (explode_biggest_ > 0 && count > 0) {
    const int biggest = y_values_.Locate(y_values_.MaxValue());
    if (biggest >= 0) {
      if (biggest >= static_cast<int>(exploded_slices_.size())) exploded_slices_.resize(biggest + 1, 0);
      exploded_slices_[static_cast<size_t>(biggest)] = explode_biggest_;
    }
  }
  int most = 0;
  int mostIndex = -1;
  for (int i = 0; i < static_cast<int>(exploded_slices_.size()) && i < count; ++i) {
    if (exploded_slices_[static_cast<size_t>(i)] > most) {
      most = exploded_slices_[static_cast<size_t>(i)];
      mostIndex = i;
    }
  }
  std::vector<double> values(static_cast<size_t>(count));
  std::vector<bool> folded(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    values[static_cast<size_t>(i)] = y_values_.Value(i);
    folded[static_cast<size_t>(i)] = Folded(i);
  }
  angles_ = pie_math::SliceAngles(values, folded);
  is_exploded_ = mostIndex >= 0;
  if (is_exploded_) {
    const TPoint shrink = pie_math::ExplodeShrink(circle_, angles_[static_cast<size_t>(mostIndex)].MidAngle, most);
    pie_math::Shrink(circle_, shrink.X, shrink.Y, CustomXRadius(), CustomYRadius());
  }
  slice_start_ = pie_math::AngleToPos(circle_, 0, Rotation(), circle_.XRadius, circle_.YRadius);
  if (ParentChart()->View3D() && is_exploded_) {
    for (int i : pie_math::BackToFrontOrder(angles_, Rotation())) DrawValue(i);
  } else {
    TCircledSeries::DrawVisibleValues();
  }
}

void TPieSeries::DrawValue(int valueIndex) {
  if (circle_.Width < 5 || circle_.Height < 5 || valueIndex < 0 || valueIndex >= static_cast<int>(angles_.size()) ||
      Folded(valueIndex))
    return;
  const TColor colour = ValueColor(valueIndex);
  const TPoint start = slice_start_;
  if (colour == clNone) {
    slice_start_ = pie_math::AngleToPos(circle_, angles_[static_cast<size_t>(valueIndex)].EndAngle, Rotation(),
                                        circle_.XRadius, circle_.YRadius);
    return;
  }
  const TColor back = ResolvedCircleBackColor();
  PrepareFillBrush(colour, use_patterns_ ? SlicePattern(valueIndex) : platform::bsSolid, back);
  DrawPie(valueIndex);
  if (valueIndex >= 16 && PointColor(valueIndex) == clAutomatic && !use_patterns_) {
    // Palette colours repeat after 16 slices: the later ones get a hatch.
    const TPoint end = slice_start_;
    slice_start_ = start;
    PrepareFillBrush(back, platform::bsDiagCross, clAutomatic);
    DrawPie(valueIndex);
    slice_start_ = end;
  }
}

void TPieSeries::DrawPie(int valueIndex) {
  TChartCanvas3D& canvas = ParentCanvas();
  canvas.AssignPen(pie_pen_);
  const pie_math::TPieAngle& a = angles_[static_cast<size_t>(valueIndex)];
  const double rotation = Rotation();
  TPoint offset{};
  if (is_exploded_ && ExplodedSlice(valueIndex) > 0)
    offset = pie_math::ExplodeOffset(circle_, a.MidAngle + rotation, ExplodedSlice(valueIndex));
  // An empty slice draws nothing (a pie with equal rays would be the whole
  // ellipse).
  const bool empty = !(a.EndAngle > a.StartAngle);
  if (ParentChart()->View3D()) {
    if (!empty)
      canvas.Pie3D(circle_.XCenter + offset.X, circle_.YCenter - offset.Y, circle_.XRadius, circle_.YRadius, StartZ(),
                   EndZ(), a.StartAngle + rotation, a.EndAngle + rotation, dark_3d_, is_exploded_);
    return;
  }
  const TPoint end = pie_math::AngleToPos(circle_, a.EndAngle, rotation, circle_.XRadius, circle_.YRadius);
  const TPoint start = slice_start_;
  slice_start_ = end;
  // A sliver narrower than a pixel has equal rays too.
  if (empty || (start == end && a.EndAngle - a.StartAngle < std::numbers::pi)) return;
  const TRect& r = circle_.Rect;
  canvas.Pie(r.Left + offset.X, r.Top - offset.Y, r.Right + offset.X, r.Bottom - offset.Y, start.X + offset.X,
             start.Y - offset.Y, end.X + offset.X, end.Y - offset.Y);
}

void TPieSeries::DrawMark(int index, const std::string& text, TSeriesMarkPosition& position) {
  if (index < 0 || index >= static_cast<int>(angles_.size()) || Folded(index)) return;
  TChartCanvas3D& canvas = ParentCanvas();
  const pie_math::TPieMarkPlace place = pie_math::PieMarkPlace(
      circle_, angles_[static_cast<size_t>(index)].MidAngle, Rotation(), ExplodedSlice(index), marks_.ArrowLength(),
      canvas.TextWidth("W"), canvas.FontHeight(), position.Width, position.Height);
  position.ArrowFrom = place.ArrowFrom;
  position.ArrowTo = place.ArrowTo;
  position.LeftTop = place.LeftTop;
  marks_.SetZPosition(EndZ());
  TChartSeries::DrawMark(index, text, position);
}
