#include "chart/series_kinds.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

template <class T>
void Store(T& field, T value, const TChartSeries& series) {
  if (field == value) return;
  field = value;
  series.Repaint();
}

}  // namespace

// ===========================================================================
// TSeriesPointer

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

// ===========================================================================
// TCustomSeries

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

TLineSeries::TLineSeries() {
  draw_line_ = true;
  pointer_.SetVisible(false);
}
bool TLineSeries::SameKindAs(const TChartSeries& other) const {
  return dynamic_cast<const TLineSeries*>(&other) != nullptr;
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

void TAreaSeries::CalcZOrder() {
  if (multi_area_ != maNone && ParentChart() && ParentChart()->View3D() && ParentChart()->TopZSlot() >= 0) {
    // A stacked area shares the depth of the series before it; the first
    // series of all claims a slot of its own.
    SetZOrder(ParentChart()->TopZSlot());
    return;
  }
  TCustomSeries::CalcZOrder();
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

bool TPointSeries::SameKindAs(const TChartSeries& other) const {
  return dynamic_cast<const TPointSeries*>(&other) != nullptr;
}

// ===========================================================================
// TFastLineSeries

TFastLineSeries::TFastLineSeries() {
  draw_between_points_ = true;
  // The pen's colour and SeriesColor follow each other.
  line_pen_.OnChange = [this] {
    if (line_pen_.Color() != SeriesColor()) TChartSeries::SetSeriesColor(line_pen_.Color());
    Repaint();
  };
}

void TFastLineSeries::SetLinePen(const TChartPen& p) {
  line_pen_.Assign(p);
  SetSeriesColor(line_pen_.Color());
}

void TFastLineSeries::SetSeriesColor(TColor colour) {
  TChartSeries::SetSeriesColor(colour);
  if (line_pen_.Color() != colour) line_pen_.SetColor(colour);
}

bool TFastLineSeries::SameKindAs(const TChartSeries& other) const {
  return dynamic_cast<const TFastLineSeries*>(&other) != nullptr;
}

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

// ===========================================================================
// TPieSeries

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

void TPieSeries::ClearLists() {
  TCircledSeries::ClearLists();
  exploded_slices_.clear();
}

void TPieSeries::DoBeforeDrawChart() {
  // The other slice of the previous drawing goes first.
  if (const int other = x_values_.Locate(kOtherSliceValue); other >= 0) Delete(other);
  double plainSum = 0;
  for (int i = 0; i < Count(); ++i) {
    x_values_.SetValue(i, i);
    plainSum += y_values_.Value(i);
  }
  y_values_.SetAbsoluteTotal(plainSum);
  y_values_.RecalcMinMax();
  if (other_slice_.Style() == poNone) return;
  // Percentages of a zero total do not exist: nothing is folded then.
  if (other_slice_.Style() == poBelowPercent && plainSum == 0) return;

  double sum = 0;
  for (int i = 0; i < Count(); ++i) {
    double v = y_values_.Value(i);
    if (other_slice_.Style() == poBelowPercent) v = v * 100 / plainSum;
    if (v < other_slice_.Value()) {
      sum += y_values_.Value(i);
      x_values_.SetValue(i, kFoldedValue);
    }
  }
  if (sum != 0) {
    AddPoint(kOtherSliceValue, sum, other_slice_.Text(), clAutomatic);
    // The real values are still counted once each.
    y_values_.SetAbsoluteTotal(y_values_.AbsoluteTotal() - sum);
  }
}

int TPieSeries::CountLegendItems() const {
  int n = 0;
  for (int i = 0; i < Count(); ++i)
    if (x_values_.Value(i) != kFoldedValue) ++n;
  return n;
}

int TPieSeries::LegendToValueIndex(int legendIndex) const {
  int n = -1;
  for (int i = 0; i < Count(); ++i) {
    if (x_values_.Value(i) == kFoldedValue) continue;
    if (++n == legendIndex) return i;
  }
  return legendIndex;
}

bool TPieSeries::SameKindAs(const TChartSeries& other) const {
  return dynamic_cast<const TPieSeries*>(&other) != nullptr;
}
